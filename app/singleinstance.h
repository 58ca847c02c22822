// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QEventLoop;
class QLocalServer;

// Keeps one running program per task.db. The lock and the hand-over socket live in the user's runtime
// folder, named after the file task.db is (its device and inode), so every path to it meets the same
// lock: a linked folder, a symbolic or hard link, a read-only view of the folder. The lock is an flock()
// on the lock file, which the kernel drops when its holder ends, however that happens; what the file
// holds never counts (it names the process and task.db, for people and for cleaning up lock files of
// task.db files that are gone). Where the runtime folder cannot hold the lock, the folder of task.db is
// used; where neither can, start() says so and the caller decides. A later start asks the running program to come to
// the front and learns that it may end; while the running program is still loading, the later start waits for it.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Primary,    // this program runs; it holds the lock
        NoLock,     // no lock could be made, in the runtime folder nor beside task.db; lockProblem() says why
        HandedOver, // another program runs on this task.db and was asked to show its window
        NoAnswer,   // another program listens on this task.db but did not answer in time
        Cancelled   // another program is still starting and cancel() ended the wait for it
    };

    explicit SingleInstance(const QString& databasePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Where the lock and the hand-over socket live. Default (when not set before start()):
    // QStandardPaths::RuntimeLocation.
    void setRuntimeFolder(const QString& folder) { runtimeFolder = folder; }
    // How long a running program that listens may take to answer a later start.
    void setAnswerTimeout(int ms) { answerTimeoutMs = ms; }
    // After how long a wait for a program that is still starting stillStarting() is emitted.
    void setStillStartingNotice(int ms) { stillStartingNoticeMs = ms; }

    // Takes the lock or hands over. Runs a local event loop while it waits: for as long as the lock's
    // holder is alive but not yet listening, for at most the answer timeout once it listens.
    // The program that takes the lock starts listening when its event loop first runs.
    Outcome start();

    // Both are known once start() has run.
    QString lockPath() const { return lockFilePath; }
    QString serverName() const { return socketPath; }
    // Why no lock could be made (NoLock), naming the folders tried.
    QString lockProblem() const { return problem; }

public slots:
    // Ends a wait of start() for a program that is still starting; start() returns Cancelled.
    void cancel();

signals:
    // A later start asked for the window.
    void activationRequested();
    // start() has waited the notice time for a program that holds the lock but does not listen yet.
    void stillStarting();

private:
    enum class LockResult
    {
        Taken,
        Held,
        Unwritable
    };
    enum class AskResult
    {
        Answered,
        NotListening, // nobody listens (yet), or the listener went away before answering
        Silent,       // connected, but no answer within the answer timeout
        Cancelled
    };
    QString fileKey() const;
    // Lock and socket in the folder; names beginning with a dot beside task.db, where they are not the user's.
    void placeIn(const QString& folder, bool hidden);
    LockResult tryLock();
    // Removes the lock files in the runtime folder whose task.db no longer exists (or is another file now).
    void removeStaleLocks() const;
    AskResult askRunningInstance();
    void runUntil(QEventLoop& loop, const bool& ended);
    bool pause(int ms);
    void listen();

    QString databasePath; // absolute, as given
    QString runtimeFolder;
    QString lockFilePath;
    QString socketPath;
    QString key;
    QString problem;
    int answerTimeoutMs = 5000;
    int stillStartingNoticeMs = 3000;
    int lockFd = -1;
    bool cancelled = false;
    QEventLoop* waiting = nullptr;
    QLocalServer* server = nullptr;
};
