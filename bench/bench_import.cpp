// SPDX-License-Identifier: GPL-3.0-or-later
// Import of a list of 200 addresses into an empty task.db against update-all over the same 200 tasks, in the
// same run: pages of 75 KB with 1,000 links (334 with the keyword) on 20 loopback hosts (127.0.0.1 to
// 127.0.0.20) answering after 0.2 s. Import downloads and scans every page as creation does and stores the
// tasks with their results in one transaction; update-all downloads and compares the same pages. Each is run
// three times and the median printed, with their ratio; the goal is the update-all goal (1.0 s here).
//
// bench_import [--tasks N]
#include "bench/benchdb.h"
#include "core/monitorparts.h"
#include "core/taskexchange.h"
#include "tests/support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int Links = 1000;
constexpr int Hosts = 20;
constexpr int DelayMs = 200;
constexpr double GoalMs = 1000;

QByteArray page(int task)
{
    QByteArray html = "<html><head><meta charset=\"utf-8\"><title>Page</title></head><body>\n";
    for (int link = 0; link < Links; ++link)
        html += "<li><a href=\"/t" + QByteArray::number(task) + "/story/" + QByteArray::number(link) + ".html\">" +
                (link % 3 == 0 ? "Item " : "Story ") + QByteArray::number(link) + " of page " +
                QByteArray::number(task) + "</a></li>\n";
    return html + "</body></html>\n";
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}
} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int tasksAt = int(args.indexOf(QStringLiteral("--tasks")));
    const int tasks = tasksAt > 0 ? args.value(tasksAt + 1).toInt() : 200;

    QThread serverThread;
    serverThread.start();
    auto* server = new TestServer;
    server->setKeepAlive(true);
    if (!server->listen(QHostAddress::Any)) {
        std::fprintf(stderr, "the page server could not listen\n");
        return 1;
    }
    QStringList addresses;
    for (int t = 0; t < tasks; ++t) {
        TestServer::Response late;
        late.body = page(t);
        late.delayMs = DelayMs;
        const QString path = QStringLiteral("/t%1/news.html").arg(t);
        server->setResponse(path, late);
        addresses << QStringLiteral("http://127.0.0.%1:%2%3").arg(1 + t % Hosts).arg(server->port()).arg(path);
    }
    server->moveToThread(&serverThread);
    const QByteArray list = addresses.join(QLatin1Char('\n')).toUtf8();
    std::printf("%d addresses on %d hosts answering after %d ms; pages of %lld bytes, %d links, %d with the keyword\n",
                tasks, Hosts, DelayMs, static_cast<long long>(page(0).size()), Links, (Links + 2) / 3);

    QTemporaryDir work;
    QList<double> importMs;
    QList<double> updateMs;
    qsizetype stored = 0;
    for (int round = 0; round < 3; ++round) {
        MonitorParts parts(QDir(work.path()).filePath(QStringLiteral("task-%1.db").arg(round)));
        TaskChecker& checker = parts.core;
        // The network stack is brought up by one page first, as in a program that has been running.
        bool warm = false;
        checker.fetcher().fetch(addresses.first(), &checker, [&](const FetchedPage&) { warm = true; });
        while (!warm)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

        QElapsedTimer timer;
        timer.start();
        TaskExchange::Read read = TaskExchange::parse(list);
        TaskExchange::setKeyword(read, QStringLiteral("item"), 3600);
        const Commands::ImportRun run = checker.importer().run(read.tasks);
        importMs << timer.nsecsElapsed() / 1e6;
        if (run.imported != tasks || run.failedPages != 0) {
            std::fprintf(stderr, "import: %d imported, %d failed pages\n", run.imported, run.failedPages);
            return 1;
        }
        stored = 0;
        for (const Task* task : checker.watches().tasks())
            stored += task->results().size();

        timer.restart();
        const Commands::UpdateRun update = checker.updater().run();
        updateMs << timer.nsecsElapsed() / 1e6;
        if (!update.ran || update.failedPages != 0) {
            std::fprintf(stderr, "update-all: %d failed pages\n", update.failedPages);
            return 1;
        }
        std::printf("round %d: import %7.0f ms   update-all %7.0f ms\n", round + 1, importMs.last(), updateMs.last());
    }
    const double import = median(importMs);
    const double update = median(updateMs);
    std::printf("median: import %.0f ms (%lld results stored), update-all %.0f ms; import / update-all %.2f; "
                "goal %.0f ms: %s\n",
                import, static_cast<long long>(stored), update, import / update, GoalMs,
                import <= GoalMs ? "met" : "NOT met");

    QMetaObject::invokeMethod(server, &QObject::deleteLater);
    serverThread.quit();
    serverThread.wait();
    return 0;
}
