// SPDX-License-Identifier: GPL-3.0-or-later
// Update Tasks Now over 20 tasks whose pages build their 50 links with a script (from JSON fetched after
// loading), served on loopback from 5 hosts (127.0.0.1 to 127.0.0.5), each page answering after 0.2 s: the
// tasks rendered by one shared vantrel-render (several pages at once), next to the same tasks rendered by
// one helper process per page (at most two at once), and the same pages downloaded plainly.
// Every link of every page is stored, the first with an older text, so each page holds one new result.
// Prints the wall time, the new results found, the growth of this program's peak resident memory, and the peak
// resident memory of the helper processes (each helper with the engine processes it starts), per helper
// and all at once.
//
// bench_render [--tasks N] [--helper PATH] [--pages-at-once N] [--only-shared]
#include "bench/benchprocess.h"
#include "core/monitorparts.h"
#include "storage/taskdatabase.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {
constexpr int Hosts = 5;
constexpr int DelayMs = 200;
constexpr int LinksPerPage = 50;

QByteArray shell(int task)
{
    return QStringLiteral(R"(<html><head><meta charset="utf-8"><title>Jobs</title></head><body><ul id="l"></ul>
<script>fetch('/data/%1.json').then(function (r) { return r.json(); }).then(function (items) {
  var list = document.getElementById('l');
  items.forEach(function (it) { var a = document.createElement('a'); a.href = it.h; a.textContent = it.t;
    var li = document.createElement('li'); li.appendChild(a); list.appendChild(li); });
});</script></body></html>)")
        .arg(task)
        .toUtf8();
}

QString linkText(int task, int link, int version)
{
    return QStringLiteral("Job %1 of page %2, v%3").arg(link).arg(task).arg(link == 0 ? version : 1);
}

QByteArray data(int task, int version)
{
    QByteArray json = "[";
    for (int i = 0; i < LinksPerPage; ++i)
        json += (i ? "," : "") + QStringLiteral(R"({"h": "/t%1/job/%2", "t": "%3"})")
                                     .arg(task)
                                     .arg(i)
                                     .arg(linkText(task, i, version))
                                     .toUtf8();
    return json + "]";
}

// A field of a /proc file in kB ("VmRSS:   123 kB"); 0 when absent.
qint64 procField(const QString& path, const QByteArray& name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// The memory of a process and every process below it (the engine's own processes), from /proc: the sum of
// their resident sizes (shared pages counted in each) and of their proportional sizes (shared pages split).
struct TreeMemory
{
    qint64 rssKb = 0;
    qint64 pssKb = 0;
};
TreeMemory treeMemory(qint64 root)
{
    QHash<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (isPid)
            parentOf.insert(pid, procField(QStringLiteral("/proc/%1/status").arg(pid), "PPid"));
    }
    TreeMemory memory;
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        for (qint64 p = it.key(); p > 1; p = parentOf.value(p, 0)) {
            if (p != root)
                continue;
            memory.rssKb += procField(QStringLiteral("/proc/%1/status").arg(it.key()), "VmRSS");
            memory.pssKb += procField(QStringLiteral("/proc/%1/smaps_rollup").arg(it.key()), "Pss");
            break;
        }
    }
    return memory;
}

struct Figures
{
    qint64 ms = 0;
    int links = 0;
    int failed = 0;
    qint64 idleKb = 0;
    qint64 peakGrowthKb = 0;
    qint64 helperPeakKb = 0; // the largest resident sum one helper with its engine processes reached
    qint64 helperPeakPssKb = 0;
    qint64 helpersAtOnceKb = 0; // all helpers running at one moment, proportional sizes
};

enum class Way
{
    Plain,
    ProcessPerPage,
    Shared
};

