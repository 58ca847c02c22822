// SPDX-License-Identifier: GPL-3.0-or-later
// What the checking core asks of servers: each task's own headers on its requests only, validators kept in
// task.db (across a restart) and sent by the checks but not by Reset, 304 as a check that found nothing,
// failing tasks checked less often by the injected clock, and header values kept out of the debug output.
#include "core/logging.h"
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QSignalSpy>
#include <QTest>

namespace {
const QByteArray Secret = "session=Zq9-very-secret";

QStringList g_messages;
QMutex g_messagesMutex;
void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&g_messagesMutex);
    g_messages.append(message);
}
void everyCategoryOn(QLoggingCategory* category)
{
    category->setEnabled(QtDebugMsg, true);
    category->setEnabled(QtInfoMsg, true);
}

QHash<QString, QString> cookieOptions()
{
    return {
        {QString::fromLatin1(Task::RequestHeadersOption), "Cookie: " + QString::fromLatin1(Secret)},
        {QString::fromLatin1(Task::UserAgentOption), QStringLiteral("Agent/9 (%1)").arg(QString::fromLatin1(Secret))}};
}
} // namespace

class TestRequests : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void headersOfTheirOwnTask()
    {
        TempFolder fixture;
        server.setPage("/own/a", "<a href=\"/l0\">qt 1</a>");
        server.setPage("/own/b", "<a href=\"/l0\">qt 1</a>");
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        const auto a = checker.creator().run({"A", server.url("/own/a").toString(), "qt", 3600, cookieOptions()});
        QCOMPARE(a.outcome, Commands::Outcome::Done);
        QCOMPARE(server.lastHeader("/own/a", "Cookie"), Secret);
        const auto b = checker.creator().run({"B", server.url("/own/b").toString(), "qt", 3600, {}});
        QCOMPARE(b.outcome, Commands::Outcome::Done);
        QCOMPARE(server.lastHeader("/own/b", "Cookie"), QByteArray());
        QCOMPARE(server.lastHeader("/own/b", "User-Agent"), RequestHeaders::defaultUserAgent());

        // Stored with the task, sent again after a restart, to that task only.
        Loaded restarted(fixture);
        QVERIFY(restarted.checker.updater().run().ran);
        QCOMPARE(server.hits("/own/a"), 2);
        QCOMPARE(server.lastHeader("/own/a", "Cookie"), Secret);
        QCOMPARE(server.lastHeader("/own/a", "User-Agent"), "Agent/9 (" + Secret + ")");
        QCOMPARE(server.lastHeader("/own/b", "Cookie"), QByteArray());
    }

    void validatorsRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::addRow("etag") << QByteArray("\"abc\"") << QByteArray();
        QTest::addRow("last-modified") << QByteArray() << QByteArray("Wed, 21 Oct 2026 07:28:00 GMT");
        QTest::addRow("both") << QByteArray("W/\"x1\"") << QByteArray("Wed, 21 Oct 2026 07:28:00 GMT");
    }
    void validatorsRoundTrip()
    {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        TempFolder fixture;
        const QString path = QStringLiteral("/validated/%1").arg(QTest::currentDataTag());
        TestServer::Response response;
        response.body = "<a href=\"/l0\">qt 1</a>";
        response.etag = etag;
        response.lastModified = lastModified;
        server.setResponse(path, response);
        {
            Loaded loaded(fixture);
            TaskChecker& checker = loaded.checker;
            QCOMPARE(checker.creator().run({"A", server.url(path).toString(), "qt", 3600, {}}).outcome,
                     Commands::Outcome::Done);
            QCOMPARE(server.lastHeader(path, "If-None-Match"), QByteArray());
        }
        // After a restart the checks send what the page gave.
        TestClock clock;
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);

        // The page changed meanwhile, but the server says "not modified": a good check that found nothing.
        response.body = "<a href=\"/l0\">qt 2</a>";
        server.setResponse(path, response);
        const Commands::UpdateRun run = checker.updater().run();
        QCOMPARE(server.lastHeader(path, "If-None-Match"), etag);
        QCOMPARE(server.lastHeader(path, "If-Modified-Since"), lastModified);
        QVERIFY(!run.anyNew);
        QCOMPARE(run.failedPages, 0);
        QVERIFY(checker.checks().checkFailure(task).isEmpty());

        // The same for a periodic check.
        clock.at = clock.at.addSecs(3600 * 24);
        checker.periodic().checkDueTasks();
        QTRY_COMPARE(server.hits(path), 3);
        QTRY_COMPARE(checker.fetcher().running(), 0);
        QCOMPARE(found.size(), 0);
        QCOMPARE(texts(task->results()), QStringList{"qt 1"});

        // Reset always reads the whole page, and keeps the validators it gives.
        response.etag = etag.isEmpty() ? QByteArray() : QByteArray("\"new\"");
        server.setResponse(path, response);
        QCOMPARE(checker.resetter().run(task), Commands::Outcome::Done);
        QCOMPARE(server.lastHeader(path, "If-None-Match"), QByteArray());
        QCOMPARE(server.lastHeader(path, "If-Modified-Since"), QByteArray());
        QCOMPARE(texts(task->results()), QStringList{"qt 2"});
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT value FROM task_options WHERE name = 'etag'").value(0),
                 QString::fromLatin1(response.etag));
        checker.updater().run();
        QCOMPARE(server.lastHeader(path, "If-None-Match"), response.etag);
    }

    // Each failure in a row doubles the wait before the next periodic check, up to an hour (or the
    // frequency, when that is longer); the first success returns to the frequency.
    void backoff_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QList<int>>("waits"); // seconds before each next check, failure after failure
        QTest::addRow("one minute") << 60 << QList<int>{120, 240, 480, 960, 1920, 3600, 3600};
        QTest::addRow("forty minutes") << 2400 << QList<int>{3600, 3600};
        QTest::addRow("one day") << 86400 << QList<int>{86400, 86400};
    }
    void backoff()
    {
        QFETCH(int, frequency);
        QFETCH(QList<int>, waits);
        TempFolder fixture;
        const QString path = QStringLiteral("/failing/%1").arg(frequency);
        server.setStatus(path, 404);
        TestClock clock;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", frequency, clock.at.toString(Qt::ISODate));
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        auto checkAt = [&](qint64 seconds) {
            clock.at = task->lastUpdate().addSecs(seconds);
            return !checker.periodic().checkDueTasks().started.isEmpty();
        };

        QVERIFY(checkAt(frequency));
        QTRY_COMPARE(checker.checks().failuresInRow(task), 1);
        for (qsizetype i = 0; i < waits.size(); ++i) {
            QCOMPARE(checker.checks().checkInterval(task), qint64(waits.at(i)));
            QVERIFY2(!checkAt(waits.at(i) - 1), qPrintable(QString::number(i)));
            QVERIFY(checkAt(waits.at(i)));
            QTRY_COMPARE(checker.checks().failuresInRow(task), int(i) + 2);
        }
        // Update Tasks Now tries it whatever the wait.
        const int before = server.hits(path);
        QCOMPARE(checker.updater().run().failedPages, 1);
        QCOMPARE(server.hits(path), before + 1);

        server.setPage(path, "<a href=\"/l0\">qt 1</a>");
        QVERIFY(checkAt(checker.checks().checkInterval(task)));
        QTRY_COMPARE(checker.checks().failuresInRow(task), 0);
        QCOMPARE(checker.checks().checkInterval(task), qint64(frequency));
        QVERIFY(checker.checks().checkFailure(task).isEmpty());
    }

    // A 429 fails the check with the time of the next try; the host's other tasks wait too, other hosts not.
    void busyHostInUpdateAll()
    {
        TempFolder fixture;
        TestServer::Response busy;
        busy.status = 429;
        busy.headers = {{"Retry-After", "600"}};
        server.setResponse("/busy/a", busy);
        server.setPage("/busy/b", "<a href=\"/l0\">qt 1</a>");
        TestServer other;
        QVERIFY(other.listen(QHostAddress("127.0.0.2")));
        other.setPage("/c", "<a href=\"/l0\">qt 1</a>");
        TestClock clock;
        {
            DbFile file(fixture.path("task.db"));
            const QString at = clock.at.toString(Qt::ISODate);
            file.addTask(0, "A", server.url("/busy/a").toString(), "qt", 3600, at);
            file.addTask(1, "B", server.url("/busy/b").toString(), "qt", 3600, at);
            file.addTask(2, "C", QStringLiteral("http://127.0.0.2:%1/c").arg(other.port()), "qt", 3600, at);
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        // B is asked after A has answered: its request waits until then.
        checker.fetcher().setMaxInFlight(1);
        const Commands::UpdateRun run = checker.updater().run();
        QCOMPARE(run.failedPages, 2);
        const QString next = QLocale().toString(clock.at.addSecs(600).time(), QStringLiteral("HH:mm"));
        QCOMPARE(checker.checks().checkFailure(checker.watches().tasks().at(0)),
                 QStringLiteral("HTTP 429, too many requests; next try after %1").arg(next));
        QVERIFY(checker.checks().checkFailure(checker.watches().tasks().at(1)).endsWith("next try after " + next));
        QCOMPARE(server.hits("/busy/b"), 0);
        QVERIFY(checker.checks().checkFailure(checker.watches().tasks().at(2)).isEmpty());
        QCOMPARE(other.hits("/c"), 1);
    }

    void headerValuesNotInTheDebugOutput()
    {
        TempFolder fixture;
        server.setPage("/secret", "<a href=\"/l0\">qt 1</a>");
        QLoggingCategory::CategoryFilter previousFilter = QLoggingCategory::installFilter(everyCategoryOn);
        QtMessageHandler previous = qInstallMessageHandler(collect);
        {
            TestClock clock;
            Loaded loaded(fixture, &clock);
            TaskChecker& checker = loaded.checker;
            checker.creator().run({"A", server.url("/secret").toString(), "qt", 60, cookieOptions()});
            checker.updater().run();
            clock.at = clock.at.addSecs(120);
            checker.periodic().checkDueTasks();
            QTRY_COMPARE(checker.fetcher().running(), 0);
            qCDebug(lcCore) << "the output is collected";
        }
        qInstallMessageHandler(previous);
        QLoggingCategory::installFilter(previousFilter);
        QCOMPARE(server.lastHeader("/secret", "Cookie"), Secret);
        QMutexLocker lock(&g_messagesMutex);
        QVERIFY(g_messages.contains("the output is collected"));
        for (const QString& message : std::as_const(g_messages))
            QVERIFY2(!message.contains(QString::fromLatin1(Secret)), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
