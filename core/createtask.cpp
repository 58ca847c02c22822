// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/createtask.h"

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/commandwaits.h"
#include "core/taskhealth.h"
#include "core/watchlist.h"
#include "engine/definition/taskdefinition.h"

#include <memory>

using Commands::Created;
using Commands::Outcome;

Commands::Created CreateTask::run(const TaskDefinition& entered)
{
    Created created;
    CommandGuard::Scope command(m_parts.guard);
    if (!command) {
        created.outcome = Outcome::Dropped;
        return created;
    }
    if (!m_parts.watches.writable()) {
        created.error = m_parts.watches.lastError();
        created.outcome = Outcome::StoreFailed;
        return created;
    }
    const TaskDefinition definition = entered.normalised();
    if (const TaskDefinition::Problem problem = definition.check()) {
        created.error = problem.text();
        created.outcome = Outcome::Invalid;
        return created;
    }
    return runChecked(definition);
}

Commands::Created CreateTask::runChecked(const TaskDefinition& definition)
{
    Created created;
    const QString& address = definition.address;
    const QString& keyword = definition.keyword;
    auto task = std::make_unique<Task>(m_parts.watches.nextTaskId(), definition);
    // Created and last checked now, by this checker's clock; written in local time as task.db holds it.
    const QDateTime createdAt = m_parts.states.now().toLocalTime();
    task->setTaskDate(createdAt.date().toString(TaskDateFormat));
    task->setLastUpdate(createdAt.toString(Qt::ISODate));
    if (m_parts.watches.duplicateOf(address, keyword) || m_parts.watches.isStored(task.get())) {
        created.outcome = Outcome::Exists;
        return created;
    }

    std::optional<FetchedPage> fetched;
    CommandWaits::Wait w;
    if (!m_parts.waits.fetchWhole(w, *task, fetched)) {
        created.outcome = w.cancelled ? Outcome::Cancelled : Outcome::Aborted;
        return created;
    }
    // Stored with the task: its first check asks whether the page changed since.
    if (fetched->ok) {
        task->setOption(QLatin1String(Task::EtagOption), QString::fromLatin1(fetched->etag));
        task->setOption(QLatin1String(Task::LastModifiedOption), QString::fromLatin1(fetched->lastModified));
    }
    // A page that could not be downloaded still gives the task, with no results (an error page's links are
    // not the page's), so the user can reset it once the page is reachable.
    if (fetched->ok) {
        task->setResults(task->resultsOfPage(*fetched, createdAt.date()));
        m_parts.watches.stampTimes(task->results());
    }
    const QStringList seen =
        m_parts.states.recordsSeen(task.get(), *fetched) ? CheckStates::seenLinksOf(task->results()) : QStringList();

    // Stored first: a task that did not reach task.db is not listed as if it had. The id is made unique
    // in the file as it is stored.
    if (!m_parts.watches.storeNew(task.get(), seen)) {
        created.error = m_parts.watches.lastError();
        created.outcome = Outcome::StoreFailed;
        return created;
    }
    created.task = task.release();
    m_parts.watches.add(created.task);
    // The page noted is that of a task being created: its command says whether it needs a look.
    m_parts.health.setCreating(true);
    m_parts.states.noteFetch(created.task, *fetched);
    m_parts.health.setCreating(false);
    if (!fetched->ok) {
        created.outcome = Outcome::FetchFailed;
        created.failureReason = failureReason(*fetched);
    }
    return created;
}
