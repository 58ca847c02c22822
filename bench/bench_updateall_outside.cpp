// SPDX-License-Identifier: GPL-3.0-or-later
// Update Tasks Now as a user meets it: the real program started on the X server of DISPLAY (Xvfb with a window
// manager) on a task.db of 200 tasks whose pages (75 KB, 1,000 links, 334 with the keyword, all stored) each changed
// one link's text, served at once by one loopback host. Ctrl+U is pressed with xdotool and the run timed until the
// new results are in task.db (its largest result row, read by this benchmark every 2 ms), beside a plain parallel
// client fetching the same pages in the same run (one network manager asked for every page at once, each body read
// whole), the ways taking turns. Where the time goes: from outside, the key until the progress dialog is mapped and
// until it is gone; from the program's own debug lines (vantrel.core), the requests, the pages until every one is
// read and compared, and the storing (a build without those lines shows none of them).
//
//   bench_updateall_outside [--runs N] [--tasks N] PROGRAM [REFERENCE]
#include "bench/benchdb.h"
#include "bench/benchpages.h"
#include "bench/benchxwindows.h"
#include "tests/support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <poll.h>

namespace {
// The program's windows, from the X server's events.
struct X
{
    xcb_connection_t* c = nullptr;
    xcb_atom_t pid = 0;

    bool open()
    {
        c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c))
            return false;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        const char* name = "_NET_WM_PID";
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        pid = reply ? reply->atom : 0;
        free(reply);
        xcb_flush(c);
        return true;
    }
    std::optional<uint32_t> pidOf(xcb_window_t window) { return BenchX::pidOf(c, pid, window); }
    xcb_window_t clientOf(xcb_window_t window, uint32_t process) { return BenchX::clientOf(c, pid, window, process); }
    // Calls seen(type, window, overrideRedirect) for every event of a window's map or unmap that came in.
    template <typename Seen> void poll(int ms, Seen seen)
    {
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, ms);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY) {
                auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                seen(type, mapped->window, bool(mapped->override_redirect));
            } else if (type == XCB_UNMAP_NOTIFY) {
                seen(type, reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window, false);
            }
            free(event);
        }
    }
};

QString pagePath(int task)
{
    return QStringLiteral("/now/t%1/news.html").arg(task);
}

// The largest row of results in task.db, read-only; -1 when it cannot be read.
qint64 lastResultRow(QSqlDatabase& db)
{
    QSqlQuery query(QStringLiteral("SELECT MAX(id) FROM results"), db);
    return query.next() ? query.value(0).toLongLong() : -1;
}

// The moment (ms since the program's start, on its clock) of the first line of the log holding text; -1 when none.
double logged(const QString& log, const char* text)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.contains(text))
            return line.trimmed().split(' ').value(0).toDouble() * 1000;
    }
    return -1;
}

struct Run
{
    double dialogShown = -1; // the key until the progress dialog is mapped
    double stored = -1;      // the key until the new results are in task.db
    double dialogGone = -1;  // the key until the dialog is unmapped
    // From the program's log: asking for the pages, until every one is read and compared, storing.
    double asking = -1, reading = -1, storing = -1;
};

Run updateAll(X& x, const QString& program, const QString& folder, int tasks, qint64 lastRow)
{
    Run run;
    const QString log = QDir(folder).filePath(QStringLiteral("program.log"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QDir(folder).filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vantrel.core.debug=true"));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{time process} %{message}"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setStandardErrorFile(log);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, {});
    if (!process.waitForStarted())
        return run;
    const auto pid = uint32_t(process.processId());
    xcb_window_t client = 0;
    QElapsedTimer clock;
    clock.start();
    while (!client && clock.elapsed() < 60000)
        x.poll(5, [&](uint8_t type, xcb_window_t window, bool overrideRedirect) {
            if (type == XCB_MAP_NOTIFY && !client && !overrideRedirect)
                client = x.clientOf(window, pid);
        });
    // Update Tasks Now waits until task.db is prepared beside the window; then the program is left a moment idle.
    while (client && logged(log, "task.db prepared") < 0 && clock.elapsed() < 60000)
        QThread::msleep(5);
    QThread::msleep(300);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("watch"));
    db.setDatabaseName(QDir(folder).filePath(QStringLiteral("task.db")));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    db.open();
    if (client) {
        std::system(qPrintable(QStringLiteral("xdotool windowfocus --sync %1 >/dev/null 2>&1").arg(client)));
        QElapsedTimer pressed;
        pressed.start();
        std::system("xdotool key ctrl+u >/dev/null 2>&1");
        xcb_window_t dialog = 0;
        while (pressed.elapsed() < 60000 && (run.stored < 0 || run.dialogGone < 0)) {
            // The progress box is a popup: a window the window manager leaves alone.
            x.poll(2, [&](uint8_t type, xcb_window_t window, bool) {
                if (type == XCB_MAP_NOTIFY && !dialog) {
                    const xcb_window_t other = x.clientOf(window, pid);
                    if (other && other != client) {
                        dialog = window;
                        run.dialogShown = pressed.nsecsElapsed() / 1e6;
                    }
                } else if (type == XCB_UNMAP_NOTIFY && dialog && window == dialog && run.dialogGone < 0) {
                    run.dialogGone = pressed.nsecsElapsed() / 1e6;
                }
            });
            if (run.stored < 0 && lastResultRow(db) >= lastRow + tasks)
                run.stored = pressed.nsecsElapsed() / 1e6;
        }
        const double asking = logged(log, "update-all: asking for");
        const double asked = logged(log, "update-all: every page asked for");
        const double read = logged(log, "update-all: every page read and compared");
        const double stored = logged(log, "update-all: changes stored");
        if (asking >= 0 && asked >= 0 && read >= 0 && stored >= 0) {
            run.asking = asked - asking;
            run.reading = read - asked;
            run.storing = stored - read;
        }
        std::system(qPrintable(QStringLiteral("xdotool windowfocus --sync %1 key ctrl+q >/dev/null 2>&1").arg(client)));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("watch"));
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return run;
}

