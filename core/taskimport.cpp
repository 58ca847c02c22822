// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskimport.h"

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/periodicchecks.h"
#include "core/watchlist.h"
#include "engine/definition/taskdefinition.h"

#include <algorithm>
#include <utility>

namespace {
// A failed page as the task's failure keeps it: its reason, not its bytes.
FetchedPage withoutBody(const FetchedPage& page)
{
    FetchedPage kept = page;
    kept.body.clear();
    return kept;
}
} // namespace

bool TaskImport::prepare(const QList<ExchangeTask>& entries, Commands::ImportRun* run)
{
    m_tasks.clear();
    m_withResults.clear();
    // Duplicates are left out before anything is downloaded: of the tasks listed and of the file itself.
    auto isDuplicate = [&](const ExchangeTask& entry) {
        const TaskDefinition& d = entry.definition;
        if (m_watches.duplicateOf(d.address, d.keyword))
            return true;
        return std::any_of(m_tasks.cbegin(), m_tasks.cend(), [&d](const auto& task) {
            return TaskDefinition::sameWatch(d.address, d.keyword, task->address(), task->keyword());
        });
    };
    // A file is taken whole or not at all: a task with a problem refuses it, counted from 1 as a user reads.
    QList<ExchangeTask> normal = entries;
    for (qsizetype i = 0; i < normal.size(); ++i) {
        TaskDefinition& entered = normal[i].definition;
        entered = entered.normalised();
        if (const TaskDefinition::Problem problem = entered.check()) {
            run->refusal = tr("task %1, %2").arg(i + 1).arg(problem.text());
            return false;
        }
    }
    const int firstId = m_watches.nextTaskId();
    const QDateTime importedAt = m_states.now(); // one reading: every task of the file is made at the same moment
    for (const ExchangeTask& entry : std::as_const(normal)) {
        if (isDuplicate(entry)) {
            ++run->duplicates;
            continue;
        }
        const TaskDefinition& d = entry.definition;
        auto task = std::make_unique<Task>(
            firstId + int(m_tasks.size()),
            TaskDefinition{d.name, d.address, d.keyword, d.frequency, TaskDefinition::userOptionsOf(d.options)},
            importedAt);
        if (entry.created.isValid())
            task->setTaskDate(entry.created.toString(TaskDateFormat));
        if (entry.withResults) {
            Task::ResultList copies;
            for (const Task::ResultPtr& result : entry.results) {
                auto copy = Task::ResultPtr::create(*result);
                copy->taskId = task->taskId();
                copies.append(copy);
            }
            task->setResults(copies);
        }
        m_tasks.push_back(std::move(task));
        m_withResults.append(entry.withResults);
    }
    return true;
}

// Stored with the results in reverse, so a later load (newest first) lists them as the file did.
bool TaskImport::addImported(Task* task, const QStringList& seen)
{
    const Task::ResultList inOrder = task->results();
    Task::ResultList reversed(inOrder.crbegin(), inOrder.crend());
    task->setResults(reversed);
    const bool stored = m_watches.addToBatch(task, seen);
    if (!stored && m_storeFailure.isEmpty())
        m_storeFailure = m_watches.lastError();
    task->setResults(inOrder);
    return stored;
}

Commands::ImportRun TaskImport::run(const QList<ExchangeTask>& entries)
{
    CommandGuard::Scope command(m_guard);
    if (!command)
        return {};
    Commands::ImportRun run;
    run.ran = true;
    if (!prepare(entries, &run))
        return run;
    // The tasks not handed over die with this import, whichever way it ends.
    std::vector<std::unique_ptr<Task>> tasks = std::exchange(m_tasks, {});
    const QList<bool> withResults = std::exchange(m_withResults, {});

    // Each task is stored as soon as it is complete, while the other pages are still on their way, in one
    // transaction committed at the end; until then no other write may reach task.db.
    m_storeFailure.clear();
    if (!m_watches.beginBatch()) {
        run.storageFailure = m_watches.lastError();
        return run;
    }
    m_watches.setImporting(true);
    bool storeFailed = false;
    QHash<qsizetype, FetchedPage> failures; // by place in the file: storing may give a task another id
    int pending = 0;
    CommandWaits::Wait w;
    for (qsizetype i = 0; i < qsizetype(tasks.size()); ++i) {
        Task* task = tasks[i].get();
        // A paused task is not downloaded: it comes with the results of its file, or none.
        if (withResults.at(i) || task->isPaused()) {
            storeFailed = storeFailed || !addImported(task, {});
            continue;
        }
        ++pending;
        // An import that ends early destroys the wait and with it the tasks: their pages are not delivered.
        m_waits.get(w, *task, false, [this, i, task, &pending, &failures, &storeFailed](const FetchedPage& page) {
            --pending;
            if (page.ok)
                task->setResults(task->resultsOfPage(page, m_states.today()));
            else
                failures.insert(i, withoutBody(page));
            const QStringList seen =
                m_states.recordsSeen(task, page) ? CheckStates::seenLinksOf(task->results()) : QStringList();
            storeFailed = storeFailed || !addImported(task, seen);
            if (pending == 0)
                m_waits.wake();
        });
    }
    const bool waited = storeFailed || pending == 0 ||
                        m_waits.wait(w, [&pending, &storeFailed] { return pending == 0 || storeFailed; });
    const bool committed = waited && !storeFailed && m_watches.commitBatch();
    if (!committed && waited && !storeFailed)
        m_storeFailure = m_watches.lastError();
    if (!committed) {
        run.aborted = w.aborted;
        run.cancelled = w.cancelled;
        if (waited) {
            run.storageFailure = m_storeFailure;
        }
        // The pages still on their way are dropped with the wait, their context.
        m_watches.rollbackBatch();
        endImport();
        return run;
    }
    endImport();

    for (qsizetype i = 0; i < qsizetype(tasks.size()); ++i) {
        std::unique_ptr<Task>& task = tasks[i];
        if (task->rowId() == 0) {
            ++run.duplicates; // stored already under the same keyword and address
            continue;
        }
        Task* created = task.release();
        m_watches.add(created);
        run.created.append(created);
        ++run.imported;
        const auto failed = failures.constFind(i);
        if (failed != failures.constEnd()) {
            ++run.failedPages;
            m_states.noteFetch(created, *failed);
        }
    }
    return run;
}

void TaskImport::endImport()
{
    m_watches.setImporting(false);
    m_periodic.takeHeldPages();
}
