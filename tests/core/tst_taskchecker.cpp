// SPDX-License-Identifier: GPL-3.0-or-later
// The checking core without a window: when tasks fall due, taking delivered results over once, the news of a
// run, failure marks across a restart, the id of a new task, and findings kept until task.db takes them.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestTaskChecker : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void dueRule_data()
    {
        QTest::addColumn<int>("secondsSinceUpdate");
        QTest::addColumn<QString>("lastUpdate"); // overrides the offset when set
        QTest::addColumn<bool>("due");
        QTest::addRow("just checked") << 10 << QString() << false;
        QTest::addRow("one second short") << 3599 << QString() << false;
        QTest::addRow("frequency passed") << 3600 << QString() << true;
        QTest::addRow("long overdue") << 86400 << QString() << true;
        QTest::addRow("unreadable time") << 0 << QStringLiteral("not a time") << true;
        QTest::addRow("time in the future") << 0 << QStringLiteral("2099-01-01T00:00:00") << false;
    }
    void dueRule()
    {
        QFETCH(int, secondsSinceUpdate);
        QFETCH(QString, lastUpdate);
        QFETCH(bool, due);
        TempFolder fixture;
        TestClock clock;
        const QDateTime start = clock.at;
        const QString path = QStringLiteral("/due/%1").arg(QTest::currentDataTag());
        server.setPage(path, linkPage({"qt 1"}));
        storeLinkTask(fixture.path("task.db"), server, 0, "A", path,
                      lastUpdate.isEmpty() ? clock.at.addSecs(-secondsSinceUpdate).toString(Qt::ISODate) : lastUpdate);
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        const QString before = task->lastUpdateText();
        // From here on every reading of the clock is a second later than the one before.
        clock.stepMs = 1000;
        checker.periodic().checkDueTasks();
        QCOMPARE(checker.fetcher().running() + checker.fetcher().queued(), due ? 1 : 0);
        // A checked task's last update is the time of that check, and a future one counts as now: in memory
        // and in task.db.
        if (due || !lastUpdate.isEmpty()) {
            QCOMPARE(task->lastUpdate(), start.addMSecs(-start.time().msec()));
            QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT last_update FROM tasks"),
                     QStringList{task->lastUpdateText()});
        } else {
            QCOMPARE(task->lastUpdateText(), before);
        }
        clock.stepMs = 0;
        QTRY_COMPARE(checker.fetcher().running(), 0);
        // Due again exactly one frequency after the last check (or after "now", for a time in the future).
        clock.at = task->lastUpdate().addSecs(3599);
        checker.periodic().checkDueTasks();
        QCOMPARE(checker.fetcher().running() + checker.fetcher().queued(), 0);
        clock.at = clock.at.addSecs(1);
        checker.periodic().checkDueTasks();
        QCOMPARE(checker.fetcher().running() + checker.fetcher().queued(), 1);
        QTRY_COMPARE(checker.fetcher().running(), 0);
    }

    // What a periodic check finds is taken over, stored and reported when its page arrives, once; later
    // checks of the unchanged page report nothing.
    void takeOverOnArrival()
    {
        TempFolder fixture;
        TestClock clock;
        server.setPage("/once", linkPage({"qt 2"}));
        storeLinkTask(fixture.path("task.db"), server, 0, "A", "/once");
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        QCOMPARE(checker.periodic().checkDueTasks().started, QList<Task*>{task});
        QTRY_COMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<Task*>(), task);
        QCOMPARE(texts(found.at(0).at(1).value<Task::ResultList>()), QStringList{"qt 2"});
        QCOMPARE(texts(task->results()), (QStringList{"qt 1", "qt 2"}));

        for (int run = 0; run < 3; ++run) {
            clock.at = clock.at.addSecs(3600);
            QCOMPARE(checker.periodic().checkDueTasks().started.size(), 1);
            QTRY_COMPARE(checker.fetcher().running(), 0);
        }
        QCOMPARE(found.count(), 1);
        QCOMPARE(texts(task->results()), (QStringList{"qt 1", "qt 2"}));
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results ORDER BY id"),
                 (QStringList{"qt 1", "qt 2"}));
    }

    // One periodic run's news are reported together once every page of the run has been dealt with: a slow
    // page holds the report back, a failed page or a task removed meanwhile does not.
    void runNewsReportedTogether_data()
    {
        QTest::addColumn<bool>("removeSlow");
        QTest::addRow("every page answers") << false;
        QTest::addRow("the slow task is removed") << true;
    }
    void runNewsReportedTogether()
    {
        QFETCH(bool, removeSlow);
        TempFolder fixture;
        TestClock clock;
        const QString tag = QStringLiteral("/run/%1/").arg(removeSlow ? "removed" : "all");
        server.setPage(tag + "a", linkPage({"qt a"}));
        server.setPage(tag + "b", linkPage({"qt 1"}));
        server.setStatus(tag + "c", 500);
        TestServer::Response slow;
        slow.body = linkPage({"qt d"});
        slow.delayMs = 300;
        server.setResponse(tag + "d", slow);
        server.setPage(tag + "e", linkPage({"qt e"}));
        {
            DbFile file(fixture.path("task.db"));
            int id = 0;
            for (const char* name : {"a", "b", "c", "d", "e"})
                storeLinkTask(file, server, id++, name, tag + name);
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        QSignalSpy run(&checker.periodic(), &PeriodicChecks::runNewsFound);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), 5);
        // a and e have answered and are stored, d is still on its way: nothing is announced yet.
        QTRY_COMPARE(found.count(), 2);
        QCOMPARE(run.count(), 0);
        if (removeSlow)
            QVERIFY(checker.watches().removeTask(checker.watches().tasks().at(3)));
        QTRY_COMPARE(run.count(), 1);
        const auto news = run.at(0).at(0).value<QList<TaskNews>>();
        QStringList named;
        for (const TaskNews& entry : news)
            named << entry.name + ": " + texts(entry.results).join(", ");
        const QStringList expected =
            removeSlow ? QStringList{"a: qt a", "e: qt e"} : QStringList{"a: qt a", "d: qt d", "e: qt e"};
        QCOMPARE(named, expected);
        QTRY_COMPARE(checker.fetcher().running() + checker.fetcher().queued(), 0);
        QTest::qWait(50);
        QCOMPARE(run.count(), 1);

        // The next run without news reports nothing.
        clock.at = clock.at.addSecs(3600);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), removeSlow ? 4 : 5);
        QTRY_COMPARE(checker.fetcher().running() + checker.fetcher().queued(), 0);
        QTest::qWait(50);
        QCOMPARE(run.count(), 1);
    }

    // A failure mark kept in task.db by an earlier run is taken back at load, bounded whatever the row holds.
    void failureMarkRestored_data()
    {
        QTest::addColumn<QString>("storedReason");
        QTest::addColumn<QString>("storedCount");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("inRow");
        QTest::addRow("as written") << "HTTP 500"
                                    << "3"
                                    << "HTTP 500" << 3;
        QTest::addRow("no reason: no mark") << ""
                                            << "3"
                                            << "" << 0;
        QTest::addRow("lines and no count") << "Host\nnot found"
                                            << "x"
                                            << "Host not found" << 1;
        QTest::addRow("negative count") << "HTTP 404"
                                        << "-5"
                                        << "HTTP 404" << 1;
        QTest::addRow("huge count") << "HTTP 404"
                                    << "99999999999"
                                    << "HTTP 404" << 1;
        QTest::addRow("large count") << "HTTP 404"
                                     << "5000000"
                                     << "HTTP 404" << 1000000;
        QTest::addRow("long reason") << QString(500, QLatin1Char('r')) << "2" << QString(200, QLatin1Char('r')) << 2;
    }
    void failureMarkRestored()
    {
        QFETCH(QString, storedReason);
        QFETCH(QString, storedCount);
        QFETCH(QString, reason);
        QFETCH(int, inRow);
        TempFolder fixture;
        storeLinkTask(fixture.path("task.db"), server, 0, "A", "/restored");
        {
            TaskDatabase db(fixture.path("task.db"));
            QVERIFY(db.setTaskOption(0, CheckStates::FailureOption, storedReason));
            QVERIFY(db.setTaskOption(0, CheckStates::FailuresInRowOption, storedCount));
        }
        Loaded loaded(fixture);
        const Task* task = loaded.checker.watches().tasks().at(0);
        QCOMPARE(loaded.checker.checks().checkFailure(task), reason);
        QCOMPARE(loaded.checker.checks().failuresInRow(task), inRow);
    }

    // What the checks knew of a removed task is not handed to a new task that gets its id.
    void idGivenAgainStartsAfresh()
    {
        TempFolder fixture;
        storeLinkTask(fixture.path("task.db"), server, 0, "A", "/again/a");
        {
            TaskDatabase db(fixture.path("task.db"));
            QVERIFY(db.setTaskOption(0, CheckStates::FailureOption, "HTTP 500"));
            QVERIFY(db.setTaskOption(0, CheckStates::FailuresInRowOption, "3"));
        }
        server.setStatus("/again/b", 404, linkPage({"qt 2"}));
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        QCOMPARE(checker.checks().failuresInRow(checker.watches().tasks().at(0)), 3);
        QVERIFY(checker.watches().removeTask(checker.watches().tasks().at(0)));
        const auto created = checker.creator().run({"B", server.url("/again/b").toString(), "qt", 3600, {}});
        QCOMPARE(created.outcome, Commands::Outcome::FetchFailed);
        QCOMPARE(created.task->taskId(), 0);
        QCOMPARE(checker.checks().failuresInRow(created.task), 1);
        QCOMPARE(checker.checks().checkInterval(created.task), qint64(3600));
    }

    void nextTaskId_data()
    {
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<int>("next");
        QTest::addRow("none") << QList<int>{} << 0;
        QTest::addRow("in order") << QList<int>{0, 1, 2} << 3;
        QTest::addRow("count free after a removal") << QList<int>{0, 2} << 2 + 1;
        QTest::addRow("count taken") << QList<int>{2, 5} << 6;
        QTest::addRow("count free") << QList<int>{5, 7} << 2;
    }
    void nextTaskId()
    {
        QFETCH(QList<int>, ids);
        QFETCH(int, next);
        TempFolder fixture;
        {
            DbFile file(fixture.path("task.db"));
            for (int id : ids)
                file.addTask(id, QString::number(id), QStringLiteral("http://h/%1").arg(id), "qt");
        }
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        QCOMPARE(checker.watches().nextTaskId(), next);
    }

    // task.db locked by another program: what update-all found is kept, reported, and stored by the next
    // check once the lock is gone; nothing claims success meanwhile.
    void findingsKeptUntilStored()
    {
        TempFolder fixture;
        TestClock clock;
        server.setPage("/locked", linkPage({"qt 2"}));
        storeLinkTask(fixture.path("task.db"), server, 0, "A", "/locked", clock.at.toString(Qt::ISODate));
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        {
            // The stored results cannot be read either: the page is not compared, nothing of it is kept.
            DbFile other(fixture.path("task.db"));
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            const Commands::UpdateRun run = checker.updater().run();
            QVERIFY2(run.storageFailure.startsWith("Could not read the results of A: "),
                     qPrintable(run.storageFailure));
            QVERIFY(!run.anyNew && !run.unstoredNew && !checker.checks().hasUnstored());
            other.exec("ROLLBACK");
        }
        QCOMPARE(texts(checker.watches().tasks().at(0)->results()), QStringList{"qt 1"});
        {
            DbFile other(fixture.path("task.db"));
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            const Commands::UpdateRun run = checker.updater().run();
            QVERIFY(run.storageFailure.startsWith("Could not store the new results of A: "));
            QVERIFY(!run.anyNew);
            QVERIFY(run.unstoredNew); // found, not stored: no "nothing new" either
            QVERIFY(checker.checks().hasUnstored());
            QCOMPARE(texts(checker.watches().tasks().at(0)->results()), QStringList{"qt 1"});
            // A second update-all finds nothing new on the page, but still cannot store.
            QVERIFY(!checker.updater().run().storageFailure.isEmpty());
            other.exec("ROLLBACK");
        }
        // The periodic check stores them, though its page shows nothing new any more.
        QSignalSpy failures(&checker.periodic(), &PeriodicChecks::storageFailed);
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        clock.at = clock.at.addSecs(3600);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), 1);
        QTRY_COMPARE(found.count(), 1);
        QVERIFY(!checker.checks().hasUnstored());
        QCOMPARE(failures.count(), 0);
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results ORDER BY id"),
                 (QStringList{"qt 1", "qt 2"}));
        QTRY_COMPARE(checker.fetcher().running(), 0);
    }

    // Turning the new-links option on afresh must forget the seen links first; when task.db refuses, the
    // option stays off and the failure is told.
    void reportNewLinksNeedsAFreshStart()
    {
        TempFolder fixture;
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        {
            DbFile other(fixture.path("task.db"));
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
            QVERIFY(!checker.setReportNewLinks(true, true));
            QVERIFY(!checker.checks().reportNewLinks());
            QVERIFY(!checker.lastError().isEmpty());
            other.exec("ROLLBACK");
        }
        QVERIFY(checker.setReportNewLinks(true, true));
        QVERIFY(checker.checks().reportNewLinks());
    }

    // Every "now" the checker acts on comes from its clock: the dates of new results, a checked task's stored
    // last update, a new task's date, and the age of results at the start-up deletion. The clock stands years
    // away from the system's, so a date read from the system would show.
    void clockDecidesDates_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addRow("periodic check") << "due";
        QTest::addRow("update-all") << "updateAll";
        QTest::addRow("reset") << "reset";
        QTest::addRow("new task") << "create";
    }
    void clockDecidesDates()
    {
        QFETCH(QString, command);
        TempFolder fixture;
        TestClock clock;
        clock.at = QDateTime(QDate(2031, 2, 3), QTime(4, 5, 6));
        const QString path = QStringLiteral("/clock/%1").arg(command);
        server.setPage(path, linkPage({"qt 2"}));
        {
            DbFile file(fixture.path("task.db"));
            if (command != "create")
                storeLinkTask(file, server, 0, "A", path);
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        if (command == "due") {
            QCOMPARE(checker.periodic().checkDueTasks().started.size(), 1);
            QTRY_COMPARE(found.count(), 1);
        } else if (command == "updateAll") {
            QVERIFY(checker.updater().run().anyNew);
        } else if (command == "reset") {
            QCOMPARE(checker.resetter().run(checker.watches().tasks().at(0)), Commands::Outcome::Done);
        } else {
            QCOMPARE(checker.creator().run({"B", server.url(path).toString(), "qt", 3600, {}}).outcome,
                     Commands::Outcome::Done);
        }
        const Task* task = checker.watches().tasks().at(0);
        const Task::ResultPtr newest = task->results().last();
        QCOMPARE(newest->text, QStringLiteral("qt 2"));
        QCOMPARE(newest->date, QDate(2031, 2, 3));
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT result_date FROM results WHERE text = 'qt 2'"), QStringList{"02/03/2031"});
        // A checked or created task's last update is the clock's time, stored as local time.
        const QString lastUpdate =
            command == "due" || command == "create" ? "2031-02-03T04:05:06" : "2009-01-01T10:00:00";
        QCOMPARE(file.column("SELECT last_update FROM tasks"), QStringList{lastUpdate});
        if (command == "create")
            QCOMPARE(file.column("SELECT task_date FROM tasks"), QStringList{"02/03/2031"});
    }

    void oldResultsByTheClock_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("kept");
        QTest::addRow("14 days") << 14 << QStringList{"two weeks", "today"};
        QTest::addRow("13 days") << 13 << QStringList{"today"};
    }
    void oldResultsByTheClock()
    {
        QFETCH(int, days);
        QFETCH(QStringList, kept);
        TempFolder fixture;
        TestClock clock;
        clock.at = QDateTime(QDate(2031, 2, 17), QTime(12, 0));
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", "http://127.0.0.1/", "qt");
            file.addResult(0, "02/03/2031", "two weeks", "http://127.0.0.1/a");
            file.addResult(0, "02/17/2031", "today", "http://127.0.0.1/b");
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        QVERIFY(checker.watches().removeOldResults(days, checker.checks().today()));
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results ORDER BY id"), kept);
    }
};

QTEST_GUILESS_MAIN(TestTaskChecker)
#include "tst_taskchecker.moc"
