// SPDX-License-Identifier: GPL-3.0-or-later
// The due rule with the user's hours, on the test clock: across midnight, a day left out, a task due just before
// the hours end; the bounds of a varied check; tasks falling due together; update-all ignores the hours.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QRegularExpression>
#include <QTest>

namespace {
// 7 December 2026 is a Monday.
QDateTime at(int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}
const QString Office = QStringLiteral("08:00-18:00 12345");
} // namespace

class TestDueHours : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void dueWithinHours_data()
    {
        QTest::addColumn<QString>("hours"); // of the options
        QTest::addColumn<QString>("own");   // of the task
        QTest::addColumn<QDateTime>("last");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("due");
        QTest::addRow("due inside the hours") << Office << QString() << at(7, 9) << at(7, 10) << at(7, 10);
        QTest::addRow("due at night waits for the morning")
            << Office << QString() << at(7, 17, 30) << at(7, 18, 30) << at(8, 8);
        QTest::addRow("checked when the hours begin") << Office << QString() << at(7, 17, 30) << at(8, 8) << at(8, 8);
        QTest::addRow("due just before the hours end")
            << Office << QString() << at(7, 16, 59, 30) << at(7, 17, 59, 30) << at(7, 17, 59, 30);
        QTest::addRow("the timer came after the end")
            << Office << QString() << at(7, 16, 59, 30) << at(7, 18, 0, 30) << at(8, 8);
        QTest::addRow("a day left out") << Office << QString() << at(11, 17, 30) << at(12, 10) << at(14, 8);
        QTest::addRow("across midnight, before it")
            << QString() << "22:00-06:00 12345" << at(7, 21, 30) << at(7, 22, 30) << at(7, 22, 30);
        QTest::addRow("across midnight, after it")
            << QString() << "22:00-06:00 12345" << at(8, 5, 30) << at(8, 6, 30) << at(8, 22);
        QTest::addRow("a task's own hours replace the options'")
            << Office << "00:00-00:00 67" << at(12, 10) << at(12, 11) << at(12, 11);
    }
    void dueWithinHours()
    {
        QFETCH(QString, hours);
        QFETCH(QString, own);
        QFETCH(QDateTime, last);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, due);
        TempFolder fixture;
        TestClock clock;
        clock.at = now;
        const QString path = QStringLiteral("/hours/") +
                             QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W"), "-");
        server.setPage(path, "<a href=\"/l0\">qt 0</a>");
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", 3600, last.toString(Qt::ISODate));
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        checker.setHours(*CheckHours::fromText(hours));
        Task* task = checker.tasks().at(0);
        if (!own.isEmpty()) {
            QHash<QString, QString> options{{QLatin1String(CheckHours::TaskOption), own}};
            QCOMPARE(checker.editTask(task, "A", task->address(), "qt", 3600, options), TaskChecker::Outcome::Done);
        }
        QCOMPARE(checker.checks().dueTime(task, now), due);
        QCOMPARE(checker.checkDueTasks().started.size(), due <= now ? 1 : 0);
        QTRY_COMPARE(server.hits(path), due <= now ? 1 : 0);
        // Update Tasks Now is the user's own wish: the hours do not hold it back.
        QVERIFY(checker.updateAll().ran);
        QCOMPARE(server.hits(path), due <= now ? 2 : 1);
    }

    void variationBounds_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("span");
        QTest::addRow("a minute: six seconds") << 60 << 6;
        QTest::addRow("ten minutes: one minute") << 600 << 60;
        QTest::addRow("an hour: at most five minutes") << 3600 << 300;
        QTest::addRow("a day: at most five minutes") << 86400 << 300;
        QTest::addRow("five seconds: none") << 5 << 0;
    }
    void variationBounds()
    {
        QFETCH(int, interval);
        QFETCH(int, span);
        qint64 low = 0;
        qint64 high = 0;
        for (int i = 0; i < 400; ++i) {
            const QDateTime last = at(7, 9).addSecs(i * 61);
            const qint64 moved = CheckStates::variation(i % 7, last, interval);
            QVERIFY2(qAbs(moved) <= span, qPrintable(QString::number(moved)));
            QCOMPARE(CheckStates::variation(i % 7, last, interval), moved); // the same at every run
            low = qMin(low, moved);
            high = qMax(high, moved);
        }
        // The checks do vary, over most of the span.
        QVERIFY(high - low >= span);
    }

    // Twelve tasks falling due at once: eight are sent at once, the others follow within the spread.
    void dueTogetherAreSpread()
    {
        TempFolder fixture;
        TestClock clock;
        {
            DbFile file(fixture.path("task.db"));
            for (int i = 0; i < 12; ++i)
                file.addTask(i, QString::number(i), server.url(QStringLiteral("/spread/%1").arg(i)).toString(), "qt");
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        checker.setSpread(8, 400);
        QCOMPARE(checker.checkDueTasks().started.size(), 12);
        QCOMPARE(checker.backgroundChecksStarted(), 8);
        QTRY_COMPARE(checker.backgroundChecksStarted(), 12);
        for (int i = 0; i < 12; ++i)
            QTRY_COMPARE(server.hits(QStringLiteral("/spread/%1").arg(i)), 1);
    }
};

QTEST_GUILESS_MAIN(TestDueHours)
#include "tst_duehours.moc"
