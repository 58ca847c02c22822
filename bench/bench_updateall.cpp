// SPDX-License-Identifier: GPL-3.0-or-later
// Update Tasks Now over 200 tasks whose pages (75 KB, 1,000 links, 334 with the keyword, all stored) each changed
// one link's text, served on loopback as the web answers: over 20 hosts (127.0.0.1 to 127.0.0.20) after 0.2 s,
// and from one host at once. Each way runs in a process of its own so one's peak memory does not hide the
// other's: the program's update-all (all pages at once through one network manager) and the sequential way
// (one page after another, one request in flight, each compared and stored as it arrives). Prints time (until what
// the run left queued for the window has run), idle and peak resident memory (the peak taken afresh once the tasks
// are loaded), and whether both left the same rows in task.db.
// First one page's cost split into its steps (decoding, the scan, forming the links, the comparison with the stored
// results, storing the change), beside the whole as one thread ran it before and the part left to the window thread
// now that a worker reads the page. Then update-all with new links reported against without, over pages that show 10
// new keyword links each since their links were last recorded as seen: the rows each way stored. Update-all runs a
// third way too: the program's, with every page read on the window thread as it arrives (no workers), as it was before.
// Then 200 tasks falling due at once: the time until every background check has delivered and the peak thread count.
//
// Beside them a plain parallel client (one network manager asked for every page at once, bodies read and dropped),
// the pace the program's update-all is held to: their ratio is printed. It is a fair one: it reads the whole bodies
// of the same pages (the bytes it read are printed, the pages' sum), all 200 asked for at once as a browser asks, over
// the six connections a host gets from Qt's network manager, as from a browser, and as the program's fetcher is held
// to per host. More connections to one host would make it no plain client of a site but a load test.
//
// Then update-all with a region on every task against the same without one, on one host answering at once.
//
// bench_updateall [--tasks N] [--quick] [--runs N] [--steps]: with --quick, only the program's own way and the plain
// client in both update-all scenarios and the region case; with --runs, the two update-all scenarios N times (the
// sequential way once), the ways taking turns, each way's figures those of its median run, after the time of every
// run; with --steps, only the one page's steps.
#include "app/mainwindow.h"
#include "bench/benchdb.h"
#include "bench/benchpages.h"
#include "bench/benchprocess.h"
#include "core/monitorparts.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/matching/linkscanner.h"
#include "engine/matching/readingresult.h"
#include "engine/tools.h"
#include "storage/taskdatabase.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {
using BenchPages::hasKeyword;
using BenchPages::linkPath;
using BenchPages::Links;
using BenchPages::page;
using BenchPages::text;
constexpr int Hosts = 20;
constexpr int DelayMs = 200;
constexpr int NewLinks = 10;

QString host(bool spread, int task)
{
    return spread ? QStringLiteral("127.0.0.%1").arg(1 + task % Hosts) : QStringLiteral("127.0.0.1");
}

// "late" and "fresh" (with new links) answer after DelayMs, "now" at once.
QString pagePath(const char* kind, int task)
{
    return QStringLiteral("/%1/t%2/news.html").arg(QLatin1String(kind)).arg(task);
}

// ---- the child processes ----

// The program's parts as its start builds them, in the current folder.
struct Program
{
    MonitorParts parts;
    Settings settings;
    TaskChecker& core = parts.core;
    const bool started = parts.start(Options{});
    MainWindow window{core, settings};
};

