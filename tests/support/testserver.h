// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests: every path answers exactly as the test sets it up.
// Unknown paths answer 404 with an empty body. The server lives on the thread it was created on
// (or moved to, before or after listen()); responses and hit counts are guarded by a mutex, so a
// test may set pages and read hits from another thread while the server runs on its own.
class TestServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/html";
        QByteArray body;
        QByteArray location;        // for redirections
        int delayMs = 0;            // answer late
        bool never = false;         // accept, read the request, never answer
        bool endless = false;       // headers, then body bytes for ever (no length)
        bool closeMidBody = false;  // announce the body's length, send half of it, close
        int dripMs = 0;             // with endless: one byte every dripMs instead of as fast as possible
        bool chunked = false;       // the body in three chunks (Transfer-Encoding: chunked), then the last chunk
        bool garbleChunk = false;   // with chunked: the second chunk's size line is not a hexadecimal number
        qint64 shortBy = 0;         // announce a length this many bytes longer than the body, send it, close
        QByteArray contentEncoding; // sent as Content-Encoding; the body goes out exactly as given
        QList<QPair<QByteArray, QByteArray>> headers; // sent as they are (Retry-After, ...)
        // Validators sent with the page; a request whose If-None-Match or If-Modified-Since matches them
        // (honourValidators) gets 304 with no body.
        QByteArray etag;
        QByteArray lastModified;
        bool honourValidators = true;
        QByteArray requiredCookie; // when set, 403 unless the request's Cookie header is exactly this
    };

    explicit TestServer(QObject* parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1 (or the given address, such as QHostAddress::Any so that every loopback address
    // 127.0.0.1 to 127.0.0.20 reaches it as a host of its own) at a free port. Call it on the server's thread
    // (or before moving it).
    bool listen(const QHostAddress& address = QHostAddress::LocalHost);
    // Keeps a connection open after an answer with a length, for the client's next request on it, as real
    // servers do; by default every answer closes its connection. Set it before listen().
    void setKeepAlive(bool on) { keepAlive = on; }
    // Keeps the body of every request for the path, not only the last one (for a receiver that must see each
    // delivery once).
    void keepBodies(const QString& path);
    quint16 port() const;
    QUrl url(const QString& path) const; // http://127.0.0.1:PORT + path

    void setResponse(const QString& path, const Response& response);
    void setPage(const QString& path, const QByteArray& body, const QByteArray& contentType = "text/html");
    void setRedirect(const QString& path, const QByteArray& location, int status = 302);
    void setStatus(const QString& path, int status, const QByteArray& body = {});
    int hits(const QString& path) const;
    // The header of the latest request for the path, by lower-case name; empty when none came or it had none.
    QByteArray lastHeader(const QString& path, const QByteArray& name) const;
    // The request line and header lines of the last request for the path, as they came over the wire.
    QByteArray lastRequest(const QString& path) const;
    // The body of the last request for the path (as its Content-Length gave it).
    QByteArray lastBody(const QString& path) const;
    // The bodies of every request for a path given to keepBodies(), in the order they came.
    QList<QByteArray> bodies(const QString& path) const;
    // Bytes written to clients since listen(), headers included.
    qint64 bytesSent() const;
    int openConnections() const;
    // Connections accepted since listen(), and the most that were open at once.
    int acceptedConnections() const;
    int peakConnections() const;

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Response& response);
    void write(QTcpSocket* socket, const QByteArray& bytes);
    void feedEndless(QTcpSocket* socket);

    QTcpServer server{this}; // a child, so moveToThread() takes it along
    mutable QMutex mutex;
    QHash<QString, Response> responses;
    QHash<QString, int> hitCounts;
    QHash<QString, QHash<QByteArray, QByteArray>> lastHeaders;
    QHash<QString, QByteArray> lastRequests;
    QHash<QString, QByteArray> lastBodies;
    QHash<QString, QList<QByteArray>> keptBodies; // only the paths given to keepBodies()
    qint64 sent = 0;
    quint16 listenPort = 0;
    int open = 0;
    int accepted = 0;
    int peakOpen = 0;
    bool keepAlive = false;
};

Q_DECLARE_METATYPE(TestServer::Response)
