// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

// A small HTTP/1.1 server on 127.0.0.1 for tests: every path answers exactly as the test sets it up.
// Unknown paths answer 404 with an empty body. The server lives on the thread it was created on
// (or moved to); its settings may be changed from that thread only.
class TestServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/html";
        QByteArray body;
        QByteArray location;   // for redirections
        int delayMs = 0;       // answer late
        bool never = false;    // accept, read the request, never answer
        bool endless = false;  // headers, then body bytes for ever (no length)
        bool closeMidBody = false; // announce the body's length, send half of it, close
    };

    explicit TestServer(QObject* parent = nullptr);
    ~TestServer() override;

    bool listen();
    quint16 port() const;
    QUrl url(const QString& path) const; // http://127.0.0.1:PORT + path

    void setResponse(const QString& path, const Response& response);
    void setPage(const QString& path, const QByteArray& body, const QByteArray& contentType = "text/html");
    void setRedirect(const QString& path, const QByteArray& location, int status = 302);
    void setStatus(const QString& path, int status, const QByteArray& body = {});
    int hits(const QString& path) const;
    int openConnections() const;

private:
    void onNewConnection();

    QTcpServer server;
    QHash<QString, Response> responses;
    QHash<QString, int> hitCounts;
    int open = 0;
};
