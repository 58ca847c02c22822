// SPDX-License-Identifier: GPL-3.0-or-later
// Serves the files of one folder over HTTP on 127.0.0.1, reading each file anew for every request, so a
// script can change a page between two checks. Prints the port it listens on, then serves until killed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: servedir FOLDER\n";
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        QTextStream(stderr) << "cannot listen: " << server.errorString() << '\n';
        return 1;
    }
    QTextStream(stdout) << server.serverPort() << Qt::endl;

    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &root] {
                if (!socket->canReadLine())
                    return;
                const QList<QByteArray> request = socket->readLine().split(' ');
                const QString name =
                    request.size() > 1 ? QString::fromUtf8(request.at(1)).section('?', 0, 0) : QString();
                QFile file(root.filePath(name.mid(1)));
                const bool found = !name.contains(QStringLiteral("..")) && file.open(QIODevice::ReadOnly);
                const QByteArray body = found ? file.readAll() : QByteArray("not found");
                socket->write(QByteArray(found ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                              "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    });
    return QCoreApplication::exec();
}
