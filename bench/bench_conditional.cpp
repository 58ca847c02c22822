// SPDX-License-Identifier: GPL-3.0-or-later
// Update Tasks Now over 200 tasks whose pages (about 60 KB each) did not change since the last update-all,
// served on 20 loopback hosts (127.0.0.1 to 127.0.0.20) answering after 0.2 s. A first update-all records the
// pages' validators in task.db; a second one, in a process of its own as after a restart, is measured: its wall
// time, the bytes the server sent and its peak resident memory. Once with the server honouring the validators
// (304 Not Modified), once with the server ignoring them (every page sent whole), in the same run.
//
// bench_conditional [--tasks N]
#include "bench/benchdb.h"
#include "core/monitorparts.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace {
constexpr int Hosts = 20;
constexpr int DelayMs = 200;
constexpr int Links = 800;

QString pagePath(int task)
{
    return QStringLiteral("/t%1/news.html").arg(task);
}

QByteArray page(int task)
{
    QByteArray html = "<html><head><title>News</title></head><body>\n";
    for (int link = 0; link < Links; ++link)
        html += "<li><a href=\"/t" + QByteArray::number(task) + "/story/" + QByteArray::number(link) + ".html\">" +
                (link % 3 == 0 ? "Item " : "Story ") + QByteArray::number(link) + " of the day</a></li>\n";
    return html + "</body></html>\n";
}

// The child: one update-all over the stored tasks; prints its time and peak memory.
int runChild()
{
    MonitorParts parts;
    TaskChecker& checker = parts.core;
    checker.watches().loadTasks();
    QElapsedTimer clock;
    clock.start();
    const Commands::UpdateRun run = checker.updater().run();
    std::printf("%lld %lld %d\n", static_cast<long long>(clock.elapsed()),
                static_cast<long long>(ProcStatus::peakResidentKb()), run.failedPages);
    return 0;
}

QStringList runUpdateAll(const QString& folder)
{
    QProcess child;
    child.setWorkingDirectory(folder);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
    child.waitForFinished(600000);
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--child")))
        return runChild();
    const int tasks = args.contains(QStringLiteral("--tasks"))
                          ? args.value(args.indexOf(QStringLiteral("--tasks")) + 1).toInt()
                          : 200;

    // The server answers on a thread of its own while this one waits for the children.
    QThread serverThread;
    auto* server = new TestServer;
    if (!server->listen(QHostAddress::Any))
        return 1;
    server->setKeepAlive(true);
    server->moveToThread(&serverThread);
    QObject::connect(&serverThread, &QThread::finished, server, &QObject::deleteLater);
    serverThread.start();

    std::printf("update-all over %d unchanged pages on %d loopback hosts, answering after %d ms\n", tasks, Hosts,
                DelayMs);
    std::printf("%-22s %10s %14s %14s %8s\n", "way", "time ms", "bytes sent", "peak RSS MB", "failed");
    qint64 bytes[2] = {0, 0};
    qint64 times[2] = {0, 0};
    for (int way = 0; way < 2; ++way) {
        const bool honoured = way == 0;
        for (int t = 0; t < tasks; ++t) {
            TestServer::Response response;
            response.body = page(t);
            response.delayMs = DelayMs;
            response.etag = "\"page-" + QByteArray::number(t) + "-v1\"";
            response.lastModified = "Mon, 07 Dec 2026 08:00:00 GMT";
            response.honourValidators = honoured;
            server->setResponse(pagePath(t), response);
        }
        QTemporaryDir folder;
        writeBenchDb(
            folder.filePath(QStringLiteral("task.db")), tasks, [](int) { return 1; },
            [](int t, int) { return QStringLiteral("/t%1/story/0.html").arg(t); },
            [](int, int) { return QStringLiteral("Item 0 of the day"); },
            [&](int t) {
                return QStringLiteral("http://127.0.0.%1:%2%3").arg(1 + t % Hosts).arg(server->port()).arg(pagePath(t));
            });
        // The last update-all: records the validators.
        runUpdateAll(folder.path());
        const qint64 before = server->bytesSent();
        const QStringList out = runUpdateAll(folder.path());
        if (out.size() != 3) {
            std::fprintf(stderr, "the child gave no figures\n");
            return 1;
        }
        bytes[way] = server->bytesSent() - before;
        times[way] = out.at(0).toLongLong();
        std::printf("%-22s %10s %14lld %14.1f %8s\n", honoured ? "validators honoured" : "validators ignored",
                    qPrintable(out.at(0)), static_cast<long long>(bytes[way]), out.at(1).toDouble() / 1024,
                    qPrintable(out.at(2)));
    }
    std::printf("bytes, ignored / honoured: %.1fx; time, honoured / ignored: %.2f\n",
                double(bytes[1]) / qMax<qint64>(1, bytes[0]), double(times[0]) / qMax<qint64>(1, times[1]));
    serverThread.quit();
    serverThread.wait();
    return 0;
}
