// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/announcement.h"
#include "core/settings.h"
#include "tests/core/checkerfixture.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

// The start the program makes: the tasks first, then, beside them, the indexes, the old results' deletion and
// the counts.
class TestScale : public QObject
{
    Q_OBJECT

    // The tasks first, uncounted, then the work beside them, which refuses what would need the counts.
    static void startShownThenFinish(MonitorParts& parts, const Options& options, bool indexed)
    {
        parts.startShown(options);
        TaskChecker& core = parts.core;
        QCOMPARE(core.watches().tasks().size(), 2);
        // Before the counts: nothing is claimed, and nothing is compared with results not read.
        for (Task* task : core.watches().tasks())
            QCOMPARE(task->unreadCount(), Task::UncountedResults);
        QVERIFY(Announcement::unreadSummary(core.watches().tasks()).contains("counting"));

        parts.finishStart(options);
        QCOMPARE(parts.deferred.buildingIndexes(), !indexed);
        QVERIFY(core.watches().isPreparing());
        QVERIFY(!core.watches().resultsRead(core.watches().tasks().first()));
        QVERIFY2(core.watches().lastError().contains("being counted"), qPrintable(core.watches().lastError()));
        QVERIFY(!core.updater().run().ran);
        const Commands::Created created = core.creator().run({"C", "http://127.0.0.1:9/c", "c", 3600, {}});
        QCOMPARE(created.outcome, Commands::Outcome::StoreFailed);
        QVERIFY2(created.error.contains("being prepared"), qPrintable(created.error));
    }

private slots:
    void countsAfterTasks_data()
    {
        QTest::addColumn<bool>("indexed");    // the file has its indexes already (a second start)
        QTest::addColumn<bool>("deleteOld");  // the options ask for the old results to go
        QTest::addColumn<bool>("leaveEarly"); // the program ends while the work runs
        QTest::addColumn<bool>("beside");     // the tasks too are read beside the window, as the program reads them
        QTest::addRow("first start") << false << false << false << false;
        QTest::addRow("first start, old results deleted") << false << true << false << false;
        QTest::addRow("second start") << true << false << false << false;
        QTest::addRow("second start, old results deleted") << true << true << false << false;
        QTest::addRow("ended during the work") << false << true << true << false;
        QTest::addRow("tasks read beside, first start") << false << true << false << true;
        QTest::addRow("tasks read beside, second start") << true << false << false << true;
        QTest::addRow("ended while the tasks are read") << false << false << true << true;
    }

    void countsAfterTasks()
    {
        QFETCH(bool, indexed);
        QFETCH(bool, deleteOld);
        QFETCH(bool, leaveEarly);
        QFETCH(bool, beside);
        TempFolder fixture;
        const QString path = fixture.path("task.db");
        const QString today = QDate::currentDate().toString(TaskDateFormat);
        {
            DbFile file(path);
            file.addTask(0, "A", "http://127.0.0.1:9/a", "a");
            file.addTask(1, "B", "http://127.0.0.1:9/b", "b");
            file.addResult(0, today, "a new", "http://127.0.0.1/1");
            file.addResult(0, today, "a read", "http://127.0.0.1/2", StateRead);
            file.addResult(0, "01/01/2009", "a old", "http://127.0.0.1/3");
            file.addResult(1, today, "b new", "http://127.0.0.1/4");
            if (beside)
                file.addTask(2, "", "http://127.0.0.1:9/c", "c"); // refused: no name
        }
        if (indexed)
            TaskDatabase complete(path);
        Options options;
        options.autoDelete = deleteOld;
        options.deleteDays = 14;

        auto parts = std::make_unique<MonitorParts>(path, WatchList::IndexBuild::Deferred);
        QSignalSpy indexing(&parts->deferred, &DeferredStart::indexBuildStarted);
        QSignalSpy finished(&parts->deferred, &DeferredStart::finished);
        QSignalSpy counted(&parts->core.watches(), &WatchList::countsArrived);
        TaskChecker& core = parts->core;
        if (beside) {
            QSignalSpy taken(&parts->deferred, &DeferredStart::tasksTaken);
            parts->startBeside(options);
            QVERIFY(core.watches().tasks().isEmpty());
            parts->finishStart(options);
            QVERIFY(core.watches().isPreparing());
            QCOMPARE(core.creator().run({"C", "http://127.0.0.1:9/c", "c", 3600, {}}).outcome,
                     Commands::Outcome::StoreFailed);
            if (leaveEarly) {
                parts.reset(); // the tasks read and not taken yet go with it
                Loaded again(path);
                QCOMPARE(again.core.watches().tasks().size(), 2);
                return;
            }
            QVERIFY(taken.wait(20000));
            QCOMPARE(core.watches().tasks().size(), 2);
            QVERIFY2(core.watches().loadRefusal().startsWith("1 stored task not loaded"),
                     qPrintable(core.watches().loadRefusal()));
            QVERIFY(finished.count() > 0 || finished.wait(20000));
        } else {
            startShownThenFinish(*parts, options, indexed);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(indexing.count(), indexed ? 0 : 1);
            if (leaveEarly) {
                parts.reset();
                // The file is whole: a later start reads every task and every result the work had not deleted yet.
                Loaded again(path);
                QCOMPARE(again.core.watches().tasks().size(), 2);
                QVERIFY(again.core.watches().tasks().first()->results().size() >= 2);
                return;
            }
            QVERIFY(finished.wait(20000));
        }
        QCOMPARE(counted.count(), 1);
        QCOMPARE(finished.first(), (QVariantList{QString(), QString(), QString()}));
        QVERIFY(!core.watches().isPreparing());
        Task* a = core.watches().tasks().at(0);
        Task* b = core.watches().tasks().at(1);
        QCOMPARE(a->unreadCount(), deleteOld ? 1 : 2);
        QCOMPARE(b->unreadCount(), 1);
        QVERIFY(core.watches().resultsRead(a));
        QCOMPARE(texts(a->results()),
                 deleteOld ? (QStringList{"a read", "a new"}) : (QStringList{"a old", "a read", "a new"}));
        QCOMPARE(Announcement::unreadSummary(core.watches().tasks()),
                 QStringLiteral("Vantrel Monitor: %1 unread results in 2 tasks").arg(deleteOld ? 2 : 3));

        DbFile file(path);
        QCOMPARE(
            file.column("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'results' ORDER BY name"),
            (QStringList{"results_link", "results_taskid"}));
        QCOMPARE(file.count("results"), deleteOld ? 3 : 4);
    }

