// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include "app/logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray Request = "show\n";
const QByteArray Answer = "shown\n";
// A client that connects and says nothing is dropped after this time.
constexpr int IdleClientMs = 2000;
// How often a later start looks again whether the running program listens yet.
constexpr int RetryMs = 100;
} // namespace

SingleInstance::SingleInstance(const QString& path, QObject* parent)
    : QObject(parent), databasePath(QDir::current().absoluteFilePath(path))
{
}

SingleInstance::~SingleInstance()
{
    // The socket goes first: once the lock is released a new program may take it and listen on the
    // same name, and closing our server afterwards would remove its socket file.
    delete server;
    server = nullptr;
    if (lockFd >= 0)
        ::close(lockFd);
}

namespace {
// The key of an existing file: its device and inode.
QString keyOf(const struct stat& st)
{
    return QStringLiteral("%1-%2").arg(quint64(st.st_dev), 0, 16).arg(quint64(st.st_ino), 0, 16);
}
const QString LockPrefix = QStringLiteral("vantrel-monitor-");
const QString LockSuffix = QStringLiteral(".lock");
} // namespace

// The name of the file task.db is, not of the path to it. task.db is created (empty, as SQLite would
// create it) when it does not exist yet, so that the first start and every later one name the same file.
// Only where it can neither be found nor created is the fully resolved path the key.
QString SingleInstance::fileKey() const
{
    const QByteArray native = QFile::encodeName(databasePath);
    struct stat st;
    bool known = ::stat(native.constData(), &st) == 0;
    if (!known && errno == ENOENT) {
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            known = ::fstat(fd, &st) == 0;
            ::close(fd);
        }
    }
    if (known)
        return keyOf(st);

    const QFileInfo info(databasePath);
    QString resolved = info.canonicalFilePath();
    if (resolved.isEmpty()) {
        const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
        resolved = folder.isEmpty() ? databasePath : QDir(folder).filePath(info.fileName());
    }
    return QStringLiteral("path-") +
           QString::fromLatin1(
               QCryptographicHash::hash(resolved.toUtf8(), QCryptographicHash::Sha256).toHex().left(24));
}

void SingleInstance::cancel()
{
    cancelled = true;
    if (waiting)
        waiting->quit();
}

SingleInstance::LockResult SingleInstance::tryLock()
{
    const QByteArray native = QFile::encodeName(lockFilePath);
    // Close-on-exec: a browser started from this program must not inherit the lock and keep it after
    // the program has ended.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = tr("%1: %2").arg(lockFilePath, QString::fromLocal8Bit(std::strerror(errno)));
        qCWarning(lcApp, "Cannot open the lock file %s: %s", native.constData(), std::strerror(errno));
        return LockResult::Unwritable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return LockResult::Held;
        problem = tr("%1: %2").arg(lockFilePath, QString::fromLocal8Bit(std::strerror(error)));
        qCWarning(lcApp, "Cannot lock %s: %s", native.constData(), std::strerror(error));
        return LockResult::Unwritable;
    }
    // The file may have been removed or replaced between open and flock; then the lock guards nothing
    // that others will find, and the caller tries again.
    struct stat locked, named;
    if (::fstat(fd, &locked) != 0 || ::stat(native.constData(), &named) != 0 || locked.st_dev != named.st_dev ||
        locked.st_ino != named.st_ino) {
        ::close(fd);
        return LockResult::Held;
    }
    // The process id is for people looking at the file, the path of task.db for removeStaleLocks(); the lock
    // itself is the flock.
    const QByteArray pid =
        QByteArray::number(qint64(::getpid())) + '\n' + QFile::encodeName(databasePath).replace('\n', '?') + '\n';
    if (::ftruncate(fd, 0) != 0 || ::write(fd, pid.constData(), size_t(pid.size())) != pid.size())
        qCDebug(lcApp) << "cannot write the process id into" << lockFilePath;
    lockFd = fd;
    return LockResult::Taken;
}

void SingleInstance::placeIn(const QString& folder, bool hidden)
{
    const QString prefix = hidden ? QLatin1Char('.') + LockPrefix : LockPrefix;
    lockFilePath = QDir(folder).filePath(prefix + key + LockSuffix);
    socketPath = QDir(folder).filePath(prefix + key + QStringLiteral(".socket"));
}

void SingleInstance::removeStaleLocks() const
{
    const QStringList names =
        QDir(runtimeFolder).entryList({LockPrefix + QLatin1Char('*') + LockSuffix}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QString path = QDir(runtimeFolder).filePath(name);
        if (path == lockFilePath)
            continue;
        const QByteArray native = QFile::encodeName(path);
        const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // Only a lock nobody holds; it is held while it is judged, so no start takes it meanwhile (a start
        // that opened it already finds it removed after its flock, and tries again).
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            char text[4096];
            const ssize_t size = ::read(fd, text, sizeof text);
            const QByteArrayList lines = QByteArray(text, size > 0 ? int(size) : 0).split('\n');
            const QByteArray database = lines.value(1);
            struct stat st;
            const QString wanted = name.mid(LockPrefix.size(), name.size() - LockPrefix.size() - LockSuffix.size());
            // Written by this program: the second line names task.db. Stale when that file is gone, or is
            // another file now (another inode: it was removed and made again).
            const bool stale = !database.isEmpty() && (::stat(database.constData(), &st) != 0 || keyOf(st) != wanted);
            if (stale) {
                qCDebug(lcApp) << "removing the stale lock file" << path;
                ::unlink(native.constData());
                QLocalServer::removeServer(
                    QDir(runtimeFolder).filePath(LockPrefix + wanted + QStringLiteral(".socket")));
            }
        }
        ::close(fd);
    }
}

