// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/deferredstart.h"

#include "core/logging.h"
#include "core/taskchecker.h"

#include <QElapsedTimer>
#include <QPointer>

#include <memory>
#include <utility>

DeferredStart::DeferredStart(TaskChecker& core, QObject* parent) : QObject(parent), m_core(core) {}

DeferredStart::~DeferredStart()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_running)
        m_core.watches().setPreparing(false);
}

void DeferredStart::loadTasks(bool reportNewLinks)
{
    m_core.setReportNewLinks(reportNewLinks);
    m_core.watches().loadTasksUncounted();
}

void DeferredStart::begin(int deleteDays, bool readTasks)
{
    if (m_running || m_thread.joinable())
        return;
    m_running = true;
    m_core.watches().setPreparing(true);
    DeferredSteps steps;
    steps.removeOlderThanDays = deleteDays;
    steps.today = m_core.checks().today();
    steps.stop = &m_stop;
    m_indexing = m_core.watches().indexesMissing();
    qCDebug(lcCore) << "preparing task.db beside the window; indexes missing:" << m_indexing;
    if (m_indexing)
        emit indexBuildStarted();
    // The outcome comes back through the event loop of this object's thread; none is taken once it is gone (the
    // destructor joins the thread before the pointer is destroyed).
    const QPointer<DeferredStart> self(this);
    if (readTasks) {
        // Read and checked on the work's thread, then given to this object's thread. Tasks not taken (the
        // program ended first) are deleted with the last copy of the list.
        steps.tasksRead = [self, this, owner = thread()](StoredTasks read) {
            WatchList::Screened screened = WatchList::screen(read.tasks, read.refused);
            for (Task* task : std::as_const(screened.tasks))
                task->moveToThread(owner);
            const std::shared_ptr<QList<Task*>> pending(new QList<Task*>(screened.tasks), [](QList<Task*>* tasks) {
                qDeleteAll(*tasks);
                delete tasks;
            });
            screened.tasks.clear();
            QMetaObject::invokeMethod(
                this,
                [self, pending, screened, lastRow = read.lastRow, failure = read.failure]() mutable {
                    if (!self)
                        return;
                    screened.tasks = std::exchange(*pending, {});
                    self->takeTasks(screened, lastRow, failure);
                },
                Qt::QueuedConnection);
        };
    }
    m_thread = std::thread([self, steps, fileName = m_core.watches().fileName(), this] {
        const DeferredOutcome outcome = runDeferredSteps(fileName, steps);
        if (m_stop)
            return;
        QMetaObject::invokeMethod(
            this,
            [self, outcome] {
                if (self)
                    self->takeOutcome(outcome);
            },
            Qt::QueuedConnection);
    });
}

void DeferredStart::takeTasks(const WatchList::Screened& screened, std::optional<qint64> lastRow,
                              const QString& failure)
{
    QElapsedTimer taking;
    taking.start();
    WatchList::Screened taken = screened;
    if (!failure.isEmpty()) {
        qCWarning(lcCore).noquote() << "the tasks could not be read beside the window:" << failure;
        taken.refusal = tr("The stored tasks could not be read (%1).").arg(failure);
    }
    m_core.watches().adoptRead(taken, lastRow);
    qCDebug(lcCore) << "tasks read beside the window:" << taken.tasks.size() << "taken in" << taking.elapsed() << "ms";
    emit tasksTaken();
}

void DeferredStart::takeOutcome(const DeferredOutcome& outcome)
{
    if (m_thread.joinable())
        m_thread.join();
    m_running = false;
    m_indexing = false;
    m_core.watches().setPreparing(false);
    m_core.watches().attachCounts(outcome.summary);
    qCDebug(lcCore) << "task.db prepared, results counted";
    emit finished(outcome.indexFailure, outcome.removeFailure, outcome.countFailure);
}