Figures run(TestServer& server, const QString& helper, int tasks, Way way, int pagesAtOnce)
{
    const bool render = way != Way::Plain;
    QTemporaryDir dir;
    MonitorParts parts(dir.filePath(QStringLiteral("task.db")));
    for (int t = 0; t < tasks; ++t) {
        const QString address =
            QStringLiteral("http://127.0.0.%1:%2/page/%3.html").arg(1 + t % Hosts).arg(server.port()).arg(t);
        Task task(t, {QStringLiteral("T%1").arg(t), address, QStringLiteral("Job"), 3600, {}});
        task.setRunsScripts(render);
        // Every link stored, the first with an older text: each page holds one new result.
        Task::ResultList stored;
        for (int i = 0; i < LinksPerPage; ++i)
            stored.append(Task::ResultPtr::create(TaskResult{
                t, QDate::currentDate(), linkText(t, i, 0),
                QUrl(address).resolved(QUrl(QStringLiteral("/t%1/job/%2").arg(t).arg(i))).toString(), StateRead}));
        task.setResults(stored);
        parts.watches.database().insertTask(&task);
    }
    TaskChecker& checker = parts.core;
    checker.renderer().setProgram(helper);
    if (way == Way::ProcessPerPage) {
        // As renders ran before they shared a helper: two processes at once, and the bound of a render
        // counted from its start, not from when it was asked for.
        checker.renderer().setProcessPerPage(true);
        checker.renderer().setMaxRunning(2);
        checker.renderer().setTimeoutMs(600000);
    } else if (pagesAtOnce > 0) {
        checker.renderer().setMaxRunning(pagesAtOnce);
    }
    checker.watches().loadTasks();

    Figures figures;
    QTimer sampler;
    sampler.setInterval(50);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        qint64 atOnce = 0;
        for (qint64 pid : checker.renderer().processIds()) {
            const TreeMemory memory = treeMemory(pid);
            figures.helperPeakKb = qMax(figures.helperPeakKb, memory.rssKb);
            figures.helperPeakPssKb = qMax(figures.helperPeakPssKb, memory.pssKb);
            atOnce += memory.pssKb;
        }
        figures.helpersAtOnceKb = qMax(figures.helpersAtOnceKb, atOnce);
    });
    figures.idleKb = ProcStatus::residentKb();
    resetPeakMemory();
    const qint64 before = ProcStatus::peakResidentKb();
    sampler.start();
    QElapsedTimer clock;
    clock.start();
    const Commands::UpdateRun update = checker.updater().run();
    figures.ms = clock.elapsed();
    sampler.stop();
    figures.peakGrowthKb = ProcStatus::peakResidentKb() - before;
    figures.failed = update.failedPages;
    for (const Task* task : checker.watches().tasks())
        figures.links += int(task->results().size()) - LinksPerPage;
    return figures;
}

void print(const char* way, const Figures& f)
{
    std::printf("%-19s %6.2f s  new results %3d  failed %2d  main: idle %5.1f MB, peak growth %4.1f MB  "
                "helpers: one %5.1f MB resident / %5.1f MB proportional, at once %5.1f MB proportional\n",
                way, f.ms / 1000.0, f.links, f.failed, f.idleKb / 1024.0, f.peakGrowthKb / 1024.0,
                f.helperPeakKb / 1024.0, f.helperPeakPssKb / 1024.0, f.helpersAtOnceKb / 1024.0);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int tasksAt = int(args.indexOf(QStringLiteral("--tasks")));
    const int tasks = tasksAt > 0 ? args.value(tasksAt + 1).toInt() : 20;
    const int atOnceAt = int(args.indexOf(QStringLiteral("--pages-at-once")));
    const int pagesAtOnce = atOnceAt > 0 ? args.value(atOnceAt + 1).toInt() : 0;
    const bool onlyShared = args.contains(QStringLiteral("--only-shared"));
    const int helperAt = int(args.indexOf(QStringLiteral("--helper")));
    const QString helper = helperAt > 0 ? args.value(helperAt + 1)
                                        : QDir(app.applicationDirPath()).filePath(QStringLiteral("../vantrel-render"));

    TestServer server;
    if (!server.listen(QHostAddress::Any))
        return 1;
    for (int t = 0; t < tasks; ++t) {
        TestServer::Response late;
        late.body = shell(t);
        late.delayMs = DelayMs;
        server.setResponse(QStringLiteral("/page/%1.html").arg(t), late);
        server.setPage(QStringLiteral("/data/%1.json").arg(t), data(t, 1), "application/json");
    }
    std::printf("%d script-built pages (%d links each) on %d loopback hosts, answering after %d ms; helper %s\n", tasks,
                LinksPerPage, Hosts, DelayMs, qPrintable(helper));
    // Each way twice, in turn, so none gains from running last.
    const QList<QPair<Way, const char*>> ways{
        {Way::Plain, "downloaded plainly"}, {Way::ProcessPerPage, "a helper per page"}, {Way::Shared, "shared helper"}};
    QHash<Way, Figures> best;
    for (int round = 0; round < 2; ++round) {
        for (const auto& [way, name] : ways) {
            if (onlyShared && way != Way::Shared)
                continue;
            const Figures f = run(server, helper, tasks, way, pagesAtOnce);
            print(name, f);
            if (!best.contains(way) || f.ms < best[way].ms)
                best[way] = f;
        }
    }
    if (onlyShared)
        return 0;
    const Figures plain = best[Way::Plain];
    const Figures perPage = best[Way::ProcessPerPage];
    const Figures rendered = best[Way::Shared];
    std::printf("best of two: shared helper %.2f s, a helper per page %.2f s (%.1f x faster), downloaded %.2f s; "
                "shared helper's engine at once %.1f MB proportional, main program's peak growth %+.1f MB\n",
                rendered.ms / 1000.0, perPage.ms / 1000.0, double(perPage.ms) / qMax<qint64>(1, rendered.ms),
                plain.ms / 1000.0, rendered.helpersAtOnceKb / 1024.0, rendered.peakGrowthKb / 1024.0);
    return rendered.failed == 0 && rendered.links == tasks ? 0 : 2;
}
