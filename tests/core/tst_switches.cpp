// SPDX-License-Identifier: GPL-3.0-or-later
// Pause and mute: a paused task is never downloaded, a muted one is checked and stored but not announced; both
// are kept by task.db, an edit, an export and an import.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QSignalSpy>
#include <QTest>

class TestSwitches : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void pausedAndMuted_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("muted");
        QTest::addRow("neither") << false << false;
        QTest::addRow("paused") << true << false;
        QTest::addRow("muted") << false << true;
        QTest::addRow("both") << true << true;
    }
    void pausedAndMuted()
    {
        QFETCH(bool, paused);
        QFETCH(bool, muted);
        TempFolder fixture;
        TestClock clock;
        const QString path = QStringLiteral("/switch/%1").arg(QTest::currentDataTag());
        const QString link = server.url("/l0").toString();
        // The stored result's link shows a new text at every check: each check that reads the page finds one.
        int edition = 0;
        const auto nextPage = [&] {
            ++edition;
            server.setPage(path, "<a href=\"/l0\">qt " + QByteArray::number(edition) + "</a>");
        };
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", 3600, clock.at.toString(Qt::ISODate));
            file.addResult(0, "01/01/2009", "qt 0", link);
        }
        {
            Loaded loaded(fixture, &clock);
            TaskChecker& checker = loaded.checker;
            Task* task = checker.tasks().at(0);
            QCOMPARE(checker.setSwitch(task, TaskChecker::Switch::Paused, paused), TaskChecker::Outcome::Done);
            QCOMPARE(checker.setSwitch(task, TaskChecker::Switch::Muted, muted), TaskChecker::Outcome::Done);
            // An edit of the task's definition keeps both.
            QCOMPARE(checker.editTask(task, "B", task->address(), task->grabText(), task->frequency(),
                                      QHash<QString, QString>{}),
                     TaskChecker::Outcome::Done);
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.tasks().at(0);
        QCOMPARE(task->isPaused(), paused);
        QCOMPARE(task->isMuted(), muted);
        QSignalSpy runNews(&checker, &TaskChecker::runNewsFound);
        for (int run = 0; run < 3; ++run) {
            nextPage();
            clock.at = clock.at.addSecs(3600);
            QCOMPARE(checker.checkDueTasks().started.size(), paused ? 0 : 1);
            if (!paused)
                QTRY_COMPARE(DbFile(fixture.path("task.db")).count("results"), 2 + run);
        }
        nextPage();
        const TaskChecker::UpdateRun update = checker.updateAll();
        QCOMPARE(server.hits(path), paused ? 0 : 4);
        QCOMPARE(DbFile(fixture.path("task.db")).count("results"), paused ? 1 : 5);
        QCOMPARE(update.anyNew, !paused);
        QCOMPARE(update.news.size(), paused || muted ? 0 : 1);
        QTest::qWait(20);
        QCOMPARE(runNews.count(), paused || muted ? 0 : 3);

        // Carried by an export into another task.db; a paused task is imported without a download.
        const TaskExchange::Read read = TaskExchange::parse(TaskExchange::toJson(checker.tasks(), false));
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        TempFolder other;
        Loaded imported(other);
        QCOMPARE(imported.checker.importTasks(read.tasks).imported, 1);
        QCOMPARE(imported.checker.tasks().at(0)->isPaused(), paused);
        QCOMPARE(imported.checker.tasks().at(0)->isMuted(), muted);
        QCOMPARE(server.hits(path), paused ? 0 : 5);
    }
};

QTEST_GUILESS_MAIN(TestSwitches)
#include "tst_switches.moc"
