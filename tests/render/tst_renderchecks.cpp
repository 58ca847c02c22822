// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks that run their page's scripts: every kind of check gets the page from vantrel-render and takes it
// over as a downloaded one; a missing or killed helper fails the check and nothing is stored; quitting ends
// a render at once.
#include "app/mainwindow.h"
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/app/appfixture.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/testserver.h"

#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
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
// A page that loads scripts from another port of its host and from another host, and builds its list
// from JSON of its own site.
QByteArray signedInPage(quint16 port)
{
    return QStringLiteral(R"(<html><body><ul id="jobs"></ul>
<script src="%1"></script><script src="%2"></script>
<script>fetch('/own.json').then(function (r) { return r.json(); }).then(function (jobs) {
  jobs.forEach(function (job) { var a = document.createElement('a'); a.href = job.href; a.textContent = job.title;
    document.getElementById('jobs').appendChild(a); });
});</script></body></html>)")
        .arg(QStringLiteral("http://127.0.0.1:%1/port.js").arg(port),
             QStringLiteral("http://127.0.0.2:%1/host.js").arg(port))
        .toUtf8();
}

// The command lines of a process and of its children, their arguments joined by blanks.
QList<QByteArray> commandLines(qint64 pid)
{
    QList<QByteArray> lines;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the parent is the second field after the name.
        const QByteArray text = stat.readAll();
        const qint64 parent = text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
        if (entry.toLongLong() != pid && parent != pid)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (cmdline.open(QIODevice::ReadOnly))
            lines.append(cmdline.readAll().replace('\0', ' '));
    }
    return lines;
}
const QHash<QString, QString> kScripts{{Task::scriptsOption(), QStringLiteral("1")}};
} // namespace

struct Checker
{
    TaskDatabase db;
    WatchList watches{db};
    TaskChecker checker{watches};
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
        const Commands::Created created =
            checker.creator().run({"Board", server.url("/board").toString(), "job", 3600, kScripts});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        Task* task = created.task;
        QCOMPARE(texts(task->results()), QStringList{"Job: welder"});
        QCOMPARE(task->results().at(0)->link, server.url("/job/1").toString());
        QCOMPARE(DbFile(fixture.path("task.db"))
                     .column("SELECT name || '=' || value FROM task_options WHERE name NOT LIKE 'look_%'"),
                 QStringList{"scripts=1"});
        // The same page downloaded plainly shows no job at all.
        const Commands::Created plain =
            checker.creator().run({"Plain", server.url("/board").toString(), "Jobs", 3600, {}});
        QCOMPARE(texts(plain.task->results()), QStringList{});

        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        const Commands::UpdateRun run = checker.updater().run();
        QCOMPARE(run.failedPages, 0);
        QVERIFY(run.anyNew);
        QCOMPARE(texts(task->results()), (QStringList{"Job: welder", "Job: welder (senior)"}));

        // The periodic check: its finding is taken over by the next due run at the latest.
        server.setPage("/board.json", jobs("Job: welder (night)"), "application/json");
        for (int round = 0; round < 2; ++round) {
            clock.at = clock.at.addSecs(2 * 3600);
            checker.periodic().checkDueTasks();
            QTRY_VERIFY_WITH_TIMEOUT(c.idle(), 15000);
        }
        QTRY_VERIFY(DbFile(fixture.path("task.db"))
                        .column("SELECT text FROM results WHERE taskid = " + QString::number(task->taskId()))
                        .contains("Job: welder (night)"));

