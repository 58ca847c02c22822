// SPDX-License-Identifier: GPL-3.0-or-later
// News told beyond this desktop, against the same checks with nowhere to tell it. 200 tasks whose pages (300 links,
// 100 with the keyword, all stored) each changed one link's text, so every check finds one piece of news: served on
// loopback over 20 hosts (127.0.0.1 to 127.0.0.20) answering after 0.2 s, and from one host at once. Update-all runs
// through the core as the program runs it, in rounds, the ways taking turns: with no news destination, with news
// posted to a second loopback server (the receiver), and with news given to a command that appends it to a file.
// Each run starts on a fresh task.db of its own.
//
// For each way it prints the median time of the checks (until their results are in task.db), the median time until
// every event was delivered, the main thread's CPU time per event over the whole run (and during the checks), the
// ratio of the checks with a destination to those without (the goal: 1.05 at most), and whether every event arrived
// exactly once (distinct event ids at the receiver) with nothing left in the outbox.
//
// bench_news [--tasks N] [--rounds N]: N rounds (5 by default) after one that warms up the network stack.
#include "bench/benchdb.h"
#include "core/monitorparts.h"
#include "core/settings.h"
#include "storage/taskdatabase.h"
#include "tests/support/testserver.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {
constexpr int Links = 300;
constexpr int Hosts = 20;
constexpr int DelayMs = 200;
// A run whose news has not all arrived by then, or whose delivery failed once, is reported as such.
constexpr qint64 DeliveryWaitMs = 120000;

bool hasKeyword(int link)
{
    return link % 3 == 0;
}

QString linkPath(int task, int link)
{
    return QStringLiteral("/t%1/story/%2.html").arg(task).arg(link);
}

// Version 1 is what task.db holds; version 2, served, changed the text of link 0: one new result per check.
QString linkText(int task, int link, int version)
{
    return QStringLiteral("%1 %2 of page %3, v%4")
        .arg(hasKeyword(link) ? QStringLiteral("Item") : QStringLiteral("Story"))
        .arg(link)
        .arg(task)
        .arg(link == 0 ? version : 1);
}

QByteArray page(int task)
{
    QByteArray html = "<html><head><meta charset=\"utf-8\"><title>Page</title></head><body>\n";
    for (int link = 0; link < Links; ++link)
        html +=
            "<li><a href=\"" + linkPath(task, link).toUtf8() + "\">" + linkText(task, link, 2).toUtf8() + "</a></li>\n";
    return html + "</body></html>\n";
}

