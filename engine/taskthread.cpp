// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/taskthread.h"

#include "engine/task.h"

#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>

namespace {
// Every TaskThread object that exists, so the program can end the workers at exit.
QMutex g_registryMutex;
QSet<TaskThread*> g_registry;
} // namespace

TaskThread::TaskThread(QObject* parent) : QThread(parent)
{
    qRegisterMetaType<FetchedPage>();
    qRegisterMetaType<TaskResultList>();
    // Queued: pageFetched is emitted on the worker thread, replyFinished runs on this object's thread.
    connect(this, &TaskThread::pageFetched, this, &TaskThread::replyFinished, Qt::QueuedConnection);
    QMutexLocker lock(&g_registryMutex);
    g_registry.insert(this);
}

TaskThread::~TaskThread()
{
    {
        QMutexLocker lock(&g_registryMutex);
        g_registry.remove(this);
    }
    // Normally the worker has ended already (the object is deleted after finished()); an owner that
    // deletes it earlier must not leave a thread running on a destroyed object.
    quit();
    wait();
}

void TaskThread::setTask(Task* t)
{
    task = t;
    if (t)
        address = t->address();
}

int TaskThread::runningCount()
{
    QMutexLocker lock(&g_registryMutex);
    int running = 0;
    for (const TaskThread* thread : std::as_const(g_registry))
        running += thread->isRunning() ? 1 : 0;
    return running;
}

int TaskThread::instanceCount()
{
    QMutexLocker lock(&g_registryMutex);
    return int(g_registry.size());
}

void TaskThread::shutdownAll()
{
    QList<TaskThread*> threads;
    {
        QMutexLocker lock(&g_registryMutex);
        threads = g_registry.values();
    }
    // Quitting the worker's loop makes run() delete its manager, which aborts the download.
    for (TaskThread* thread : std::as_const(threads))
        thread->quit();
    for (TaskThread* thread : std::as_const(threads))
        delete thread; // the destructor waits for the worker
}

void TaskThread::replyFinished(const FetchedPage& page)
{
    if (!task)
        return; // the task was destroyed while its page was downloading
    // Compared with what the task knows now, not with the copy taken at the start: a result removed or a
    // text seen by another check during the download counts.
    updateResults =
        task->compareWithKnownLinks(PageFetch::decode(page.body, page.contentType), PageFetch::baseOf(page, address));
    if (updateResults.isEmpty())
        qCDebug(lcVantrelEngine) << "Update results are empty";
    emit updateFinished(updateResults);
    qCDebug(lcVantrelEngine).nospace().noquote() << "update results has : " << updateResults.size();
}

void TaskThread::run()
{
    checkTask();
    exec();
    // The reply is a child of the manager. Both were created on this thread and die on it.
    delete manager;
    manager = nullptr;
}

void TaskThread::checkTask()
{
    // Made here, on the worker thread, so its traffic is served by this thread's event loop.
    manager = new QNetworkAccessManager;
    QNetworkReply* reply = manager->get(PageFetch::makeRequest(address));
    PageFetch::guardBody(reply);
    // The handler runs on the worker thread (the manager's thread). It copies everything it needs out
    // of the reply into a FetchedPage and hands that over through a queued signal, then ends the
    // worker's loop: the GUI thread compares the copy while the reply and the manager are touched
    // only by this thread, so nothing is shared between the two and no lock is needed.
    connect(
        manager, &QNetworkAccessManager::finished, manager,
        [this](QNetworkReply* finished) {
            emit pageFetched(PageFetch::takePage(finished));
            finished->deleteLater();
            quit();
        },
        Qt::DirectConnection);
    if (reply->error() != QNetworkReply::NoError)
        qCDebug(lcVantrelEngine) << "TaskThread: checkTask error";
    qCDebug(lcVantrelEngine) << "checkTask end";
}