    // The failure marks of one update-all: written on the window thread when they are few, beside it when many;
    // either way they reach task.db and the tasks, and those of a later run follow them.
    void marksOfARun_data()
    {
        QTest::addColumn<int>("asideFrom");
        QTest::addColumn<int>("batch");         // pages requested in one turn of the event loop
        QTest::addColumn<int>("perTurn");       // marks handed to the writer in one turn
        QTest::addColumn<QList<int>>("writes"); // writes told of after each run
        const int all = CheckStates::MarksPerTurn;
        QTest::addRow("few: on the window thread") << 1000 << int(UpdateAll::RequestBatch) << all << QList<int>{0, 0};
        QTest::addRow("many: beside the window") << 2 << int(UpdateAll::RequestBatch) << all << QList<int>{1, 2};
        QTest::addRow("requested two at a time") << 1000 << 2 << all << QList<int>{0, 0};
        // 6 marks in the first run (reason and count of 3 tasks), 3 in the second (the counts).
        QTest::addRow("handed over two a turn") << 1 << int(UpdateAll::RequestBatch) << 2 << QList<int>{3, 5};
    }

    void marksOfARun()
    {
        QFETCH(int, asideFrom);
        QFETCH(int, batch);
        QFETCH(int, perTurn);
        QFETCH(QList<int>, writes);
        TempFolder fixture;
        const QString path = fixture.path("task.db");
        {
            DbFile file(path);
            for (int i = 0; i < 3; ++i)
                file.addTask(i, QStringLiteral("T%1").arg(i), QStringLiteral("http://127.0.0.1:9/%1").arg(i), "t");
        }
        Loaded loaded(path);
        TaskChecker& core = loaded.core;
        core.checks().setWriteAsideFrom(asideFrom);
        core.updater().setRequestBatch(batch);
        core.checks().setMarksPerTurn(perTurn);
        QSignalSpy written(&core.checks(), &CheckStates::marksWritten);
        const auto marks = [&] {
            DbFile file(path);
            return file.column("SELECT task_id || ':' || value FROM task_options WHERE name = ? ORDER BY task_id",
                               {CheckStates::FailuresInRowOption});
        };
        for (const QString& inRow : {QStringLiteral("1"), QStringLiteral("2")}) {
            const Commands::UpdateRun run = core.updater().run();
            QCOMPARE(run.failedPages, 3);
            if (asideFrom > 3)
                QVERIFY(!core.checks().writingMarks());
            // Told through the event loop once written.
            QTRY_COMPARE(written.count(), writes.at(inRow.toInt() - 1));
            QTRY_VERIFY(!core.checks().writingMarks());
            QCOMPARE(marks(), (QStringList{"0:" + inRow, "1:" + inRow, "2:" + inRow}));
            for (Task* task : core.watches().tasks()) {
                QCOMPARE(task->options().value(CheckStates::FailuresInRowOption), inRow);
                QVERIFY(!task->options().value(CheckStates::FailureOption).isEmpty());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestScale)
#include "tst_scale.moc"
