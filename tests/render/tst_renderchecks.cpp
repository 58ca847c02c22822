// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks that run their page's scripts: every kind of check gets the page from vantrel-render and takes it
// over as a downloaded one; a missing or killed helper fails the check and nothing is stored; quitting ends
// a render at once.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/app/appfixture.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/testserver.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

namespace {
// A job board that builds its list from JSON after loading, as many do.
const QByteArray kBoard = R"(<html><body><h1>Jobs</h1><ul id="jobs"></ul><script>
fetch('/board.json').then(function (r) { return r.json(); }).then(function (jobs) {
  jobs.forEach(function (job) {
    var a = document.createElement('a'); a.href = job.href; a.textContent = job.title;
    var li = document.createElement('li'); li.appendChild(a); document.getElementById('jobs').appendChild(li);
  });
});
</script></body></html>)";
const QByteArray kNeverLoads = R"(<html><body><script src="/never.js"></script></body></html>)";

QByteArray jobs(const QString& firstTitle)
{
    return QStringLiteral(R"([{"href": "/job/1", "title": "%1"}, {"href": "/about", "title": "About us"}])")
        .arg(firstTitle)
        .toUtf8();
}
const QHash<QString, QString> kScripts{{Task::scriptsOption(), QStringLiteral("1")}};
} // namespace

struct Checker
{
    TaskDatabase db;
    TaskChecker checker{db};
    explicit Checker(const AppFixture& fixture, const Clock* clock = nullptr) : db(fixture.path("task.db"))
    {
        checker.setClock(clock);
        checker.renderer().setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        checker.renderer().setExtraArguments({QStringLiteral("--quiet-ms"), QStringLiteral("300")});
    }
    bool idle() { return checker.renderer().running() + checker.renderer().queued() == 0; }
};

