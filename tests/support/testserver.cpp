// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/testserver.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {
const char* const RequestProperty = "testserver_request";
const char* const AnsweredProperty = "testserver_answered";
constexpr qint64 EndlessChunk = 16 * 1024;
constexpr qint64 EndlessBacklog = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 304:
        return "Not Modified";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}
} // namespace

TestServer::TestServer(QObject* parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &TestServer::onNewConnection);
}

TestServer::~TestServer() = default;

bool TestServer::listen(const QHostAddress& address)
{
    if (!server.listen(address, 0))
        return false;
    QMutexLocker lock(&mutex);
    listenPort = server.serverPort();
    return true;
}

quint16 TestServer::port() const
{
    QMutexLocker lock(&mutex);
    return listenPort;
}

QUrl TestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void TestServer::setResponse(const QString& path, const Response& response)
{
    QMutexLocker lock(&mutex);
    responses.insert(path, response);
}

void TestServer::setPage(const QString& path, const QByteArray& body, const QByteArray& contentType)
{
    Response response;
    response.body = body;
    response.contentType = contentType;
    setResponse(path, response);
}

void TestServer::setRedirect(const QString& path, const QByteArray& location, int status)
{
    Response response;
    response.status = status;
    response.location = location;
    setResponse(path, response);
}

void TestServer::setStatus(const QString& path, int status, const QByteArray& body)
{
    Response response;
    response.status = status;
    response.body = body;
    setResponse(path, response);
}

int TestServer::hits(const QString& path) const
{
    QMutexLocker lock(&mutex);
    return hitCounts.value(path);
}

QByteArray TestServer::lastHeader(const QString& path, const QByteArray& name) const
{
    QMutexLocker lock(&mutex);
    return lastHeaders.value(path).value(name.toLower());
}

QByteArray TestServer::lastBody(const QString& path) const
{
    QMutexLocker lock(&mutex);
    return lastBodies.value(path);
}

void TestServer::keepBodies(const QString& path)
{
    QMutexLocker lock(&mutex);
    keptBodies.insert(path, {});
}

QList<QByteArray> TestServer::bodies(const QString& path) const
{
    QMutexLocker lock(&mutex);
    return keptBodies.value(path);
}

QByteArray TestServer::lastRequest(const QString& path) const
{
    QMutexLocker lock(&mutex);
    return lastRequests.value(path);
}

qint64 TestServer::bytesSent() const
{
    QMutexLocker lock(&mutex);
    return sent;
}

void TestServer::write(QTcpSocket* socket, const QByteArray& bytes)
{
    {
        QMutexLocker lock(&mutex);
        sent += bytes.size();
    }
    socket->write(bytes);
}

int TestServer::openConnections() const
{
    QMutexLocker lock(&mutex);
    return open;
}

int TestServer::acceptedConnections() const
{
    QMutexLocker lock(&mutex);
    return accepted;
}

int TestServer::peakConnections() const
{
    QMutexLocker lock(&mutex);
    return peakOpen;
}

void TestServer::onNewConnection()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        socket->setParent(this);
        {
            QMutexLocker lock(&mutex);
            ++open;
            ++accepted;
            peakOpen = qMax(peakOpen, open);
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this] {
            QMutexLocker lock(&mutex);
            --open;
        });
        onReadyRead(socket);
    }
}