int runUpdateAll(bool sequential, bool reportNewLinks, bool onWindowThread)
{
    Program program;
    MainWindow& window = program.window;
    if (onWindowThread)
        window.checker().source().reader().setWorkers(0);
    // As at a start with the option on: what task.db recorded as seen is compared with each page.
    window.checker().setReportNewLinks(reportNewLinks);
    // A program that has been running has fetched pages before: its network stack (the HTTP thread, the
    // TLS library) is loaded. One page fetched through each way's own kind of manager brings it up here.
    {
        Task* first = window.taskList().value(0);
        bool done = false;
        window.checker().fetcher().fetch(first ? first->address() : QString(), &window,
                                         [&](const FetchedPage&) { done = true; });
        waitUntil([&] { return done; });
    }
    const qint64 idleKb = ProcStatus::residentKb();
    resetPeakMemory();
    ThreadSampler threads;
    QElapsedTimer timer;
    timer.start();
    QString status;
    if (sequential) {
        // One page after another, one request in flight, compared and stored task by task.
        TaskDatabase db;
        PageFetcher fetcher;
        fetcher.setMaxInFlight(1);
        const QDate today = QDate::currentDate();
        for (Task* task : window.taskList()) {
            std::optional<FetchedPage> fetched;
            fetcher.fetch(task->address(), &fetcher, [&fetched](const FetchedPage& page) { fetched = page; });
            waitUntil([&fetched] { return fetched.has_value(); });
            if (fetched->ok && task->takeUpdatePage(*fetched, today) &&
                db.storeChanges({TaskChange{task->taskId(), task->updateResults(), {}, {}}}))
                task->appendResults(task->updateResults());
        }
        status = QStringLiteral("Update for all tasks finished!");
    } else {
        window.findChild<QAction*>(QStringLiteral("actionUpdate_Tasks"))->trigger();
        status = window.statusBar()->currentMessage();
        // What the run left queued for the window (the counts of the tray's tooltip, for one) is part of its time.
        QCoreApplication::processEvents();
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("%.0f %lld %lld %d %s\n", ms, static_cast<long long>(idleKb),
                static_cast<long long>(ProcStatus::peakResidentKb()), threads.peak(), qPrintable(status));
    return 0;
}

// The plain parallel client the program's update-all is held against: every page of task.db's tasks asked of one
// network manager at once, each body read whole as it ends, nothing compared or stored.
int runPlain()
{
    QStringList addresses;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(QStringLiteral("task.db"));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT address FROM tasks ORDER BY id"), db);
            while (query.next())
                addresses << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
    QNetworkAccessManager manager;
    const auto fetchAll = [&manager](const QStringList& which) {
        qint64 bytes = 0;
        qsizetype left = which.size();
        for (const QString& address : which) {
            QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(address)));
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &bytes, &left] {
                bytes += reply->readAll().size();
                reply->deleteLater();
                --left;
            });
        }
        waitUntil([&left] { return left == 0; });
        return bytes;
    };
    fetchAll(addresses.mid(0, 1)); // the network stack brought up, as for the program
    const qint64 idleKb = ProcStatus::residentKb();
    resetPeakMemory();
    ThreadSampler threads;
    QElapsedTimer timer;
    timer.start();
    const qint64 bytes = fetchAll(addresses);
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("%.0f %lld %lld %d %lld bytes read\n", ms, static_cast<long long>(idleKb),
                static_cast<long long>(ProcStatus::peakResidentKb()), threads.peak(), static_cast<long long>(bytes));
    return 0;
}

int runDue()
{
    Program program;
    MainWindow& window = program.window;
    struct Later : Clock
    {
        QDateTime now() const override { return QDateTime::currentDateTime().addDays(1); }
    } later;
    window.checker().setClock(&later);
    ThreadSampler threads;
    const QList<Task*> tasks = window.taskList();
    QElapsedTimer timer;
    timer.start();
    window.checker().periodic().checkDueTasks();
    waitUntil([&] {
        for (const Task* task : tasks) {
            if (task->updateResults().isEmpty())
                return false;
        }
        return true;
    });
    std::printf("%.0f %d\n", timer.nsecsElapsed() / 1e6, threads.peak());
    return 0;
}

// ---- one page in steps ----

// Best of a number of runs, in microseconds.
double bestUs(const std::function<void()>& work)
{
    double best = 1e300;
    for (int run = 0; run < 50; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = qMin(best, timer.nsecsElapsed() / 1e3);
    }
    return best;
}

