// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/newsoutbox.h"

#include "storage/taskdatabase.h"
#include "tests/support/testserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {
class MovedClock : public Clock
{
public:
    QDateTime now() const override { return at; }
    QDateTime at = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
};
} // namespace

class TestNewsOutbox : public QObject
{
    Q_OBJECT

private slots:
    void retryWait_data()
    {
        QTest::addColumn<int>("attempts");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("first") << 1 << qint64(30);
        QTest::newRow("second") << 2 << qint64(60);
        QTest::newRow("seventh") << 7 << qint64(1920);
        QTest::newRow("capped") << 8 << qint64(3600);
        QTest::newRow("long after") << 200 << qint64(3600);
    }
    void retryWait()
    {
        QFETCH(int, attempts);
        QFETCH(qint64, seconds);
        QCOMPARE(NewsOutbox::retryWait(attempts), seconds * 1000);
    }

    // The receiver is down for the first try, the program restarts, the receiver comes up: the event arrives
    // once, with the id it was written with, and not before its wait is over.
    void deliveredOnceAcrossRestart()
    {
        QTemporaryDir dir;
        TestServer receiver;
        QVERIFY(receiver.listen());
        receiver.setStatus("/hook", 503);
        MovedClock clock;
        Task task(4, {"Jobs", "http://jobs.example/", "engineer", 3600, {}});
        const QList<NewsDestination> to{{NewsDestination::Kind::Post, receiver.url("/hook").toString(), {}, false}};
        QString eventId;
        {
            TaskDatabase db(dir.filePath("task.db"));
            NewsOutbox outbox(db.news());
            outbox.setClock(&clock);
            outbox.setDestinations(to);
            Task::ResultList results;
            results.append(Task::ResultPtr::create(
                Task::TaskResult{4, clock.at.date(), "Senior engineer", "http://jobs.example/1", StateNew}));
            const QList<OutboxEvent> events = outbox.eventsFor(task, results);
            QCOMPARE(events.size(), 1);
            eventId = events.first().eventId;
            QVERIFY(db.news().add(events));
            QSignalSpy failed(&outbox, &NewsOutbox::deliveryFailed);
            outbox.deliverDue();
            QTRY_COMPARE(failed.size(), 1);
            QVERIFY2(outbox.failureOf(4).contains("failed: 503; next try at"), qPrintable(outbox.failureOf(4)));
            QCOMPARE(db.news().events()->first().nextTry, clock.at.toMSecsSinceEpoch() + 30000);
        }
        receiver.setStatus("/hook", 204);
        TaskDatabase db(dir.filePath("task.db"));
        NewsOutbox outbox(db.news());
        outbox.setClock(&clock);
        QSignalSpy delivered(&outbox, &NewsOutbox::delivered);
        outbox.deliverDue();
        QTest::qWait(200);
        QCOMPARE(receiver.hits("/hook"), 1); // still waiting its 30 s
        clock.at = clock.at.addSecs(31);
        outbox.deliverDue();
        QTRY_COMPARE(delivered.size(), 1);
        QTest::qWait(200);
        QCOMPARE(receiver.hits("/hook"), 2);
        QCOMPARE(db.news().events()->size(), 0);
        const QJsonObject body = QJsonDocument::fromJson(receiver.lastBody("/hook")).object();
        QCOMPARE(body["event_id"].toString(), eventId);
        QCOMPARE(body["kind"].toString(), QString("news"));
        QCOMPARE(body["task"]["keyword"].toString(), QString("engineer"));
        QCOMPARE(body["links"][0]["link"].toString(), QString("http://jobs.example/1"));
        QCOMPARE(body["at"].toString(), QString("2026-03-01T10:00:00Z"));
    }

    // A task's own choice wins over the options; "nowhere else" sends nothing.
    void destinationsOfTask_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("targets");
        QTest::newRow("as in Options") << "" << QStringList{"notify-send"};
        QTest::newRow("nowhere else") << "none" << QStringList{};
        QTest::newRow("its own") << "own" << QStringList{"mine", "https://push.example/t"};
    }
    void destinationsOfTask()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, targets);
        QTemporaryDir dir;
        TaskDatabase db(dir.filePath("task.db"));
        NewsOutbox outbox(db.news());
        outbox.setDestinations({{NewsDestination::Kind::Command, "notify-send", {}, false}});
        Task task(1, {"n", "http://a/", "k", 60, {}});
        task.setOptions({{NewsOutbox::NewsToOption, mode},
                         {NewsOutbox::NewsCommandOption, "mine"},
                         {NewsOutbox::NewsPostOption, "https://push.example/t"}});
        QStringList got;
        for (const NewsDestination& destination : outbox.destinationsOf(task))
            got << destination.target;
        QCOMPARE(got, targets);
        // That it needs a look goes the same way, as an event of its own kind with the reason.
        QVERIFY(outbox.eventsFor(task, {}).isEmpty());
        const QList<OutboxEvent> broken = outbox.brokenEventsFor(task, "the page moved");
        QCOMPARE(broken.size(), targets.size());
        for (const OutboxEvent& event : broken) {
            const QJsonObject body = QJsonDocument::fromJson(event.payload.toUtf8()).object();
            QCOMPARE(body["kind"].toString(), QString("broken"));
            QCOMPARE(body["reason"].toString(), QString("the page moved"));
            QCOMPARE(body["links"].toArray().size(), 0);
            QCOMPARE(NewsOutbox::messageOf(event.payload.toUtf8()).text,
                     QString("Task n needs a look: the page moved"));
        }
    }
};

QTEST_GUILESS_MAIN(TestNewsOutbox)
#include "tst_newsoutbox.moc"