        QCOMPARE(checker.resetter().run(task), Commands::Outcome::Done);
        QCOMPARE(texts(task->results()), QStringList{"Job: welder (night)"});
        QCOMPARE(checker.renderer().peakRunning(), 1);
    }

    // The task's User-Agent goes with every request of its page, its other headers (a cookie among them)
    // with the requests to its own scheme, host and port only; neither is on a helper's command line.
    void headersGoToTheTasksSiteOnly()
    {
        TestServer other; // another port of the same host, and another host
        QVERIFY(other.listen(QHostAddress::Any));
        other.setPage("/port.js", "var a = 1;", "text/javascript");
        other.setPage("/host.js", "var b = 1;", "text/javascript");
        const QByteArray page = signedInPage(other.port());
        server.setPage("/signed-in", page);
        server.setPage("/own.json", jobs("Job: signed in"), "application/json");

        AppFixture fixture;
        Checker c(fixture);
        QHash<QString, QString> options = kScripts;
        options.insert(QString::fromLatin1(Task::UserAgentOption), QStringLiteral("Agent/7 (watching)"));
        options.insert(QString::fromLatin1(Task::RequestHeadersOption),
                       QStringLiteral("Cookie: session=s3cret\nX-Token: t0k"));
        const Commands::Created created =
            c.checker.creator().run({"Board", server.url("/signed-in").toString(), "job", 60, options});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(texts(created.task->results()), QStringList{"Job: signed in"});

        struct Seen
        {
            const TestServer& at;
            QString path;
            bool own;
        };
        for (const Seen& seen : {Seen{server, "/signed-in", true}, Seen{server, "/own.json", true},
                                 Seen{other, "/port.js", false}, Seen{other, "/host.js", false}}) {
            QCOMPARE(seen.at.lastHeader(seen.path, "user-agent"), QByteArray("Agent/7 (watching)"));
            QCOMPARE(seen.at.lastHeader(seen.path, "cookie"), seen.own ? QByteArray("session=s3cret") : QByteArray());
            QCOMPARE(seen.at.lastHeader(seen.path, "x-token"), seen.own ? QByteArray("t0k") : QByteArray());
        }
        // The helper waits for the next page: it and the engine's processes it started are still there.
        const QList<qint64> helpers = c.checker.renderer().processIds();
        QCOMPARE(helpers.size(), 1);
        for (const QByteArray& line : commandLines(helpers[0])) {
            QVERIFY2(!line.contains("s3cret") && !line.contains("t0k") && !line.contains("Agent/7"), line.constData());
        }
    }

    // Through the window: New Task with the box ticked renders the page and stores the option; an edit that
    // turns the scripts off says that Reset Results reads the page afresh.
    void newAndEditTaskThroughTheWindow()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        WindowParts parts;
        parts.core.renderer().setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        MainWindow& window = *parts.window;
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditTaskName"), "Board");
            QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditWebaddress"), server.url("/board").toString());
            QTest::keyClicks(dialog->findChild<QLineEdit*>("lineEditGrabtext"), "job");
            auto* box = dialog->findChild<QCheckBox*>("checkBoxRunScripts");
            QVERIFY(box && box->isEnabled());
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QVERIFY(box->isChecked());
            QTest::mouseClick(dialog->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            answered = true;
        });
        window.findChild<QAction*>("action_New_Task")->trigger();
        QVERIFY(answered);
        DbFile db(fixture.path("task.db"));
        // A task made in the dialog keeps the Options' choice of reporting new links as its own.
        QCOMPARE(db.column("SELECT name || '=' || value FROM task_options WHERE name NOT LIKE 'look_%' ORDER BY name"),
                 (QStringList{"report_new_links=0", "scripts=1"}));
        QCOMPARE(db.column("SELECT text FROM results"), QStringList{"Job: welder"});

        answered = false;
        QTimer::singleShot(0, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            auto* box = dialog->findChild<QCheckBox*>("checkBoxRunScripts");
            QVERIFY(box->isChecked());
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QTest::mouseClick(dialog->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            answered = true;
        });
        window.findChild<QAction*>("actionEdit_Task")->trigger();
        QVERIFY(answered);
        QCOMPARE(db.column("SELECT name FROM task_options WHERE name NOT LIKE 'look_%'"),
                 QStringList{"report_new_links"});
        QCOMPARE(window.statusBar()->currentMessage(),
                 QString("Task Board changed. Use Reset Results to rebuild its results from the new page."));
        window.close();
    }

    // The options reach tasks loaded from the file, so a restarted program renders them too.
    void loadedTaskRenders()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: baker"), "application/json");
        {
            Checker c(fixture);
            QCOMPARE(c.checker.creator().run({"Board", server.url("/board").toString(), "job", 60, kScripts}).outcome,
                     Commands::Outcome::Done);
        }
        server.setPage("/board.json", jobs("Job: baker (part time)"), "application/json");
        Checker c(fixture);
        c.checker.watches().loadTasks();
        QCOMPARE(c.checker.watches().tasks().size(), 1);
        QVERIFY(c.checker.watches().tasks().at(0)->runsScripts());
        QVERIFY(c.checker.updater().run().anyNew);
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
        const Commands::Created created =
            c.checker.creator().run({"Board", server.url("/board-nav").toString(), "job", 3600, options});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(texts(created.task->results()), QStringList{"Job: welder"});
        server.setPage("/board.json", jobs("Job: welder (night)"), "application/json");
        QVERIFY(!c.checker.updater().run().anyNew);
        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        QVERIFY(c.checker.updater().run().anyNew);
        QCOMPARE(texts(created.task->results()), (QStringList{"Job: welder", "Job: welder (senior)"}));
    }

    void helperMissing()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        Checker c(fixture);
        c.checker.renderer().setProgram(fixture.path("vantrel-render"));
        const Commands::Created created =
            c.checker.creator().run({"Board", server.url("/board").toString(), "job", 60, kScripts});
        QCOMPARE(created.outcome, Commands::Outcome::FetchFailed);
        QCOMPARE(created.failureReason, PageRenderRunner::missingMessage());
        const Commands::UpdateRun run = c.checker.updater().run();
        QCOMPARE(run.failedPages, 1);
        QCOMPARE(c.checker.checks().checkFailure(created.task), PageRenderRunner::missingMessage());
    }

    // The helper killed while it renders: a failed check, nothing stored; the next check works.
    void killedMidRender()
    {
        AppFixture fixture;
        server.setPage("/board.json", jobs("Job: welder"), "application/json");
        server.setPage("/flaky", kBoard);
        Checker c(fixture);
        TaskChecker& checker = c.checker;
        Task* task = checker.creator().run({"Board", server.url("/flaky").toString(), "job", 60, kScripts}).task;
        QVERIFY(task);
        const QStringList before = DbFile(fixture.path("task.db")).column("SELECT text FROM results");

        server.setPage("/flaky", kNeverLoads);
        server.setPage("/board.json", jobs("Job: welder (senior)"), "application/json");
        QTimer::singleShot(1000, this, [&checker] {
            for (qint64 pid : checker.renderer().processIds())
                ::kill(pid_t(pid), SIGKILL);
        });
        const Commands::UpdateRun killed = checker.updater().run();
        QCOMPARE(killed.failedPages, 1);
        QVERIFY(!killed.anyNew);
        QVERIFY(!checker.checks().checkFailure(task).isEmpty());
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT text FROM results"), before);

        server.setPage("/flaky", kBoard);
        const Commands::UpdateRun next = checker.updater().run();
        QCOMPARE(next.failedPages, 0);
        QVERIFY(next.anyNew);
        QVERIFY(checker.checks().checkFailure(task).isEmpty());
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
        QCOMPARE(c.checker.creator().run({"Never", server.url("/never-loads").toString(), "job", 60, kScripts}).outcome,
                 Commands::Outcome::Aborted);
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(pids.size(), 1);
        QVERIFY(::kill(pid_t(pids[0]), 0) != 0);
        QVERIFY(c.checker.watches().tasks().isEmpty());
    }
};

QTEST_MAIN(TestRenderChecks)
#include "tst_renderchecks.moc"
