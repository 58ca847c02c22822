// SPDX-License-Identifier: GPL-3.0-or-later
// Links that newly appear on a page, reported when the option is on: recorded without reporting at a task's
// first check, reported once afterwards (update-all and periodic checks), kept in task.db across a restart,
// untouched by failed downloads, recorded by creation and reset, removed with the task, started afresh. A
// feed's new items are reported with the option off as well.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
// A page from "path text" items: each becomes <a href="path">text</a>.
TestServer::Response page(const QStringList& items, int status = 200)
{
    TestServer::Response response;
    response.status = status;
    response.body = "<html><body>\n";
    for (const QString& item : items) {
        const qsizetype blank = item.indexOf(QLatin1Char(' '));
        response.body += "<a href=\"" + item.left(blank).toUtf8() + "\">" + item.mid(blank + 1).toUtf8() + "</a>\n";
    }
    response.body += "</body></html>";
    return response;
}

// An RSS feed from "path title" items, served as a feed.
TestServer::Response feed(const QStringList& items)
{
    TestServer::Response response;
    response.contentType = "application/rss+xml";
    response.body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Jobs</title>\n";
    for (const QString& item : items) {
        const qsizetype blank = item.indexOf(QLatin1Char(' '));
        response.body += "<item><title>" + item.mid(blank + 1).toHtmlEscaped().toUtf8() + "</title><link>" +
                         item.left(blank).toUtf8() + "</link></item>\n";
    }
    response.body += "</channel></rss>";
    return response;
}
} // namespace

class TestNewLinks : public QObject
{
    Q_OBJECT

    TestServer server;

    // One program on a task.db of its own, holding task 0 "Jobs" (keyword "qt", result "qt 1" at /l0 of its
    // page) unless the test creates its tasks itself.
    struct Program
    {
        TempFolder fixture;
        TestClock clock;
        std::unique_ptr<Loaded> parts;
        TaskChecker* checker = nullptr;

        void start(bool report, bool afresh = false)
        {
            parts.reset();
            parts = std::make_unique<Loaded>(fixture, &clock);
            checker = &parts->checker;
            checker->setReportNewLinks(report, afresh);
        }
        Task* task() const { return checker->watches().tasks().value(0); }
        QStringList rows(const QString& sql) { return DbFile(fixture.path("task.db")).column(sql); }
        QStringList seen() { return rows("SELECT link FROM seen_links ORDER BY link"); }
    };

    QString path;

    QString link(const QString& name) const { return server.url(path).resolved(QUrl(name)).toString(); }
    QStringList links(const QStringList& names) const
    {
        QStringList out;
        for (const QString& name : names)
            out << link(name);
        return out;
    }

    void storeTask(Program& program)
    {
        DbFile file(program.fixture.path("task.db"));
        file.addTask(0, "Jobs", server.url(path).toString(), "qt");
        file.addResult(0, "01/01/2009", "qt 1", link("/l0"));
    }