// The plain parallel client: every page asked of one network manager at once, each body read whole as it ends.
double plainFetch(const QStringList& addresses, qint64* bytes)
{
    QNetworkAccessManager manager;
    const auto fetchAll = [&manager](const QStringList& which) {
        qint64 read = 0;
        qsizetype left = which.size();
        for (const QString& address : which) {
            QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(address)));
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &read, &left] {
                read += reply->readAll().size();
                reply->deleteLater();
                --left;
            });
        }
        waitUntil([&left] { return left == 0; });
        return read;
    };
    fetchAll(addresses.mid(0, 1)); // the network stack brought up, as the program's is by its start
    QElapsedTimer timer;
    timer.start();
    *bytes = fetchAll(addresses);
    return timer.nsecsElapsed() / 1e6;
}

double median(QList<double> values)
{
    values.removeAll(-1);
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values.at((values.size() - 1) / 2);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    int runs = 5;
    int tasks = 200;
    for (const char* option : {"--runs", "--tasks"}) {
        const qsizetype at = args.indexOf(QLatin1String(option));
        if (at >= 0 && at + 1 < args.size()) {
            (std::strcmp(option, "--runs") == 0 ? runs : tasks) = qMax(1, args.at(at + 1).toInt());
            args.remove(at, 2);
        }
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_updateall_outside [--runs N] [--tasks N] PROGRAM [REFERENCE]\n");
        return 2;
    }
    X x;
    if (!x.open()) {
        std::fprintf(stderr, "no X server on DISPLAY\n");
        return 2;
    }
    QThread serverThread;
    serverThread.start();
    auto* server = new TestServer;
    server->setKeepAlive(true);
    if (!server->listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "the page server could not listen\n");
        return 1;
    }
    for (int t = 0; t < tasks; ++t)
        server->setPage(pagePath(t), BenchPages::page(t, 2));
    server->moveToThread(&serverThread);
    const quint16 port = server->port();
    const auto address = [port](const QString& path) {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    };
    QStringList addresses;
    for (int t = 0; t < tasks; ++t)
        addresses << address(pagePath(t));
    int stored = 0;
    for (int link = 0; link < BenchPages::Links; ++link)
        stored += BenchPages::hasKeyword(link) ? 1 : 0;

    std::printf("update-all from outside, DISPLAY=%s, %d tasks of one host answering at once, pages of %lld bytes, "
                "%d runs, the ways taking turns\n",
                qgetenv("DISPLAY").constData(), tasks, static_cast<long long>(BenchPages::page(0, 2).size()), runs);
    QTemporaryDir work;
    QList<double> plain;
    std::map<int, QList<Run>> byProgram;
    qint64 bytes = 0;
    for (int r = 0; r < runs; ++r) {
        plain.append(plainFetch(addresses, &bytes));
        for (int p = 0; p < int(args.size()); ++p) {
            const QString folder = QDir(work.path()).filePath(QStringLiteral("run-%1-%2").arg(r).arg(p));
            QDir().mkpath(QDir(folder).filePath(QStringLiteral("config")));
            writeBenchDb(
                QDir(folder).filePath(QStringLiteral("task.db")), tasks, [stored](int) { return stored; },
                [&](int t, int row) { return address(BenchPages::linkPath(t, row * 3)); },
                [](int t, int row) { return BenchPages::text(t, row * 3, 1); },
                [&](int t) { return address(pagePath(t)); });
            byProgram[p].append(updateAll(x, args.at(p), folder, tasks, qint64(tasks) * stored));
        }
    }
    const double plainMs = median(plain);
    std::printf("plain parallel client: %8.1f ms (median; %lld bytes read a run)\n", plainMs,
                static_cast<long long>(bytes));
    QList<double> storedMedians;
    for (const auto& [p, list] : byProgram) {
        QList<double> shown, inDb, gone, asking, reading, storing, times;
        for (const Run& run : list) {
            shown << run.dialogShown;
            inDb << run.stored;
            gone << run.dialogGone;
            asking << run.asking;
            reading << run.reading;
            storing << run.storing;
        }
        QStringList all;
        for (double t : std::as_const(inDb))
            all << QString::number(t, 'f', 0);
        const double total = median(inDb);
        storedMedians << total;
        std::printf("%-9s key -> results in task.db %8.1f ms (runs %s), %.2fx the plain client\n",
                    p == 0 ? "new" : "reference", total, qPrintable(all.join(u' ')), total / plainMs);
        std::printf(
            "          key -> dialog shown %6.1f, dialog gone %6.1f | program's log: asking for the pages %6.1f, "
            "until every page is read and compared %6.1f, storing %6.1f; the rest (key, dialog, turns) %6.1f "
            "ms\n",
            median(shown), median(gone), median(asking), median(reading), median(storing),
            median(asking) < 0 ? -1.0 : total - median(asking) - median(reading) - median(storing));
    }
    if (storedMedians.size() > 1)
        std::printf("new / reference (key -> results in task.db): %.3f\n", storedMedians.at(0) / storedMedians.at(1));
    QMetaObject::invokeMethod(server, &QObject::deleteLater);
    serverThread.quit();
    serverThread.wait();
    return 0;
}
