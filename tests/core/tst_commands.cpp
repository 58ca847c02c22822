// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that wait for pages: update-all, reset and creation with their waits, a task removed while its
// page is in flight, the guard against overlapping commands, cancelling a wait and quitting during one.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestCommands : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    // Pages answer in another order than the list's; results are still taken over in the list's order, a
    // page that fails is counted, and everything new is in task.db afterwards.
    void updateAllOrderAndFailures()
    {
        TempFolder fixture;
        TestServer::Response slow;
        slow.body = linkPage({"qt 2 slow"});
        slow.delayMs = 300;
        server.setResponse("/order/slow", slow);
        server.setPage("/order/fast", linkPage({"qt 2 fast"}));
        server.setStatus("/order/gone", 404, linkPage({"qt 2 error"}));
        {
            DbFile file(fixture.path("task.db"));
            storeLinkTask(file, server, 0, "Slow", "/order/slow");
            storeLinkTask(file, server, 1, "Fast", "/order/fast");
            storeLinkTask(file, server, 2, "Gone", "/order/gone");
        }
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        const Commands::UpdateRun run = checker.updater().run();
        QVERIFY(run.ran && run.anyNew && !run.aborted);
        QCOMPARE(run.failedPages, 1);
        QVERIFY(run.storageFailure.isEmpty());
        QCOMPARE(checker.checks().checkFailure(checker.watches().tasks().at(2)), QStringLiteral("HTTP 404"));
        QVERIFY(checker.checks().checkFailure(checker.watches().tasks().at(0)).isEmpty());
        // An error page's links are not the page's: nothing of it is stored.
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results WHERE id > 3 ORDER BY id"),
                 (QStringList{"qt 2 slow", "qt 2 fast"}));
        // Taken over once: a later check of the unchanged page appends nothing again.
        Task* fast = checker.watches().tasks().at(1);
        fast->setLastUpdate(QDateTime::currentDateTime().addDays(-1).toString(Qt::ISODate));
        QVERIFY(checker.periodic().checkDueTasks().started.contains(fast));
        QTRY_COMPARE(checker.fetcher().running() + checker.fetcher().queued(), 0);
        QCOMPARE(texts(fast->results()), (QStringList{"qt 1", "qt 2 fast"}));
        QCOMPARE(DbFile(fixture.path("task.db")).count("results"), 5);

        // The next successful check clears the mark and reads the page.
        server.setPage("/order/gone", linkPage({"qt 2 error"}));
        checker.updater().run();
        QVERIFY(checker.checks().checkFailure(checker.watches().tasks().at(2)).isEmpty());
        QCOMPARE(texts(checker.watches().tasks().at(2)->results()), (QStringList{"qt 1", "qt 2 error"}));
    }

    // The news of an update-all is written with its results: one outbox event per task that found something,
    // each telling of its own task, whatever its place in the list.
    void updateAllWritesEachTasksNews()
    {
        TempFolder fixture;
        {
            DbFile file(fixture.path("task.db"));
            for (const char* name : {"Quiet", "First", "Last"})
                storeLinkTask(file, server, file.count("tasks"), name, QStringLiteral("/news/") + name);
        }
        server.setPage("/news/Quiet", linkPage({"qt 1"}));
        server.setPage("/news/First", linkPage({"qt 2 first"}));
        server.setPage("/news/Last", linkPage({"qt 2 last"}));
        TestServer::Response silent;
        silent.never = true; // the events wait in the outbox
        server.setResponse("/news/hook", silent);
        Loaded loaded(fixture);
        loaded.checker.news().setDestinations(
            {{NewsDestination::Kind::Post, server.url("/news/hook").toString(), {}, false}});
        QVERIFY(loaded.checker.updater().run().anyNew);
        QStringList told;
        for (const QString& payload :
             DbFile(fixture.path("task.db")).column("SELECT payload FROM news_outbox ORDER BY id")) {
            const QJsonObject event = QJsonDocument::fromJson(payload.toUtf8()).object();
            told << event["task"]["name"].toString() + ": " + event["links"][0]["text"].toString();
        }
        QCOMPARE(told, (QStringList{"First: qt 2 first", "Last: qt 2 last"}));
        loaded.checker.abortWaits();
    }

    // While update-all waits, the same or another waiting command is dropped, and a task removed meanwhile
    // is skipped: its delivery is never touched, the others are taken over.
    void overlapDuringUpdateAll()
    {
        TempFolder fixture;
        TestServer::Response slow;
        slow.body = linkPage({"qt 2"});
        slow.delayMs = 400;
        server.setResponse("/overlap/a", slow);
        server.setResponse("/overlap/b", slow);
        {
            DbFile file(fixture.path("task.db"));
            storeLinkTask(file, server, 0, "A", "/overlap/a");
            storeLinkTask(file, server, 1, "B", "/overlap/b");
        }
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        Task* b = checker.watches().tasks().at(1);
        bool innerRan = true;
        Commands::Outcome innerReset = Commands::Outcome::Done;
        Commands::Outcome innerCreate = Commands::Outcome::Done;
        QTimer::singleShot(100, this, [&] {
            innerRan = checker.updater().run().ran;
            innerReset = checker.resetter().run(b);
            innerCreate = checker.creator().run({"C", server.url("/overlap/a").toString(), "qt", 3600, {}}).outcome;
            QVERIFY(checker.watches().removeTask(b));
        });
        const Commands::UpdateRun run = checker.updater().run();
        QVERIFY(run.ran);
        QVERIFY(!innerRan);
        QCOMPARE(innerReset, Commands::Outcome::Dropped);
        QCOMPARE(innerCreate, Commands::Outcome::Dropped);
        QCOMPARE(checker.watches().tasks().size(), 1);
        QCOMPARE(texts(checker.watches().tasks().at(0)->results()), (QStringList{"qt 1", "qt 2"}));
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT taskid FROM results ORDER BY id"),
                 (QStringList{"0", "0"}));
    }

    // Reset: a page that cannot be read keeps the old results; a task removed during the wait is left alone;
    // a periodic take-over during a failed reset stays in memory and in task.db alike.
    void reset()
    {
        TempFolder fixture;
        TestClock clock;
        server.setPage("/reset/ok", linkPage({"qt new 1", "qt new 2"}));
        TestServer::Response late;
        late.status = 500;
        late.delayMs = 300;
        server.setResponse("/reset/fails", late);
        server.setPage("/reset/bg", linkPage({"qt 2"}));
        {
            DbFile file(fixture.path("task.db"));
            storeLinkTask(file, server, 0, "Ok", "/reset/ok");
            storeLinkTask(file, server, 1, "Fails", "/reset/fails");
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* ok = checker.watches().tasks().at(0);
        Task* fails = checker.watches().tasks().at(1);

        QCOMPARE(checker.resetter().run(ok), Commands::Outcome::Done);
        QCOMPARE(texts(ok->results()), (QStringList{"qt new 1", "qt new 2"}));

        // While the reset waits for its failing answer, the task's periodic check reads the page, which now
        // answers at once with a change, and takes it over.
        ok->setLastUpdate(clock.at.toString(Qt::ISODate)); // only "Fails" falls due
        QTimer::singleShot(100, this, [&] {
            server.setPage("/reset/fails", linkPage({"qt 2"}));
            checker.periodic().checkDueTasks();
        });
        QCOMPARE(checker.resetter().run(fails), Commands::Outcome::FetchFailed);
        QCOMPARE(texts(fails->results()), (QStringList{"qt 1", "qt 2"}));
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results WHERE taskid = 1 ORDER BY id"),
                 (QStringList{"qt 1", "qt 2"}));

        server.setResponse("/reset/fails", late);
        QTimer::singleShot(100, this, [&] { QVERIFY(checker.watches().removeTask(fails)); });
        QCOMPARE(checker.resetter().run(fails), Commands::Outcome::TaskGone);
        QTRY_COMPARE(checker.fetcher().running(), 0);
    }

    // A change a periodic check found is not lost by an update-all that follows before any other take-over:
    // it is stored once, announced once, and update-all reports nothing new for it.
    void backgroundFindingSurvivesUpdateAll()
    {
        TempFolder fixture;
        TestClock clock;
        server.setPage("/bg-then-all", linkPage({"qt 2"}));
        storeLinkTask(fixture.path("task.db"), server, 0, "A", "/bg-then-all");
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        checker.periodic().checkDueTasks();
        QTRY_COMPARE(checker.fetcher().running() + checker.fetcher().queued(), 0);
        const Commands::UpdateRun run = checker.updater().run();
        QVERIFY(run.ran && !run.anyNew);
        QCOMPARE(found.count(), 1);
        QCOMPARE(texts(checker.watches().tasks().at(0)->results()), (QStringList{"qt 1", "qt 2"}));
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results ORDER BY id"),
                 (QStringList{"qt 1", "qt 2"}));
    }

    // Creation: the page's failure is reported with the task; quitting ends a wait on a silent page at once.
    // Pages that never answer: each holds only its own connection and its timeout starts when it is sent,
    // so update-all over silent pages on ten hosts ends after about one timeout, and the pages that do
    // answer on the same host as a silent one are read meanwhile.
    void silentPagesEndAfterOneTimeout()
    {
        TestServer anyHost;
        QVERIFY(anyHost.listen(QHostAddress::Any));
        TestServer::Response silent;
        silent.never = true;
        anyHost.setResponse("/silent", silent);
        anyHost.setPage("/quick", linkPage({"qt 2"}));
        TempFolder fixture;
        {
            DbFile file(fixture.path("task.db"));
            for (int i = 0; i < 10; ++i)
                file.addTask(i, QStringLiteral("S%1").arg(i),
                             QStringLiteral("http://127.0.0.%1:%2/silent").arg(i + 1).arg(anyHost.port()), "qt");
            for (int i = 10; i < 15; ++i) {
                const QString address = QStringLiteral("http://127.0.0.1:%1/quick").arg(anyHost.port());
                file.addTask(i, QStringLiteral("Q%1").arg(i), address, "qt");
                file.addResult(i, "01/01/2009", "qt 1", QUrl(address).resolved(QUrl("/l0")).toString());
            }
        }
        PageFetch::setTransferTimeout(1000);
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        QElapsedTimer elapsed;
        elapsed.start();
        const Commands::UpdateRun run = checker.updater().run();
        const qint64 ms = elapsed.elapsed();
        PageFetch::setTransferTimeout(3000);
        QCOMPARE(run.failedPages, 10);
        QVERIFY(run.anyNew);
        QVERIFY2(ms < 2500, qPrintable(QStringLiteral("update-all took %1 ms").arg(ms)));
        QCOMPARE(anyHost.hits("/quick"), 5);
    }

    void createAndAbort()
    {
        TempFolder fixture;
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        // An error page's own keyword links are not the page's: the task is created with no results.
        server.setStatus("/create/none", 404, linkPage({"qt not found"}));
        const Commands::Created missing =
            checker.creator().run({"Missing", server.url("/create/none").toString(), "qt", 60, {}});
        QCOMPARE(missing.outcome, Commands::Outcome::FetchFailed);
        QCOMPARE(missing.failureReason, QStringLiteral("HTTP 404"));
        QVERIFY(missing.task->results().isEmpty());
        QCOMPARE(DbFile(fixture.path("task.db")).count("results"), 0);
        QCOMPARE(checker.watches().tasks().size(), 1);
        QCOMPARE(checker.creator().run({"Again", server.url("/create/none").toString(), "qt", 60, {}}).outcome,
                 Commands::Outcome::Exists);

        TestServer::Response silent;
        silent.never = true;
        server.setResponse("/create/silent", silent);
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer::singleShot(100, this, [&] { checker.abortWaits(); });
        QCOMPARE(checker.creator().run({"Silent", server.url("/create/silent").toString(), "qt", 60, {}}).outcome,
                 Commands::Outcome::Aborted);
        QVERIFY2(elapsed.elapsed() < 2000, "the wait did not end when asked to");
        QCOMPARE(checker.watches().tasks().size(), 1);
    }
    // The user leaves a command's wait once the slow page was asked for (and update-all's quick page read):
    // the command returns as cancelled and stores nothing of the slow page, whose answer, coming after the
    // command's locals are gone, is dropped. Update-all keeps what the page read by then brought.
    void cancelWait_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("results"); // task.db's results once the late answer has come
        for (const char* command : {"create", "reset", "import"})
            QTest::addRow("%s", command) << command << QStringList{"qt one", "qt old"};
        QTest::addRow("update-all") << "updateAll" << QStringList{"qt one", "qt old", "qt two"};
    }
    void cancelWait()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, results);
        TempFolder fixture;
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        const QString fast = server.url("/cancel/fast").toString();
        const QString slow = server.url("/cancel/slow").toString();
        server.setPage("/cancel/fast", linkPage({"qt one"}));
        server.setPage("/cancel/slow", linkPage({"qt old"}));
        QCOMPARE(checker.creator().run({"Fast", fast, "qt", 60, {}}).outcome, Commands::Outcome::Done);
        QCOMPARE(checker.creator().run({"Slow", slow, "qt", 60, {}}).outcome, Commands::Outcome::Done);
        server.setPage("/cancel/fast", linkPage({"qt two"})); // a new text at a known link
        TestServer::Response late;
        late.body = linkPage({"qt new"});
        late.delayMs = 1500;
        server.setResponse("/cancel/slow", late);
        const int asked = server.hits("/cancel/slow");
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (server.hits("/cancel/slow") > asked && checker.waits().awaited() == QStringList{slow}) {
                poll.stop();
                checker.waits().cancel();
            }
        });
        poll.start(5);
        if (command == "create") {
            QCOMPARE(checker.creator().run({"New", slow, "new", 60, {}}).outcome, Commands::Outcome::Cancelled);
        } else if (command == "reset") {
            QCOMPARE(checker.resetter().run(checker.watches().tasks().at(1)), Commands::Outcome::Cancelled);
        } else if (command == "import") {
            const Commands::ImportRun run =
                checker.importer().run({ExchangeTask{{"New", slow, "new", 60, {}}, {}, false, {}}});
            QVERIFY(run.cancelled && !run.aborted && run.imported == 0);
        } else {
            const Commands::UpdateRun run = checker.updater().run();
            QVERIFY(run.cancelled && !run.aborted && run.anyNew);
            QCOMPARE(run.unread, 1);
        }
        QVERIFY(checker.waits().awaited().isEmpty() && !checker.guard().isBusy() && !checker.waits().isAborting());
        // The late answer comes and finds no one waiting for it.
        QTRY_COMPARE_WITH_TIMEOUT(checker.fetcher().running(), 0, 10000);
        DbFile file(fixture.path("task.db"));
        QVERIFY(checker.watches().tasks().size() == 2 && file.count("tasks") == 2);
        QCOMPARE(file.column("SELECT text FROM results ORDER BY id"), results);
    }

    // The application quitting by any way (not only through the window) ends a wait at once instead of
    // leaving it to spin. Last of all: after QCoreApplication::exit() no event loop of this thread runs again.
    void quitEndsAWait()
    {
        TempFolder fixture;
        TestServer::Response silent;
        silent.never = true;
        server.setResponse("/quit/silent", silent);
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        QTimer::singleShot(100, [] { QCoreApplication::exit(0); });
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(checker.creator().run({"Q", server.url("/quit/silent").toString(), "qt", 60, {}}).outcome,
                 Commands::Outcome::Aborted);
        QVERIFY(elapsed.elapsed() < 2000);
        // The abort ended with the wait it served.
        QVERIFY(!checker.waits().isAborting());
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