    // One whole check of the page: update-all, or a periodic one (its findings are taken over as its page
    // arrives).
    void check(Program& program, bool periodic)
    {
        if (!periodic) {
            QVERIFY(program.checker->updater().run().ran);
            return;
        }
        program.clock.at = program.clock.at.addDays(1);
        program.checker->periodic().checkDueTasks();
        QTRY_COMPARE(program.checker->fetcher().running() + program.checker->fetcher().queued() +
                         program.checker->source().reader().pending(),
                     0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }
    void init()
    {
        static int serial = 0;
        path = QStringLiteral("/page%1").arg(++serial);
    }

    // The page goes through the steps, one check each, with the option on from the start; the first check
    // records. Then the last page is checked once more: nothing is reported twice.
    void reported_data()
    {
        QTest::addColumn<bool>("periodic");
        QTest::addColumn<QList<TestServer::Response>>("steps");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("seen");
        // /l5 is a keyword link no result holds: seen at the first check, it must never be reported.
        const auto before = page({"/l0 qt 1", "/l1 other", "/l5 qt 5"});
        const auto after = page({"/l0 qt 1", "/l1 other", "/l5 qt 5", "/l2 qt new"});
        const QStringList reportedNew{"qt 1", "qt new"};
        const QStringList seenNew{"/l0", "/l2", "/l5"};
        for (bool periodic : {false, true}) {
            const char* way = periodic ? "periodic" : "update-all";
            QTest::addRow("new link, %s", way) << periodic << QList{before, after} << reportedNew << seenNew;
            QTest::addRow("error page with other links, %s", way)
                << periodic << QList{before, page({"/l3 qt error"}, 404), after} << reportedNew << seenNew;
        }
        QTest::addRow("empty error page") << false << QList{before, page({}, 500), after} << reportedNew << seenNew;
        QTest::addRow("text gains the keyword")
            << false << QList{before, page({"/l0 qt 1", "/l1 qt other", "/l5 qt 5"})} << QStringList{"qt 1", "qt other"}
            << QStringList{"/l0", "/l1", "/l5"};
        QTest::addRow("first check found no keyword link")
            << false << QList{page({"/l1 other"}), page({"/l1 other", "/l2 qt new"})} << reportedNew
            << QStringList{"/l2"};
        QTest::addRow("first check records every link") << false << QList{after} << QStringList{"qt 1"} << seenNew;
    }
    void reported()
    {
        QFETCH(bool, periodic);
        QFETCH(QList<TestServer::Response>, steps);
        QFETCH(QStringList, results);
        QFETCH(QStringList, seen);
        Program program;
        storeTask(program);
        program.start(true);
        steps.append(steps.constLast());
        for (const TestServer::Response& step : std::as_const(steps)) {
            server.setResponse(path, step);
            check(program, periodic);
        }
        QCOMPARE(texts(program.task()->results()), results);
        QCOMPARE(program.rows("SELECT text FROM results ORDER BY id"), results);
        QCOMPARE(program.seen().filter(QStringLiteral("http")), links(seen));
    }

    // task.db already holds /l0 as seen; the page now shows /l2 as well.
    void optionStates_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("afresh");
        QTest::addColumn<QString>("own"); // the task's own choice, empty: none
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("seen");
        QTest::addRow("off: nothing reported, nothing recorded")
            << false << false << "" << QStringList{"qt 1"} << QStringList{"/l0"};
        QTest::addRow("on at start-up: what appeared while closed is reported")
            << true << false << "" << QStringList{"qt 1", "qt new"} << QStringList{"/l0", "/l2"};
        QTest::addRow("turned on: starts afresh")
            << true << true << "" << QStringList{"qt 1"} << QStringList{"/l0", "/l2"};
        QTest::addRow("off, but on for the task")
            << false << false << "1" << QStringList{"qt 1", "qt new"} << QStringList{"/l0", "/l2"};
        QTest::addRow("on, but off for the task") << true << false << "0" << QStringList{"qt 1"} << QStringList{"/l0"};
        QTest::addRow("turned on for the task: starts afresh")
            << false << true << "1" << QStringList{"qt 1"} << QStringList{"/l0", "/l2"};
    }
    void optionStates()
    {
        QFETCH(bool, on);
        QFETCH(bool, afresh);
        QFETCH(QString, own);
        QFETCH(QStringList, results);
        QFETCH(QStringList, seen);
        Program program;
        storeTask(program);
        if (!own.isEmpty() && !afresh)
            QVERIFY(TaskDatabase(program.fixture.path("task.db")).setTaskOption(0, Task::ReportNewLinksOption, own));
        server.setResponse(path, page({"/l0 qt 1", "/l2 qt new"}));
        program.start(on);
        QVERIFY(DbFile(program.fixture.path("task.db")).exec("INSERT INTO seen_links VALUES(0, ?)", {link("/l0")}));
        Task* task = program.task();
        if (afresh && !own.isEmpty()) // the user turns it on for the task in Edit Task
            QCOMPARE(program.checker->editor().run(task, {task->name(),
                                                          task->address(),
                                                          task->keyword(),
                                                          task->frequency(),
                                                          {{Task::ReportNewLinksOption, own}}}),
                     Commands::Outcome::Done);
        else if (afresh) // the user turns it on while the program runs
            program.checker->setReportNewLinks(true, true);
        check(program, false);
        QCOMPARE(program.rows("SELECT text FROM results ORDER BY id"), results);
        QCOMPARE(program.seen().filter(QStringLiteral("http")), links(seen));
    }

    // What appeared while the program was closed is reported by the next program; a result the user removed
    // stays removed while its link is on the page, across a restart too.
    void closedAndRemoved()
    {
        Program program;
        storeTask(program);
        server.setResponse(path, page({"/l0 qt 1"}));
        program.start(true);
        check(program, false);
        server.setResponse(path, page({"/l0 qt 1", "/l2 qt new"}));
        program.start(true);
        check(program, false);
        QCOMPARE(texts(program.task()->results()), (QStringList{"qt 1", "qt new"}));

        Task* task = program.task();
        QVERIFY(program.parts->watches.database().removeResults({task->results().at(1)}));
        task->removeResult(1);
        check(program, false);
        check(program, true);
        program.start(true);
        check(program, false);
        QCOMPARE(texts(program.task()->results()), QStringList{"qt 1"});
        QCOMPARE(program.rows("SELECT text FROM results"), QStringList{"qt 1"});
    }

