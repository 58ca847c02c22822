// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagefetch.h"
#include "engine/taskresult.h"

#include <QPointer>
#include <QThread>

class QNetworkAccessManager;
class Task;

// One background update check: the download runs on the worker thread, the comparison on the
// thread that owns this object (the GUI thread).
class TaskThread : public QThread
{
    Q_OBJECT

public:
    explicit TaskThread(QObject* parent = nullptr);
    ~TaskThread() override;

    void setTask(Task* task);

    // Background checks whose worker thread has not ended yet.
    static int runningCount();
    // TaskThread objects that exist (running or waiting for their deferred deletion).
    static int instanceCount();
    // Aborts every running download and waits for the worker threads; used at shut-down.
    static void shutdownAll();

signals:
    void updateFinished(const TaskResultList& results);
    // Internal: the worker thread hands the downloaded page to this object's thread.
    void pageFetched(const FetchedPage& page);

public slots:
    void replyFinished(const FetchedPage& page);

protected:
    void run() override;

private:
    void checkTask();

    QNetworkAccessManager* manager = nullptr;
    QPointer<Task> task;
    TaskResultList updateResults;
    QString address; // copied on the GUI thread, so the worker never reads the task
};