QString pagePath(bool late, int task)
{
    return QStringLiteral("/%1/t%2/news.html").arg(late ? QLatin1String("late") : QLatin1String("now")).arg(task);
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

enum Way
{
    Nowhere,
    Post,
    Command,
    Ways
};
const char* const WayNames[Ways] = {"no destination", "post", "command"};

struct Figures
{
    double checksMs = 0;
    double deliveredMs = 0; // until the last event was delivered; the checks' time with no destination
    double cpuMs = 0;       // main thread, from the start of the checks until the last delivery
    double checksCpuMs = 0; // main thread, during the checks
    int newsFound = 0;      // tasks whose check stored news
    int arrived = 0;        // deliveries the receiver saw
    int distinct = 0;       // distinct event ids among them
    int failures = 0;       // failed tries
    qsizetype left = 0;     // events still in the outbox
};

// The distinct event ids among the JSON bodies; *count, the bodies that were events at all.
int distinctEvents(const QList<QByteArray>& bodies, int* count)
{
    QSet<QString> ids;
    *count = 0;
    for (const QByteArray& body : bodies) {
        const QString id = QJsonDocument::fromJson(body).object().value(QStringLiteral("event_id")).toString();
        if (id.isEmpty())
            continue;
        ++*count;
        ids.insert(id);
    }
    return int(ids.size());
}

struct Bench
{
    int tasks = 200;
    quint16 pagePort = 0;
    TestServer* receiver = nullptr;
    QString work;
    int runs = 0;

    Figures run(Way way, bool spread)
    {
        const QString folder = QDir(work).filePath(QStringLiteral("run%1").arg(++runs));
        QDir().mkpath(folder);
        const QString db = QDir(folder).filePath(QStringLiteral("task.db"));
        const auto address = [&](int t, const QString& path) {
            return QStringLiteral("http://127.0.0.%1:%2%3").arg(spread ? 1 + t % Hosts : 1).arg(pagePort).arg(path);
        };
        writeBenchDb(
            db, tasks, [](int) { return (Links + 2) / 3; },
            [&](int t, int r) { return address(t, linkPath(t, r * 3)); },
            [](int t, int r) { return linkText(t, r * 3, 1); }, [&](int t) { return address(t, pagePath(spread, t)); });

        const QString receiverPath = QStringLiteral("/news/%1").arg(runs);
        const QString eventsFile = QDir(folder).filePath(QStringLiteral("events.jsonl"));
        Options options;
        if (way == Post) {
            receiver->keepBodies(receiverPath);
            options.newsPost = receiver->url(receiverPath).toString();
        } else if (way == Command) {
            options.newsCommand = QStringLiteral("/bin/sh -c 'cat >> \"$0\"; echo >> \"$0\"' '%1'").arg(eventsFile);
        }

        Figures figures;
        MonitorParts parts(db);
        parts.start(options);
        NewsOutbox& news = parts.core.news();
        int delivered = 0;
        QObject::connect(&news, &NewsOutbox::delivered, [&delivered] { ++delivered; });
        QObject::connect(&news, &NewsOutbox::deliveryFailed, [&figures](int, const QString& message) {
            if (figures.failures++ == 0)
                std::fprintf(stderr, "%s\n", qPrintable(message));
        });

        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        const Commands::UpdateRun update = parts.core.updater().run();
        figures.checksMs = timer.nsecsElapsed() / 1e6;
        figures.checksCpuMs = threadCpuMs() - cpuStart;
        figures.newsFound = int(update.news.size());
        if (way != Nowhere)
            waitUntil([&] {
                return delivered >= figures.newsFound || figures.failures > 0 || timer.elapsed() > DeliveryWaitMs;
            });
        figures.deliveredMs = timer.nsecsElapsed() / 1e6;
        figures.cpuMs = threadCpuMs() - cpuStart;

        // A little longer, so that a delivery made twice would show.
        QElapsedTimer settle;
        settle.start();
        waitUntil([&] { return settle.elapsed() > 100; });
        if (way == Post) {
            figures.distinct = distinctEvents(receiver->bodies(receiverPath), &figures.arrived);
        } else if (way == Command) {
            QFile file(eventsFile);
            QList<QByteArray> lines;
            if (file.open(QIODevice::ReadOnly))
                lines = file.readAll().split('\n');
            figures.distinct = distinctEvents(lines, &figures.arrived);
        }
        figures.left = parts.watches.database().news().events().value_or(QList<OutboxEvent>()).size();
        return figures;
    }
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at((values.size() - 1) / 2);
}

} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    Bench bench;
    if (const qsizetype at = args.indexOf(QStringLiteral("--tasks")); at > 0)
        bench.tasks = qMax(1, args.value(at + 1).toInt());
    const qsizetype roundsAt = args.indexOf(QStringLiteral("--rounds"));
    const int rounds = qMax(1, roundsAt > 0 ? args.value(roundsAt + 1).toInt() : 5);

    // The pages' server answers every loopback address and keeps connections alive, as web servers do; the
    // receiver runs on a thread of its own as well, so neither takes the program's main thread.
    QThread pageThread;
    QThread receiverThread;
    pageThread.start();
    receiverThread.start();
    auto* pages = new TestServer;
    pages->setKeepAlive(true);
    auto* receiver = new TestServer;
    receiver->setKeepAlive(true);
    if (!pages->listen(QHostAddress::Any) || !receiver->listen()) {
        std::fprintf(stderr, "the loopback servers could not listen\n");
        return 1;
    }
    for (int t = 0; t < bench.tasks; ++t) {
        TestServer::Response late;
        late.body = page(t);
        late.delayMs = DelayMs;
        pages->setResponse(pagePath(true, t), late);
        pages->setPage(pagePath(false, t), late.body);
    }
    for (int run = 1; run <= (rounds + 1) * Ways * 2; ++run)
        receiver->setPage(QStringLiteral("/news/%1").arg(run), "ok", "text/plain");
    pages->moveToThread(&pageThread);
    receiver->moveToThread(&receiverThread);
    bench.pagePort = pages->port();
    bench.receiver = receiver;
    QTemporaryDir work;
    bench.work = work.path();

    std::printf("%d tasks; pages of %lld bytes, %d links, %d with the keyword, all stored, one changed each: one "
                "piece of news per check\n",
                bench.tasks, static_cast<long long>(page(0).size()), Links, (Links + 2) / 3);
    for (const bool spread : {true, false}) {
        std::printf("\n== %s; %d rounds after one to warm up, the ways taking turns\n",
                    spread ? "20 hosts, answer after 0.2 s" : "one host, answer at once", rounds);
        QList<Figures> figures[Ways];
        for (int round = 0; round <= rounds; ++round) {
            for (int i = 0; i < Ways; ++i) {
                const Way way = Way((round + i) % Ways);
                const Figures f = bench.run(way, spread);
                if (round > 0)
                    figures[way].append(f);
            }
        }
        double checks[Ways] = {};
        double cpuPerEvent[Ways] = {};
        for (int way = 0; way < Ways; ++way) {
            QList<double> checkMs, deliveredMs, cpuMs, checksCpuMs;
            QStringList times;
            bool once = true;
            int failures = 0;
            for (const Figures& f : std::as_const(figures[way])) {
                checkMs << f.checksMs;
                deliveredMs << f.deliveredMs;
                cpuMs << f.cpuMs;
                checksCpuMs << f.checksCpuMs;
                times << QString::number(f.checksMs, 'f', 0);
                failures += f.failures;
                once = once && f.newsFound == bench.tasks &&
                       (way == Nowhere || (f.arrived == bench.tasks && f.distinct == bench.tasks && f.left == 0));
            }
            checks[way] = median(checkMs);
            cpuPerEvent[way] = median(cpuMs) * 1000 / bench.tasks;
            const Figures& last = figures[way].constLast();
            std::printf("%-15s checks %6.0f ms (runs %s)", WayNames[way], checks[way],
                        qPrintable(times.join(QLatin1Char(' '))));
            if (way == Nowhere) {
                std::printf("\n%15s main-thread CPU %6.0f us per check; news found %d\n", "", cpuPerEvent[way],
                            last.newsFound);
            } else {
                std::printf("   all delivered %6.0f ms\n%15s main-thread CPU %6.0f us per event (%+.0f us beside no "
                            "destination; %.0f us per check during the checks)\n%15s arrived %d, distinct %d, left "
                            "in the outbox %lld, failed tries %d; every event exactly once: %s\n",
                            median(deliveredMs), "", cpuPerEvent[way], cpuPerEvent[way] - cpuPerEvent[Nowhere],
                            median(checksCpuMs) * 1000 / bench.tasks, "", last.arrived, last.distinct,
                            static_cast<long long>(last.left), failures, once ? "yes" : "NO");
            }
        }
        std::printf("checks with a post / without: %.3f, with a command / without: %.3f (goal: 1.05 at most)\n",
                    checks[Post] / checks[Nowhere], checks[Command] / checks[Nowhere]);
    }

    QMetaObject::invokeMethod(pages, &QObject::deleteLater);
    QMetaObject::invokeMethod(receiver, &QObject::deleteLater);
    pageThread.quit();
    receiverThread.quit();
    pageThread.wait();
    receiverThread.wait();
    return 0;
}
