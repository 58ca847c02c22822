// SPDX-License-Identifier: GPL-3.0-or-later
// Update-all: every task's page asked for at once, compared as it is read, and taken over in the list's order.
#include "core/updateall.h"

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/commandwaits.h"
#include "core/logging.h"
#include "core/watchlist.h"

#include <QPointer>
#include <QScopeGuard>

#include <deque>
#include <memory>
#include <utility>

using Commands::UpdateRun;

namespace {
// Reads the stored results of the next task in the queue that does not hold them, and leaves the rest to later
// turns of the event loop, so that a page arriving meanwhile waits for one task's rows at most.
void readNextResults(QObject* context, const std::shared_ptr<std::deque<QPointer<Task>>>& queue)
{
    while (!queue->empty()) {
        const QPointer<Task> task = queue->front();
        queue->pop_front();
        if (!task || task->resultsLoaded())
            continue;
        task->loadResults();
        if (!queue->empty())
            QMetaObject::invokeMethod(
                context, [context, queue] { readNextResults(context, queue); }, Qt::QueuedConnection);
        return;
    }
}
} // namespace

void UpdateAll::readResultsAhead(const QList<Task*>& tasks)
{
    readNextResults(this, std::make_shared<std::deque<QPointer<Task>>>(tasks.cbegin(), tasks.cend()));
}

