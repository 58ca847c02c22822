// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include "engine/logging.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace {
const QByteArray Request = "show\n";
const QByteArray Answer = "shown\n";
// A client that connects and says nothing is dropped after this time.
constexpr int IdleClientMs = 2000;
constexpr int RetryMs = 50;

QString keyOf(const QString& databasePath)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(databasePath.toUtf8(), QCryptographicHash::Sha256).toHex().left(24));
}
} // namespace

SingleInstance::SingleInstance(const QString& path, QObject* parent)
    : QObject(parent), runtimeFolder(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
{
    // The same task.db reached through a linked folder is the same file.
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    databasePath = folder.isEmpty() ? info.absoluteFilePath() : QDir(folder).filePath(info.fileName());
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName() const
{
    return QDir(runtimeFolder).filePath(QStringLiteral("vantrel-monitor-%1.socket").arg(keyOf(databasePath)));
}

SingleInstance::LockResult SingleInstance::tryLock(const QString& path)
{
    auto candidate = std::make_unique<QLockFile>(path);
    // Only a lock whose process is gone is stale, however old it is: a program may run for months.
    candidate->setStaleLockTime(0);
    if (candidate->tryLock(0)) {
        lock = std::move(candidate);
        lockFilePath = path;
        return LockResult::Taken;
    }
    if (candidate->error() == QLockFile::LockFailedError) {
        lockFilePath = path;
        return LockResult::Held;
    }
    return LockResult::Unwritable;
}

SingleInstance::Outcome SingleInstance::start()
{
    const QString beside = databasePath + QStringLiteral(".lock");
    const QString inRuntime =
        QDir(runtimeFolder).filePath(QStringLiteral("vantrel-monitor-%1.lock").arg(keyOf(databasePath)));

    QDeadlineTimer deadline(answerTimeoutMs);
    for (;;) {
        LockResult result = tryLock(beside);
        if (result == LockResult::Unwritable)
            result = tryLock(inRuntime);
        if (result == LockResult::Taken) {
            listen();
            return Outcome::Primary;
        }
        if (result == LockResult::Unwritable) {
            qWarning("No lock file can be written for %s; another start on it is not detected.",
                     qPrintable(databasePath));
            return Outcome::Primary;
        }
        // Held: the running program may still be setting up its listener, or be ending; ask until the
        // deadline, trying the lock again in between.
        if (askRunningInstance(int(qMin<qint64>(deadline.remainingTime(), 1000))))
            return Outcome::HandedOver;
        if (deadline.hasExpired())
            return Outcome::NoAnswer;
        QEventLoop pause;
        QTimer::singleShot(RetryMs, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

bool SingleInstance::askRunningInstance(int waitMs)
{
    if (waitMs <= 0)
        return false;
    QLocalSocket socket;
    QEventLoop loop;
    bool answered = false;
    QByteArray received;
    connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(Request); });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        if (received.contains(Answer)) {
            answered = true;
            loop.quit();
        }
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    // Events run while waiting: the program answering may live in this very process (tests).
    socket.connectToServer(serverName());
    if (socket.state() != QLocalSocket::UnconnectedState)
        loop.exec();
    socket.abort();
    return answered;
}

void SingleInstance::listen()
{
    QDir().mkpath(runtimeFolder);
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a program that crashed: we hold the lock, so nobody listens on it.
    QLocalServer::removeServer(serverName());
    if (!server->listen(serverName())) {
        qWarning("Cannot listen for later starts at %s: %s", qPrintable(serverName()),
                 qPrintable(server->errorString()));
        return;
    }
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QTimer::singleShot(IdleClientMs, client, &QLocalSocket::abort);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > 64)
                        client->abort();
                    return;
                }
                if (client->readLine() != Request) {
                    client->abort();
                    return;
                }
                qCDebug(lcVantrel) << "a later start asked for the window";
                emit activationRequested();
                client->write(Answer);
                client->disconnectFromServer();
            });
        }
    });
}
