// SPDX-License-Identifier: GPL-3.0-or-later
// Peak memory of downloading big pages all at once: 96 pages of 30 MB on 20 loopback hosts (127.0.0.1 to
// 127.0.0.20), answering after 0.2 s, fetched through one PageFetcher whose callbacks release each body at
// once, as update-all does. Each way runs in a process of its own (the server stays in this one): the bound on
// the bodies held in flight as shipped (256 MiB) against no bound. Prints wall time, peak resident memory and
// the pages read whole, and the ratio of the peaks.
//
// bench_fetchmemory [--pages N] [--mb M]
#include "engine/fetching/pagefetcher.h"
#include "tests/support/procstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <limits>

namespace {
constexpr int Hosts = 20;
constexpr int DelayMs = 200;
constexpr qint64 Piece = 256 * 1024;

// Answers every request with a body of the given size after DelayMs, written a piece at a time as the
// client takes it, so the server holds no whole body per connection.
class BigPageServer : public QObject
{
public:
    explicit BigPageServer(qint64 bytes) : m_bytes(bytes), m_piece(Piece, 'x')
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n") || socket->property("left").isValid())
                        return;
                    socket->setProperty("left", m_bytes);
                    QPointer<QTcpSocket> guard(socket);
                    QTimer::singleShot(DelayMs, this, [this, guard] {
                        if (!guard)
                            return;
                        guard->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                     QByteArray::number(m_bytes) + "\r\nConnection: close\r\n\r\n");
                        connect(guard, &QTcpSocket::bytesWritten, guard, [this, s = guard.data()] { feed(s); });
                        feed(guard);
                    });
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::Any, 0); }
    quint16 port() const { return m_server.serverPort(); }

private:
    void feed(QTcpSocket* socket)
    {
        qint64 left = socket->property("left").toLongLong();
        while (left > 0 && socket->bytesToWrite() < 2 * Piece) {
            const qint64 n = qMin(left, Piece);
            socket->write(m_piece.constData(), n);
            left -= n;
        }
        socket->setProperty("left", left);
        if (left == 0 && socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    qint64 m_bytes;
    QByteArray m_piece;
};

int runChild(quint16 port, int pages, qint64 bytes, qint64 limit)
{
    PageFetcher fetcher;
    fetcher.setMaxBytesInFlight(limit);
    QObject context;
    int done = 0;
    int whole = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < pages; ++i) {
        const QString address = QStringLiteral("http://127.0.0.%1:%2/p%3").arg(1 + i % Hosts).arg(port).arg(i);
        fetcher.fetch(address, &context, [&](const FetchedPage& page) {
            ++done;
            if (page.ok && page.body.size() == bytes)
                ++whole;
            if (done == pages)
                QCoreApplication::quit();
        });
    }
    QTimer::singleShot(300000, qApp, &QCoreApplication::quit); // bounded in any case
    QCoreApplication::exec();
    std::printf("%lld %lld %d %lld\n", static_cast<long long>(clock.elapsed()),
                static_cast<long long>(ProcStatus::peakResidentKb()), whole,
                static_cast<long long>(fetcher.peakHeldBytes() / 1024));
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int pages = 96;
    qint64 megabytes = 30;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == u"--pages")
            pages = args.at(i + 1).toInt();
        else if (args.at(i) == u"--mb")
            megabytes = args.at(i + 1).toLongLong();
    }
    const qint64 bytes = megabytes * 1000 * 1000;
    if (args.size() == 6 && args.at(1) == u"--child")
        return runChild(args.at(2).toUShort(), args.at(3).toInt(), args.at(4).toLongLong(), args.at(5).toLongLong());

    BigPageServer server(bytes);
    if (!server.listen()) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::printf("%d pages of %lld MB on %d loopback hosts, answering after %d ms\n", pages,
                static_cast<long long>(megabytes), Hosts, DelayMs);
    std::printf("%-28s %10s %14s %14s %12s\n", "way", "time ms", "peak RSS MB", "peak held MB", "pages whole");
    struct Way
    {
        const char* name;
        qint64 limit;
    };
    const Way ways[] = {{"bounded (256 MiB in flight)", PageFetcher::DefaultMaxBytesInFlight},
                        {"unbounded", std::numeric_limits<qint64>::max()}};
    double peaks[2] = {0, 0};
    int index = 0;
    for (const Way& way : ways) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--child", QString::number(server.port()), QString::number(pages), QString::number(bytes),
                     QString::number(way.limit)});
        // The server runs on this thread: serve it while the child downloads.
        QEventLoop loop;
        QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
        if (child.state() != QProcess::NotRunning)
            loop.exec();
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 4) {
            std::fprintf(stderr, "%s: the child gave no figures\n", way.name);
            return 1;
        }
        peaks[index++] = figures.at(1).toDouble() / 1024;
        std::printf("%-28s %10s %14.0f %14.0f %9s/%d\n", way.name, figures.at(0).constData(),
                    figures.at(1).toDouble() / 1024, figures.at(3).toDouble() / 1024, figures.at(2).constData(), pages);
    }
    std::printf("peak memory, unbounded / bounded: %.1fx\n", peaks[1] / peaks[0]);
    return 0;
}