SingleInstance::Outcome SingleInstance::start()
{
    key = fileKey();
    if (runtimeFolder.isEmpty())
        runtimeFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(runtimeFolder);
    placeIn(runtimeFolder, false);
    cancelled = false;
    problem.clear();
    bool besideDatabase = false;
    QString firstProblem;

    QElapsedTimer waited;
    waited.start();
    bool noticed = false;
    for (;;) {
        switch (tryLock()) {
        case LockResult::Taken:
            // A socket file left by a program that crashed: we hold the lock, so nobody listens on it.
            QLocalServer::removeServer(socketPath);
            removeStaleLocks();
            // Listening starts with the event loop: a later start that connects is then answered at once.
            QTimer::singleShot(0, this, &SingleInstance::listen);
            return Outcome::Primary;
        case LockResult::Unwritable:
            // The runtime folder may be missing or full: beside task.db every start finds the lock as well.
            if (!besideDatabase) {
                besideDatabase = true;
                firstProblem = problem;
                placeIn(QFileInfo(databasePath).absolutePath(), true);
                continue;
            }
            problem = firstProblem + QLatin1Char('\n') + problem;
            qCWarning(lcApp, "No lock file can be made for %s: %s", qPrintable(databasePath), qPrintable(problem));
            return Outcome::NoLock;
        case LockResult::Held:
            break;
        }
        switch (askRunningInstance()) {
        case AskResult::Answered:
            return Outcome::HandedOver;
        case AskResult::Silent:
            return Outcome::NoAnswer;
        case AskResult::Cancelled:
            return Outcome::Cancelled;
        case AskResult::NotListening:
            break;
        }
        // The holder is alive (its lock is held) but still loading, or it is ending right now: wait and
        // try the lock again, as long as it takes.
        if (!noticed && waited.elapsed() >= stillStartingNoticeMs) {
            noticed = true;
            emit stillStarting();
        }
        if (!pause(RetryMs))
            return Outcome::Cancelled;
    }
}

// Runs a local event loop until `ended` is set. A loop that returns without it was ended by the
// application quitting, and every later one would return at once: that ends the wait like cancel().
void SingleInstance::runUntil(QEventLoop& loop, const bool& ended)
{
    waiting = &loop;
    loop.exec();
    waiting = nullptr;
    if (!ended)
        cancelled = true;
}

// Runs events for the given time; false when cancel() ended it (or had already been called).
bool SingleInstance::pause(int ms)
{
    if (cancelled)
        return false;
    QEventLoop loop;
    bool ended = false;
    QTimer::singleShot(ms, &loop, [&] {
        ended = true;
        loop.quit();
    });
    runUntil(loop, ended);
    return !cancelled;
}

SingleInstance::AskResult SingleInstance::askRunningInstance()
{
    if (cancelled)
        return AskResult::Cancelled;
    QLocalSocket socket;
    QEventLoop loop;
    QTimer silence;
    silence.setSingleShot(true);
    bool connected = false;
    bool answered = false;
    bool ended = false;
    const auto end = [&] {
        ended = true;
        loop.quit();
    };
    QByteArray received;
    connect(&socket, &QLocalSocket::connected, &loop, [&] {
        connected = true;
        socket.write(Request);
        silence.start(answerTimeoutMs);
    });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        if (received.contains(Answer)) {
            answered = true;
            end();
        }
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, end);
    connect(&socket, &QLocalSocket::errorOccurred, &loop, end);
    connect(&silence, &QTimer::timeout, &loop, end);
    // Events run while waiting: the program answering may live in this very process (tests).
    socket.connectToServer(socketPath);
    if (socket.state() != QLocalSocket::UnconnectedState)
        runUntil(loop, ended);
    // The answer may have arrived together with the close.
    if (!answered && socket.bytesAvailable() > 0)
        answered = (received + socket.readAll()).contains(Answer);
    const bool timedOut = connected && !silence.isActive() && socket.state() == QLocalSocket::ConnectedState;
    socket.abort();
    if (answered)
        return AskResult::Answered;
    if (cancelled)
        return AskResult::Cancelled;
    return timedOut ? AskResult::Silent : AskResult::NotListening;
}

void SingleInstance::listen()
{
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath)) {
        qCWarning(lcApp, "Cannot listen for later starts at %s: %s", qPrintable(socketPath),
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
                qCDebug(lcApp) << "a later start asked for the window";
                // The answer is on its way before the window is raised: should the program end right
                // after, the later start still learns that it was heard.
                client->write(Answer);
                client->flush();
                client->disconnectFromServer();
                emit activationRequested();
            });
        }
    });
}