class TestRenderChecks : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setPage("/board", kBoard);
        server.setPage("/never-loads", kNeverLoads);
        TestServer::Response never;
        never.never = true;
        server.setResponse("/never.js", never);
    }

    // Creation, update-all, the periodic check and reset each render the page; a plain task beside it is
    // still downloaded.
    void everyCheckRenders()
    {
        AppFixture fixture;
        TestClock clock;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        Checker c(fixture, &clock);
        TaskChecker& checker = c.checker;
        const TaskChecker::Created created =
            checker.createTask("Board", server.url("/board").toString(), "job", 3600, kScripts);
        QCOMPARE(created.outcome, TaskChecker::Outcome::Done);
        Task* task = created.task;
        QCOMPARE(texts(task->results()), QStringList{"Job: welder"});
        QCOMPARE(task->results().at(0)->link, server.url("/job/1").toString());
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT name || '=' || value FROM task_options"),
                 QStringList{"scripts=1"});
        // The same page downloaded plainly shows no job at all.
        const TaskChecker::Created plain = checker.createTask("Plain", server.url("/board").toString(), "Jobs", 3600);
        QCOMPARE(texts(plain.task->results()), QStringList{});

        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        const TaskChecker::UpdateRun run = checker.updateAll();
        QCOMPARE(run.failedPages, 0);
        QVERIFY(run.anyNew);
        QCOMPARE(texts(task->results()), (QStringList{"Job: welder", "Job: welder (senior)"}));

        // The periodic check: its finding is taken over by the next due run at the latest.
        server.setPage("/board.json", jobs("Job: welder (night)"), "application/json");
        for (int round = 0; round < 2; ++round) {
            clock.at = clock.at.addSecs(2 * 3600);
            checker.checkDueTasks();
            QTRY_VERIFY_WITH_TIMEOUT(c.idle(), 15000);
        }
        QTRY_VERIFY(DbFile(fixture.path("task.db"))
                        .column("SELECT text FROM results WHERE taskid = " + QString::number(task->taskId()))
                        .contains("Job: welder (night)"));

        QCOMPARE(checker.resetResults(task), TaskChecker::Outcome::Done);
        QCOMPARE(texts(task->results()), QStringList{"Job: welder (night)"});
        QCOMPARE(checker.renderer().peakRunning(), 1);
    }

    // The options reach tasks loaded from the file, so a restarted program renders them too.
    void loadedTaskRenders()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: baker"), "application/json");
        {
            Checker c(fixture);
            QCOMPARE(c.checker.createTask("Board", server.url("/board").toString(), "job", 60, kScripts).outcome,
                     TaskChecker::Outcome::Done);
        }
        server.setPage("/board.json", jobs("Job: baker (part time)"), "application/json");
        Checker c(fixture);
        c.checker.loadTasks();
        QCOMPARE(c.checker.tasks().size(), 1);
        QVERIFY(c.checker.tasks().at(0)->runsScripts());
        QVERIFY(c.checker.updateAll().anyNew);
    }

    // The document the helper returns goes through the region and the left-out words as a downloaded page does.
    void regionOfRenderedPage()
    {
        AppFixture fixture;
        server.setPage("/board-nav", "<nav><a href='/all'>All jobs</a></nav>" + kBoard);
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        Checker c(fixture);
        QHash<QString, QString> options = kScripts;
        options.insert(Task::RegionOption, "#jobs li");
        options.insert(Task::ExcludedWordsOption, "night");
        const TaskChecker::Created created =
            c.checker.createTask("Board", server.url("/board-nav").toString(), "job", 3600, options);
        QCOMPARE(created.outcome, TaskChecker::Outcome::Done);
        QCOMPARE(texts(created.task->results()), QStringList{"Job: welder"});
        server.setPage("/board.json", jobs("Job: welder (night)"), "application/json");
        QVERIFY(!c.checker.updateAll().anyNew);
        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        QVERIFY(c.checker.updateAll().anyNew);
        QCOMPARE(texts(created.task->results()), (QStringList{"Job: welder", "Job: welder (senior)"}));
    }

    void helperMissing()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        Checker c(fixture);
        c.checker.renderer().setProgram(fixture.path("vantrel-render"));
        const TaskChecker::Created created =
            c.checker.createTask("Board", server.url("/board").toString(), "job", 60, kScripts);
        QCOMPARE(created.outcome, TaskChecker::Outcome::FetchFailed);
        QCOMPARE(created.failureReason, PageRenderRunner::missingMessage());
        const TaskChecker::UpdateRun run = c.checker.updateAll();
        QCOMPARE(run.failedPages, 1);
        QCOMPARE(c.checker.checkFailure(created.task), PageRenderRunner::missingMessage());
    }

    // The helper killed while it renders: a failed check, nothing stored; the next check works.
    void killedMidRender()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        server.setPage("/flaky", kBoard);
        Checker c(fixture);
        TaskChecker& checker = c.checker;
        Task* task = checker.createTask("Board", server.url("/flaky").toString(), "job", 60, kScripts).task;
        QVERIFY(task);
        const QStringList before = DbFile(fixture.path("task.db")).column("SELECT text FROM results");

        server.setPage("/flaky", kNeverLoads);
        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        QTimer::singleShot(1000, this, [&checker] {
            for (qint64 pid : checker.renderer().processIds())
                ::kill(pid_t(pid), SIGKILL);
        });
        const TaskChecker::UpdateRun killed = checker.updateAll();
        QCOMPARE(killed.failedPages, 1);
        QVERIFY(!killed.anyNew);
        QVERIFY(!checker.checkFailure(task).isEmpty());
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results"), before);

        server.setPage("/flaky", kBoard);
        const TaskChecker::UpdateRun next = checker.updateAll();
        QCOMPARE(next.failedPages, 0);
        QVERIFY(next.anyNew);
        QVERIFY(checker.checkFailure(task).isEmpty());
    }

    // Quit while a new task's page renders: the wait ends at once and the helper is gone.
    void quitDuringRender()
    {
        AppFixture fixture;
        Checker c(fixture);
        QList<qint64> pids;
        QTimer::singleShot(500, this, [&c, &pids] {
            pids = c.checker.renderer().processIds();
            c.checker.abortWaits();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(c.checker.createTask("Never", server.url("/never-loads").toString(), "job", 60, kScripts).outcome,
                 TaskChecker::Outcome::Aborted);
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(pids.size(), 1);
        QVERIFY(::kill(pid_t(pids[0]), 0) != 0);
        QVERIFY(c.checker.tasks().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRenderChecks)
#include "tst_renderchecks.moc"