void TestServer::onReadyRead(QTcpSocket* socket)
{
    if (socket->property(AnsweredProperty).toBool()) {
        socket->readAll(); // one request per connection; anything after it is ignored
        return;
    }
    QByteArray request = socket->property(RequestProperty).toByteArray() + socket->readAll();
    const qsizetype headerEnd = request.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        socket->setProperty(RequestProperty, request);
        return;
    }
    // A request with a body is answered once the whole body is in.
    const qsizetype lengthAt = request.left(headerEnd).toLower().indexOf("\r\ncontent-length:");
    const qsizetype bodyLength =
        lengthAt < 0
            ? 0
            : request.mid(lengthAt + 17, request.indexOf("\r\n", lengthAt + 2) - lengthAt - 17).trimmed().toLongLong();
    if (request.size() < headerEnd + 4 + bodyLength) {
        socket->setProperty(RequestProperty, request);
        return;
    }
    // A kept-alive connection may carry the next request behind this one.
    socket->setProperty(RequestProperty, keepAlive ? QVariant(request.mid(headerEnd + 4 + bodyLength)) : QVariant());
    socket->setProperty(AnsweredProperty, true);

    // Request line: METHOD SP PATH SP VERSION
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine.at(1)) : QString();
    QHash<QByteArray, QByteArray> headers;
    for (const QByteArray& line : request.left(headerEnd).split('\n').mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    Response response;
    {
        QMutexLocker lock(&mutex);
        ++hitCounts[path];
        lastHeaders.insert(path, headers);
        lastRequests.insert(path, request.left(headerEnd + 2));
        lastBodies.insert(path, request.mid(headerEnd + 4, bodyLength));
        if (const auto kept = keptBodies.find(path); kept != keptBodies.end())
            kept->append(lastBodies.value(path));
        const auto it = responses.constFind(path);
        if (it != responses.constEnd()) {
            response = *it;
        } else {
            response.status = 404;
            response.body.clear();
        }
    }
    if (response.never)
        return;
    if (!response.requiredCookie.isEmpty() && headers.value("cookie") != response.requiredCookie) {
        response.status = 403;
        response.body = "<html><body>Forbidden: sign in first</body></html>";
        response.etag.clear();
        response.lastModified.clear();
    } else if (response.honourValidators && response.status == 200 &&
               ((!response.etag.isEmpty() && headers.value("if-none-match") == response.etag) ||
                (!response.lastModified.isEmpty() && headers.value("if-modified-since") == response.lastModified))) {
        response.status = 304;
        response.body.clear();
        response.contentType.clear();
    }
    if (response.delayMs > 0) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, socket, [this, guard, response] {
            if (guard)
                answer(guard, response);
        });
        return;
    }
    answer(socket, response);
}

void TestServer::answer(QTcpSocket* socket, const Response& response)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    if (!response.etag.isEmpty())
        head += "ETag: " + response.etag + "\r\n";
    if (!response.lastModified.isEmpty())
        head += "Last-Modified: " + response.lastModified + "\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (!response.contentEncoding.isEmpty())
        head += "Content-Encoding: " + response.contentEncoding + "\r\n";
    if (response.chunked) {
        head += "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
        const qsizetype third = (response.body.size() + 2) / 3;
        QByteArray chunks;
        for (int i = 0; i < 3; ++i) {
            const QByteArray piece = response.body.mid(i * third, third);
            if (piece.isEmpty())
                continue;
            const QByteArray size =
                response.garbleChunk && i == 1 ? QByteArray("zz") : QByteArray::number(piece.size(), 16);
            chunks += size + "\r\n" + piece + "\r\n";
        }
        write(socket, head + chunks + "0\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    if (response.endless) {
        // No length: the body ends only when the client gives up.
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        if (response.dripMs > 0) {
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket] { socket->write("x"); });
            drip->start(response.dripMs);
        } else {
            connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] { feedEndless(socket); });
            feedEndless(socket);
        }
        return;
    }
    head += "Content-Length: " + QByteArray::number(response.body.size() + response.shortBy) + "\r\n";
    if (keepAlive && !response.closeMidBody && response.shortBy == 0) {
        head += "Connection: keep-alive\r\n\r\n";
        write(socket, head + response.body);
        socket->setProperty(AnsweredProperty, false);
        if (!socket->property(RequestProperty).toByteArray().isEmpty() || socket->bytesAvailable() > 0)
            onReadyRead(socket);
        return;
    }
    head += "Connection: close\r\n\r\n";
    write(socket, head);
    if (response.closeMidBody) {
        write(socket, response.body.left(response.body.size() / 2));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    write(socket, response.body);
    socket->disconnectFromHost(); // closes once everything is written
}

void TestServer::feedEndless(QTcpSocket* socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (socket->bytesToWrite() < EndlessBacklog)
        socket->write(QByteArray(EndlessChunk, 'x'));
}