Commands::UpdateRun UpdateAll::run()
{
    UpdateRun run;
    // While task.db is being prepared the stored results cannot be compared with: nothing is fetched.
    if (m_parts.watches.tasks().isEmpty() || m_parts.watches.isPreparing())
        return run;
    CommandGuard::Scope command(m_parts.guard);
    if (!command)
        return run;
    run.ran = true;
    // The failure marks and validators of the run are written together as it ends.
    CheckStates::Batch marks(m_parts.states);

    // Every page is requested at once; each is compared as soon as it is read and its body released, so memory
    // does not grow with the number of pages. The pages are taken over in the list's order below, so none waits
    // for a slower one (asRead). Deliveries for a task removed meanwhile are dropped.
    // A paused task is not downloaded, even when the user asks for every task.
    QList<Task*> snapshot;
    for (Task* task : m_parts.watches.tasks()) {
        if (!task->isPaused())
            snapshot.append(task);
    }
    if (snapshot.isEmpty())
        return run;
    // The steps of a run, for a look from outside at where its time goes (debug lines of vantrel.core).
    qCDebug(lcCore) << "update-all: asking for" << snapshot.size() << "pages";
    // By task id; a task removed during the wait is taken out (its id may be given again meanwhile).
    QHash<int, bool> hasNew;
    QHash<int, FetchedPage> read; // the validators of the pages read whole
    const QMetaObject::Connection forget =
        connect(&m_parts.watches, &WatchList::taskRemoved, this, [&hasNew, &read](Task* task) {
            hasNew.remove(task->taskId());
            read.remove(task->taskId());
        });
    const auto disconnectForget = qScopeGuard([&forget] { disconnect(forget); });
    int pending = int(snapshot.size());
    CommandWaits::Wait w;
    const PageReader::Order asRead = PageReader::Order::AsRead;
    const auto request = [&](Task* task) {
        QPointer<Task> guarded(task);
        m_parts.waits.get(w, *task, true, asRead,
                          [this, guarded, &pending, &run, &hasNew, &read](const FetchedPage& page) {
                              --pending;
                              if (guarded && m_parts.watches.contains(guarded)) {
                                  const CheckStates::Comparison compared = m_parts.states.comparePage(guarded, page);
                                  if (!compared.failure.isEmpty())
                                      run.storageFailure = compared.failure;
                                  if (compared.compared) {
                                      hasNew.insert(guarded->taskId(), compared.hasNew);
                                      read.insert(guarded->taskId(), CheckStates::validatorsOf(page));
                                  }
                                  if (!page.ok)
                                      ++run.failedPages;
                              }
                              if (pending == 0)
                                  m_parts.waits.wake();
                          });
    };
    // Requested a batch per turn of the event loop, so that building the requests of 100,000 tasks does not
    // hold the window; the batches end with this run, whichever way it ends.
    const auto running = std::make_shared<bool>(true);
    const auto stopBatches = qScopeGuard([running] { *running = false; });
    const auto next = std::make_shared<qsizetype>(0);
    const std::function<void()> requestBatch = [&, running, next] {
        if (!*running)
            return;
        const qsizetype end = qMin(*next + m_requestBatch, snapshot.size());
        for (; *next < end; ++*next) {
            Task* task = snapshot.at(*next);
            if (m_parts.watches.contains(task)) {
                request(task);
            } else if (--pending == 0) { // removed meanwhile: nothing to wait for
                m_parts.waits.wake();
            }
        }
        if (*next == snapshot.size())
            qCDebug(lcCore) << "update-all: every page asked for";
        if (*next < snapshot.size())
            QMetaObject::invokeMethod(
                this,
                [running, &requestBatch] {
                    if (*running)
                        requestBatch();
                },
                Qt::QueuedConnection);
    };
    requestBatch();
    // Ahead of their pages only for the first tasks: on 100,000 tasks every stored result would be held in
    // memory, read whether its page comes or not. The others' are read as their pages arrive.
    readResultsAhead(snapshot.first(qMin(snapshot.size(), qsizetype(ReadAheadTasks))));
    if (!m_parts.waits.wait(w, [&pending] { return pending == 0; })) {
        // Left by the user: the pages read so far are taken over as a periodic check would take them.
        run.cancelled = w.cancelled;
        run.unread = pending;
        run.aborted = w.aborted;
        if (run.aborted)
            return run;
    }

    qCDebug(lcCore) << "update-all: every page read and compared";
    // Taken over task by task in the list's order, stored in one transaction.
    QList<QPair<Task*, TaskChange>> taken;
    QList<TaskChange> changes;
    for (Task* task : m_parts.watches.tasks()) {
        const bool found = hasNew.value(task->taskId(), false);
        if (!found && !m_parts.states.hasFindings(task))
            continue;
        TaskChange change;
        m_parts.states.takeOver(task, found ? task->updateResults() : Task::ResultList(), &change);
        if (change.results.isEmpty() && change.seenAdded.isEmpty() && change.seenRemoved.isEmpty())
            continue;
        taken.append({task, change});
        changes.append(change);
    }
    // Validators are remembered once what their page showed is stored: a page whose findings wait to be
    // stored is read whole again at its next check.
    const auto rememberRead = [this, &read](const QSet<int>& unstored) {
        for (Task* task : m_parts.watches.tasks()) {
            const auto page = read.constFind(task->taskId());
            if (page != read.constEnd() && !unstored.contains(task->taskId()))
                m_parts.states.rememberValidators(task, *page);
        }
    };
    if (changes.isEmpty()) {
        rememberRead({});
        return run;
    }
    if (!m_parts.watches.storeChanges(changes)) {
        QStringList names;
        QSet<int> unstored;
        for (const auto& [task, change] : std::as_const(taken)) {
            unstored.insert(task->taskId());
            if (!change.results.isEmpty())
                names.append(task->name());
        }
        const QString failure = tr("Could not store the new results of %1: %2")
                                    .arg(names.join(QStringLiteral(", ")), m_parts.watches.lastError());
        for (const auto& [task, change] : std::as_const(taken)) {
            if (change.results.isEmpty())
                continue;
            m_parts.states.keepUnstored(task, change.results, failure);
            run.unstoredNew = true;
        }
        rememberRead(unstored);
        run.storageFailure = failure;
        return run;
    }
    qCDebug(lcCore) << "update-all: changes stored";
    for (const auto& [task, change] : std::as_const(taken)) {
        m_parts.states.taken(task, change);
        if (!change.results.isEmpty()) {
            run.anyNew = true;
            // Stored and shown, but a muted task's news are not announced.
            if (!task->isMuted())
                run.news.append(TaskNews{task, task->name(), change.results});
        }
    }
    rememberRead({});
    return run;
}