    // A feed's new items are stored and announced whatever the option says; a changed title of a stored link is
    // reported as for a page; an item whose result was removed is not reported again when it leaves the feed
    // and comes back, nor after a restart; a feed that does not parse fails the check with its reason.
    void feedItems_data()
    {
        QTest::addColumn<bool>("report");
        QTest::addColumn<bool>("periodic");
        for (bool report : {false, true}) {
            for (bool periodic : {false, true})
                QTest::addRow("option %s, %s", report ? "on" : "off", periodic ? "periodic" : "update-all")
                    << report << periodic;
        }
    }
    void feedItems()
    {
        QFETCH(bool, report);
        QFETCH(bool, periodic);
        Program program;
        program.start(report);
        QStringList announced;
        const auto checkFeed = [&](const TestServer::Response& response) {
            server.setResponse(path, response);
            if (periodic) {
                QSignalSpy found(&program.checker->periodic(), &PeriodicChecks::resultsFound);
                check(program, true);
                for (const QList<QVariant>& signal : std::as_const(found))
                    announced += texts(signal.at(1).value<Task::ResultList>());
                return;
            }
            const Commands::UpdateRun run = program.checker->updater().run();
            for (const TaskNews& news : run.news)
                announced += texts(news.results);
        };
        server.setResponse(path, feed({"/a qt one", "/b other"}));
        const Commands::Created created =
            program.checker->creator().run({"Jobs", server.url(path).toString(), "qt", 60, {}});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(texts(created.task->results()), QStringList{"qt one"});

        checkFeed(feed({"/c qt <b>two</b> & more", "/a qt one", "/b other"}));
        checkFeed(feed({"/c qt <b>two</b> & more", "/a qt one, edited", "/b other"}));
        QCOMPARE(announced, (QStringList{"qt two & more", "qt one, edited"}));
        QCOMPARE(program.rows("SELECT link FROM results ORDER BY id"), links({"/a", "/c", "/a"}));

        const int two = int(texts(created.task->results()).indexOf("qt two & more"));
        QVERIFY(program.checker->watches().removeResults(created.task, {created.task->results().at(two)}));
        checkFeed(feed({"/a qt one, edited"}));
        checkFeed(feed({"/c qt <b>two</b> & more", "/a qt one, edited"}));
        program.start(report);
        checkFeed(feed({"/c qt <b>two</b> & more", "/d qt three", "/a qt one, edited"}));
        QCOMPARE(announced, (QStringList{"qt two & more", "qt one, edited", "qt three"}));
        QCOMPARE(program.rows("SELECT text FROM results ORDER BY id"),
                 (QStringList{"qt one", "qt one, edited", "qt three"}));

        // A reset records the feed's items as seen: a result removed after it is not reported again.
        server.setResponse(path, feed({"/e qt four", "/a qt one, edited"}));
        QCOMPARE(program.checker->resetter().run(program.task()), Commands::Outcome::Done);
        QVERIFY(program.checker->watches().removeResults(program.task(), {program.task()->results().at(0)}));
        checkFeed(feed({"/e qt four", "/a qt one, edited"}));
        QCOMPARE(texts(program.task()->results()), QStringList{"qt one, edited"});

        TestServer::Response broken = feed({"/e qt four"});
        broken.body.chop(6);
        checkFeed(broken);
        QVERIFY2(program.checker->checks().checkFailure(program.task()).startsWith("the feed could not be read: line "),
                 qPrintable(program.checker->checks().checkFailure(program.task())));
    }

    // Creation records the page's keyword links (replacing rows left under the id), reset records the new
    // page's, and removing the task removes them.
    void createResetRemove()
    {
        Program program;
        program.start(true);
        QVERIFY(DbFile(program.fixture.path("task.db")).exec("INSERT INTO seen_links VALUES(0, 'http://old/x')"));
        server.setResponse(path, page({"/l0 qt 1", "/l1 qt 2", "/l9 other"}));
        const Commands::Created created =
            program.checker->creator().run({"Jobs", server.url(path).toString(), "qt", 60, {}});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(program.seen().filter(QStringLiteral("http")), links({"/l0", "/l1"}));

        server.setResponse(path, page({"/l0 qt 1", "/l1 qt 2", "/l2 qt 3"}));
        check(program, false);
        QCOMPARE(texts(created.task->results()), (QStringList{"qt 1", "qt 2", "qt 3"}));

        server.setResponse(path, page({"/l0 qt 1", "/l4 qt 4"}));
        QCOMPARE(program.checker->resetter().run(created.task), Commands::Outcome::Done);
        QCOMPARE(program.seen().filter(QStringLiteral("http")), links({"/l0", "/l4"}));
        server.setResponse(path, page({"/l0 qt 1", "/l4 qt 4", "/l2 qt 3"}));
        check(program, false);
        QCOMPARE(texts(created.task->results()), (QStringList{"qt 1", "qt 4", "qt 3"}));

        QVERIFY(program.checker->watches().removeTask(created.task));
        QCOMPARE(program.seen(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestNewLinks)
#include "tst_newlinks.moc"
