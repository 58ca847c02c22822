// SPDX-License-Identifier: GPL-3.0-or-later
// Runs many background checks against a loopback server on its own thread, as the checker runs them (all of a
// batch at once through one PageFetcher, each page compared as it arrives), and prints the thread count and
// resident memory at the start, after the first 100 checks and at the end: a program that checks its tasks for
// weeks must come back to the same figures after every batch. The reference runs the same checks one at a time,
// one request in flight.
// Usage: bench_backgroundchecks [checks=1000] [batch=50]
#include "engine/definition/task.h"
#include "engine/fetching/pagefetcher.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int LinksPerPage = 200;

QByteArray makePage()
{
    QByteArray page = "<html><head><title>News</title></head><body>\n";
    for (int i = 0; i < LinksPerPage; ++i)
        page += "<p class=\"item\"><a href=\"/news/" + QByteArray::number(i) + ".html\" title=\"t\">Item " +
                QByteArray::number(i) + " changed</a> some words around the link</p>\n";
    return page + "</body></html>\n";
}

// Tasks that each hold two stored links of the page with an older text: each check reports one.
std::vector<std::unique_ptr<Task>> makeTasks(const QString& address, const QString& origin, int count, int first)
{
    std::vector<std::unique_ptr<Task>> tasks;
    for (int i = 0; i < count; ++i) {
        auto task = std::make_unique<Task>(
            first + i, TaskDefinition{QStringLiteral("task"), address, QStringLiteral("item"), 60, {}});
        Task::ResultList stored;
        for (int n : {i % LinksPerPage, (i + 1) % LinksPerPage}) {
            auto record = Task::ResultPtr::create();
            record->link = QStringLiteral("%1/news/%2.html").arg(origin).arg(n);
            record->text = QStringLiteral("Item %1").arg(n);
            stored.append(record);
        }
        task->setResults(stored);
        tasks.push_back(std::move(task));
    }
    return tasks;
}

// Checks the tasks through the fetcher, all queued at once; true when every page arrived in time. Each page is
// compared as it arrives, as the checker takes a background page over.
bool runChecks(PageFetcher& fetcher, const std::vector<std::unique_ptr<Task>>& tasks, int timeoutMs)
{
    const QDate today = QDate::currentDate();
    int pending = int(tasks.size());
    for (const auto& task : tasks) {
        Task* checked = task.get();
        fetcher.fetch(
            checked->address(), checked,
            [checked, today, &pending](const FetchedPage& page) {
                --pending;
                if (page.ok)
                    checked->takeUpdatePage(page, today);
            },
            PageFetcher::Priority::Background);
    }
    QElapsedTimer clock;
    clock.start();
    while (pending > 0) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

qint64 printFigures(const char* when, int checks)
{
    std::printf("%-22s checks %5d  threads %4d  VmRSS %7lld kB\n", when, checks, ProcStatus::threads(),
                static_cast<long long>(ProcStatus::residentKb()));
    std::fflush(stdout);
    return ProcStatus::residentKb();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int totalChecks = args.size() > 1 ? args.at(1).toInt() : 1000;
    const int batch = args.size() > 2 ? args.at(2).toInt() : 50;
    if (totalChecks <= 0 || batch <= 0) {
        std::fprintf(stderr, "usage: bench_backgroundchecks [checks>0] [batch>0]\n");
        return 2;
    }

    printFigures("start", 0);

    // The server answers from its own thread, as a remote server would, while this thread compares.
    QThread serverThread;
    serverThread.setObjectName(QStringLiteral("server"));
    auto* server = new TestServer;
    server->setPage(QStringLiteral("/news/index.html"), makePage());
    server->moveToThread(&serverThread);
    serverThread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
    if (!listening) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }
    const QString origin = server->url(QString()).toString();
    const QString address = server->url(QStringLiteral("/news/index.html")).toString();

    // Reference: the same update checks one at a time, one request in flight.
    constexpr int ReferenceChecks = 50;
    PageFetcher fetcher;
    QElapsedTimer clock;
    clock.start();
    int referenceNew = 0;
    {
        fetcher.setMaxInFlight(1);
        auto tasks = makeTasks(address, origin, ReferenceChecks, 0);
        for (auto& task : tasks) {
            std::vector<std::unique_ptr<Task>> one;
            one.push_back(std::move(task));
            if (runChecks(fetcher, one, 120000))
                referenceNew += one.front()->updateResults().isEmpty() ? 0 : 1;
        }
        fetcher.setMaxInFlight(PageFetcher::DefaultMaxInFlight);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double referenceMs = double(clock.nsecsElapsed()) / 1e6 / ReferenceChecks;
    printFigures("after reference", 0);

    int done = 0;
    int delivered = 0;
    bool printed100 = false;
    qint64 rssAfter100 = 0;
    int threadsAfter100 = 0;
    clock.restart();
    while (done < totalChecks) {
        const int count = qMin(batch, totalChecks - done);
        auto tasks = makeTasks(address, origin, count, done);
        if (!runChecks(fetcher, tasks, 120000)) {
            std::fprintf(stderr, "background checks did not end\n");
            fetcher.abortAll();
            return 1;
        }
        for (const auto& task : tasks)
            delivered += task->updateResults().isEmpty() ? 0 : 1;
        done += count;
        tasks.clear();
        if (!printed100 && done >= 100) {
            rssAfter100 = printFigures("after 100", done);
            threadsAfter100 = ProcStatus::threads();
            printed100 = true;
        }
    }
    const double backgroundMs = double(clock.nsecsElapsed()) / 1e6 / totalChecks;
    const qint64 rssEnd = printFigures("end", done);
    if (printed100)
        std::printf("from 100 checks to the end: threads %+d, VmRSS %+lld kB (end / after 100 = %.3f)\n",
                    ProcStatus::threads() - threadsAfter100, static_cast<long long>(rssEnd - rssAfter100),
                    double(rssEnd) / double(rssAfter100));

    std::printf("page: %d links, %lld bytes; server hits %d\n", LinksPerPage, static_cast<long long>(makePage().size()),
                server->hits(QStringLiteral("/news/index.html")));
    std::printf("checks with new results: %d of %d background checks, %d of %d one-at-a-time checks\n", delivered, done,
                referenceNew, ReferenceChecks);
    std::printf("time per check: background %.3f ms (batches of %d), one-at-a-time reference %.3f ms, ratio %.2f\n",
                backgroundMs, batch, referenceMs, backgroundMs / referenceMs);

    QMetaObject::invokeMethod(
        server, [server] { delete server; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
    return delivered == done && referenceNew == ReferenceChecks ? 0 : 1;
}
