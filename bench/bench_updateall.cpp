// SPDX-License-Identifier: GPL-3.0-or-later
// Update Tasks Now over 200 tasks whose pages (75 KB, 1,000 links each) all changed since the last check,
// served on loopback, through the real main window: total time and peak resident memory. The reference in
// the same run is the bare download of the same 200 pages, one after the other.
//
// By default 50 links of each page carry the keyword, are stored as results and have a new text on the page
// (10,000 new results). With --heavy every one of the 1,000 links does (200,000 new results).
#include "bench/benchdb.h"
#include "app/mainwindow.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {
constexpr int Tasks = 200;
constexpr int Links = 1000;
int matching = 50; // links of a page whose text carries the keyword "item"

QString linkPath(int task, int link)
{
    return QStringLiteral("/t%1/story/%2.html").arg(task).arg(link);
}

QString text(int task, int link, int version)
{
    return QStringLiteral("%1 %2 of page %3, v%4")
        .arg(link < matching ? QStringLiteral("Item") : QStringLiteral("Story"))
        .arg(link)
        .arg(task)
        .arg(version);
}

QByteArray page(int task, int version)
{
    QByteArray html = "<html><head><meta charset=\"utf-8\"><title>Page</title></head><body>\n";
    for (int link = 0; link < Links; ++link) {
        html += "<li><a href=\"" + linkPath(task, link).toUtf8() + "\">" + text(task, link, version).toUtf8() +
                "</a></li>\n";
    }
    return html + "</body></html>\n";
}

} // namespace

int main(int argc, char* argv[])
{
    BenchEnvironment environment;
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().contains(QStringLiteral("--heavy")))
        matching = Links;

    QThread serverThread;
    serverThread.start();
    auto* server = new TestServer;
    server->listen();
    qint64 pageBytes = 0;
    for (int t = 0; t < Tasks; ++t) {
        const QByteArray body = page(t, 2);
        pageBytes = body.size();
        server->setPage(QStringLiteral("/t%1/news.html").arg(t), body);
    }
    server->moveToThread(&serverThread);

    QTemporaryDir folder;
    writeBenchDb(
        QDir(folder.path()).filePath(QStringLiteral("task.db")), Tasks, [](int) { return matching; },
        [server](int t, int r) { return server->url(linkPath(t, r)).toString(); },
        [](int t, int r) { return text(t, r, 1); },
        [server](int t) { return server->url(QStringLiteral("/t%1/news.html").arg(t)).toString(); });
    QDir::setCurrent(folder.path());

    // Reference: the same 200 pages downloaded one after the other, nothing else.
    QElapsedTimer timer;
    timer.start();
    {
        QNetworkAccessManager manager;
        for (int t = 0; t < Tasks; ++t) {
            QNetworkReply* reply = manager.get(QNetworkRequest(server->url(QStringLiteral("/t%1/news.html").arg(t))));
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            reply->readAll();
            reply->deleteLater();
        }
    }
    const double downloadMs = timer.nsecsElapsed() / 1e6;

    MainWindow window;
    const qint64 before = ProcStatus::residentKb();
    timer.start();
    window.findChild<QAction*>(QStringLiteral("actionUpdate_Tasks"))->trigger();
    const double updateMs = timer.nsecsElapsed() / 1e6;
    qint64 found = 0;
    for (const Task* task : window.taskList())
        found += task->results().size() - matching;

    std::printf("pages: %d x %lld bytes, %d links each, %d of them stored and changed\n", Tasks, pageBytes, Links,
                matching);
    std::printf("update-all: %.0f ms, %lld new results stored, status \"%s\"\n", updateMs, found,
                qPrintable(window.statusBar()->currentMessage()));
    std::printf("reference, bare downloads of the same pages: %.0f ms (update-all is %.1fx that)\n", downloadMs,
                updateMs / downloadMs);
    std::printf("resident memory: %lld kB before update-all, peak (VmHWM) %lld kB\n", before,
                ProcStatus::peakResidentKb());

    QMetaObject::invokeMethod(server, &QObject::deleteLater);
    serverThread.quit();
    serverThread.wait();
    return 0;
}