void pageSteps(const QString& folder)
{
    const QString address = QStringLiteral("http://127.0.0.1:8080%1").arg(pagePath("late", 0));
    FetchedPage fetched;
    fetched.ok = true;
    fetched.body = page(0, 2);
    fetched.contentType = "text/html; charset=utf-8";
    fetched.url = QUrl(address);
    Task task(0, {QStringLiteral("Task 0"), address, QStringLiteral("item"), 3600, {}});
    Task::ResultList stored;
    for (int link = 0; link < Links; link += 3)
        stored.append(Task::ResultPtr::create(TaskResult{0, QDate(2026, 1, 1), text(0, link, 1),
                                                         QStringLiteral("http://127.0.0.1:8080") + linkPath(0, link),
                                                         StateRead}));
    task.setResults(stored);
    const QDate today = QDate::currentDate();

    const QString decoded = PageFetch::decode(fetched.body, fetched.contentType);
    QStringList hrefs;
    const auto scan = [&](QStringList* keep) {
        const LinkScanner::PageLinks links(decoded);
        links.scan([&](const LinkScanner::Match& match) {
            if (match.text.contains(task.keyword(), Qt::CaseInsensitive) && keep)
                keep->append(match.href.toString());
        });
    };
    scan(&hrefs);
    const QUrl base(address);
    const LinkRule rule = task.linkRule();
    FetchedPage read = fetched;
    read.reading = std::make_shared<const PageReading>(Task::readPage(fetched, rule));
    task.takeUpdatePage(read, today);
    const Task::ResultList change = task.updateResults();

    TaskDatabase db(QDir(folder).filePath(QStringLiteral("steps.db")));
    db.storeChanges({TaskChange{0, stored, {}, {}}});
    const auto store = [&] { db.storeChanges({TaskChange{0, change, {}, {}}}); };

    const double decode = bestUs([&] { PageFetch::decode(fetched.body, fetched.contentType); });
    const double scanning = bestUs([&] { scan(nullptr); });
    const double forming = bestUs([&] {
        for (const QString& href : std::as_const(hrefs))
            Tools::absoluteLink(base, href);
    });
    const Tools::LinkResolver resolver(base);
    const double resolving = bestUs([&] {
        for (const QString& href : std::as_const(hrefs))
            resolver(href);
    });
    const double reading = bestUs([&] { Task::readPage(fetched, rule); });
    // The same with a region on the task: read from the page's text where the region and the page are plain.
    LinkRule inItems = rule;
    inItems.region = QStringLiteral("li");
    LinkRule inBody = rule;
    inBody.region = QStringLiteral("body > li");
    const double readingItems = bestUs([&] { Task::readPage(fetched, inItems); });
    const double readingBody = bestUs([&] { Task::readPage(fetched, inBody); });
    const bool sameLinks = Task::readPage(fetched, inItems).found == read.reading->found &&
                           Task::readPage(fetched, inBody).found == read.reading->found;
    const double compare = bestUs([&] { task.takeUpdatePage(read, today); });
    const double storing = bestUs(store);
    const double whole = bestUs([&] {
        task.takeUpdatePage(fetched, today);
        store();
    });
    std::printf("\n== one page of %lld bytes, %d links, %lld with the keyword, %lld stored, %lld changed (best of 50, "
                "microseconds)\n",
                static_cast<long long>(fetched.body.size()), Links, static_cast<long long>(hrefs.size()),
                static_cast<long long>(stored.size()), static_cast<long long>(change.size()));
    std::printf("decode %8.0f   scan %8.0f   link forming %8.0f (through QUrl %8.0f)   compare %8.0f   store %8.0f\n",
                decode, scanning, resolving, forming, compare, storing);
    std::printf("read (decode + scan + forming + links to compare, on a worker now) %8.0f\n", reading);
    std::printf("read with the region \"li\" %8.0f (%.2fx), \"body > li\" %8.0f (%.2fx); the same links: %s\n",
                readingItems, readingItems / reading, readingBody, readingBody / reading, sameLinks ? "yes" : "NO");
    std::printf("whole on one thread %8.0f   left to the window thread (compare + store) %8.0f (%.0f%%)\n", whole,
                compare + storing, 100 * (compare + storing) / whole);
}

// ---- the parent ----

