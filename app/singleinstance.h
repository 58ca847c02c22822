// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// Keeps one running program per task.db. The first start takes a lock file beside task.db (or, when that
// folder cannot be written, in the user's runtime folder, named after task.db's full path) and listens
// for later starts. A later start in the same folder asks the running one to come to the front and learns
// that it may end. A lock left by a program that no longer runs does not count.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Primary,    // this program runs; it holds the lock (unless no lock could be written anywhere)
        HandedOver, // another program runs on this task.db and was asked to show its window
        NoAnswer    // another program holds the lock but did not answer in time
    };

    explicit SingleInstance(const QString& databasePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Where the lock goes when task.db's folder cannot be written, and where the hand-over socket lives.
    // Default: QStandardPaths::RuntimeLocation.
    void setRuntimeFolder(const QString& folder) { runtimeFolder = folder; }
    // How long a later start waits for the running program's answer.
    void setAnswerTimeout(int ms) { answerTimeoutMs = ms; }

    // Takes the lock or hands over. Waits at most the answer timeout; runs a local event loop meanwhile.
    Outcome start();

    QString lockPath() const { return lockFilePath; }
    QString serverName() const;

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    enum class LockResult
    {
        Taken,
        Held,
        Unwritable
    };
    LockResult tryLock(const QString& path);
    bool askRunningInstance(int waitMs);
    void listen();

    QString databasePath; // absolute, folder resolved through links
    QString runtimeFolder;
    QString lockFilePath;
    int answerTimeoutMs = 5000;
    std::unique_ptr<QLockFile> lock;
    QLocalServer* server = nullptr;
};