template <typename Link> void recordSeen(const QString& path, int tasks, Link linkOf)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seen-writer"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS seen_links(taskid INTEGER, link TEXT)"));
        query.exec(
            QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS seen_links_task_link ON seen_links(taskid, link)"));
        db.transaction();
        query.prepare(QStringLiteral("INSERT INTO seen_links(taskid, link) VALUES(?, ?)"));
        for (int t = 0; t < tasks; ++t) {
            for (int link = 0; link < Links; ++link) {
                if (!hasKeyword(link))
                    continue;
                query.addBindValue(t);
                query.addBindValue(linkOf(t, link));
                query.exec();
            }
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seen-writer"));
}

} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int childAt = int(args.indexOf(QStringLiteral("--child")));
    if (childAt > 0) {
        const QString way = args.value(childAt + 1);
        if (way == u"sequential" || way == u"concurrent" || way == u"new-links" || way == u"window-thread")
            return runUpdateAll(way == u"sequential", way == u"new-links", way == u"window-thread");
        if (way == u"plain")
            return runPlain();
        return runDue();
    }
    const int tasksAt = int(args.indexOf(QStringLiteral("--tasks")));
    const int tasks = tasksAt > 0 ? args.value(tasksAt + 1).toInt() : 200;
    const bool quick = args.contains(QStringLiteral("--quick"));
    const int runsAt = int(args.indexOf(QStringLiteral("--runs")));
    const int runs = qMax(1, runsAt > 0 ? args.value(runsAt + 1).toInt() : 1);

    // The server answers every loopback address and keeps connections alive, as web servers do.
    QThread serverThread;
    serverThread.start();
    auto* server = new TestServer;
    server->setKeepAlive(true);
    if (!server->listen(QHostAddress::Any)) {
        std::fprintf(stderr, "the page server could not listen\n");
        return 1;
    }
    qint64 pageBytes = 0;
    for (int t = 0; t < tasks; ++t) {
        const QByteArray body = page(t, 2);
        pageBytes = body.size();
        TestServer::Response late;
        late.body = body;
        late.delayMs = DelayMs;
        server->setResponse(pagePath("late", t), late);
        server->setPage(pagePath("now", t), body);
        late.body = page(t, 2, NewLinks);
        server->setResponse(pagePath("fresh", t), late);
    }
    server->moveToThread(&serverThread);
    const quint16 port = server->port();
    int stored = 0;
    for (int link = 0; link < Links; ++link)
        stored += hasKeyword(link) ? 1 : 0;
    std::printf("%d tasks; pages of %lld bytes, %d links, %d with the keyword, all stored, one changed each\n", tasks,
                static_cast<long long>(pageBytes), Links, stored);

    QTemporaryDir work;
    if (!quick || args.contains(QStringLiteral("--steps")))
        pageSteps(work.path());
    if (args.contains(QStringLiteral("--steps"))) {
        QMetaObject::invokeMethod(server, &QObject::deleteLater);
        serverThread.quit();
        serverThread.wait();
        return 0;
    }
    const auto prepare = [&](const QString& name, bool spread, const char* kind) {
        const QString folder = QDir(work.path()).filePath(name);
        QDir().mkpath(folder);
        writeBenchDb(
            QDir(folder).filePath(QStringLiteral("task.db")), tasks, [stored](int) { return stored; },
            [&](int t, int r) {
                return QStringLiteral("http://%1:%2%3").arg(host(spread, t)).arg(port).arg(linkPath(t, r * 3));
            },
            [](int t, int r) { return text(t, r * 3, 1); },
            [&](int t) {
                return QStringLiteral("http://%1:%2%3").arg(host(spread, t)).arg(port).arg(pagePath(kind, t));
            });
        return folder;
    };

    struct Scenario
    {
        const char* title;
        bool spread;
        const char* kind;
    };
    const Scenario scenarios[] = {{"20 hosts, answer after 0.2 s", true, "late"},
                                  {"one host, answer at once", false, "now"}};
    const auto report = [](const char* name, const QStringList& out) {
        std::printf("%-13s %7.0f ms   idle RSS %6.1f MB   peak RSS %6.1f MB (+%.1f MB)   threads %3d   \"%s\"\n", name,
                    out.value(0).toDouble(), out.value(1).toDouble() / 1024, out.value(2).toDouble() / 1024,
                    (out.value(2).toDouble() - out.value(1).toDouble()) / 1024, out.value(3).toInt(),
                    qPrintable(out.mid(4).join(QLatin1Char(' '))));
    };
    for (const Scenario& scenario : scenarios) {
        std::printf("\n== update-all, %s\n", scenario.title);
        constexpr int Ways = 4;
        QStringList rows[Ways];
        double ms[Ways] = {0, 0, 0, 0};
        const char* names[Ways] = {"sequential", "window-thread", "concurrent", "plain"};
        QList<QStringList> outs[Ways];
        for (int run = 0; run < runs; ++run) {
            for (int way = quick ? 2 : 0; way < Ways; ++way) {
                if (way == 0 && run > 0)
                    continue; // one page after another takes 40 s: once is enough to compare with
                const QString folder = prepare(QStringLiteral("%1-%2-%3").arg(scenario.title).arg(way).arg(run),
                                               scenario.spread, scenario.kind);
                outs[way].append(runChild({QStringLiteral("--child"), QString::fromLatin1(names[way])}, folder));
                rows[way] = rowsOf(QDir(folder).filePath(QStringLiteral("task.db")));
            }
        }
        for (int way = quick ? 2 : 0; way < Ways; ++way) {
            QList<QStringList> byTime = outs[way];
            std::sort(byTime.begin(), byTime.end(), [](const QStringList& a, const QStringList& b) {
                return a.value(0).toDouble() < b.value(0).toDouble();
            });
            const QStringList median = byTime.value((byTime.size() - 1) / 2);
            ms[way] = median.value(0).toDouble();
            if (byTime.size() > 1) {
                QStringList times;
                for (const QStringList& out : std::as_const(outs[way]))
                    times << out.value(0);
                std::printf("%-13s runs %s ms; the median run:\n", names[way],
                            qPrintable(times.join(QLatin1Char(' '))));
            }
            report(names[way], median);
        }
        std::printf("concurrent / plain parallel client: %.3f (median runs, the ways taking turns)\n", ms[2] / ms[3]);
        if (!quick)
            std::printf(
                "concurrent / sequential: %.3f (%.1fx faster); concurrent / window-thread: %.3f; task.db rows %lld, "
                "new %lld, identical: %s\n",
                ms[2] / ms[0], ms[0] / ms[2], ms[2] / ms[1], static_cast<long long>(rows[2].size()),
                static_cast<long long>(rows[2].size() - qsizetype(tasks) * stored),
                rows[0] == rows[1] && rows[0] == rows[2] ? "yes" : "NO");
    }
    // A region on every task, read from each page's tree on the reading workers, against the same run without one.
    for (const char* region : {"li", "body > li"}) {
        std::printf("\n== update-all, one host, answer at once, the region \"%s\" on every task against none\n",
                    region);
        QList<double> times[2];
        QStringList rows[2];
        for (int run = 0; run < runs; ++run) {
            for (int way = 0; way < 2; ++way) {
                const QString folder =
                    prepare(QStringLiteral("region-%1-%2-%3").arg(region).arg(way).arg(run), false, "now");
                const QString db = QDir(folder).filePath(QStringLiteral("task.db"));
                if (way == 1)
                    giveRegion(db, tasks, QString::fromLatin1(region));
                times[way].append(
                    runChild({QStringLiteral("--child"), QStringLiteral("concurrent")}, folder).value(0).toDouble());
                rows[way] = rowsOf(db);
            }
        }
        for (QList<double>& t : times)
            std::sort(t.begin(), t.end());
        const double none = times[0].at((times[0].size() - 1) / 2);
        const double with = times[1].at((times[1].size() - 1) / 2);
        std::printf(
            "no region %7.0f ms, region %7.0f ms (medians of %d runs, taking turns): %.3fx; rows identical: %s\n", none,
            with, runs, with / none, rows[0] == rows[1] ? "yes" : "NO");
    }

    if (quick) {
        QMetaObject::invokeMethod(server, &QObject::deleteLater);
        serverThread.quit();
        serverThread.wait();
        return 0;
    }

    std::printf("\n== update-all, 20 hosts, answer after 0.2 s, %d new keyword links on each page since its links "
                "were recorded\n",
                NewLinks);
    for (const char* way : {"concurrent", "new-links"}) {
        const bool on = way == QLatin1String("new-links");
        const QString folder = prepare(QString::fromLatin1(way), true, "fresh");
        recordSeen(QDir(folder).filePath(QStringLiteral("task.db")), tasks, [&](int t, int link) {
            return QStringLiteral("http://%1:%2%3").arg(host(true, t)).arg(port).arg(linkPath(t, link));
        });
        const QStringList out = runChild({QStringLiteral("--child"), QString::fromLatin1(way)}, folder);
        report(on ? "option on" : "option off", out);
        const QString db = QDir(folder).filePath(QStringLiteral("task.db"));
        std::printf("           results stored %lld (expected %d), seen links %lld\n",
                    static_cast<long long>(rowsOf(db).size() - qsizetype(tasks) * stored),
                    tasks * (on ? 1 + NewLinks : 1), static_cast<long long>(seenCount(db)));
    }

    std::printf("\n== %d tasks falling due at once, 20 hosts, answer after 0.2 s\n", tasks);
    const QString dueFolder = prepare(QStringLiteral("due"), true, "late");
    {
        const QStringList out = runChild({QStringLiteral("--child"), QStringLiteral("due")}, dueFolder);
        std::printf("%-12s every check delivered after %6.0f ms, peak threads %d\n", "one manager",
                    out.value(0).toDouble(), out.value(1).toInt());
    }

    QMetaObject::invokeMethod(server, &QObject::deleteLater);
    serverThread.quit();
    serverThread.wait();
    return 0;
}
