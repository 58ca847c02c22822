// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/resetresults.h"

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/commandwaits.h"
#include "core/watchlist.h"

#include <QPointer>

using Commands::Outcome;

Commands::Outcome ResetResults::run(Task* task)
{
    CommandGuard::Scope command(m_parts.guard);
    if (!command)
        return Outcome::Dropped;
    if (!m_parts.watches.contains(task))
        return Outcome::TaskGone;

    // The page is fetched before anything changes: when it cannot be downloaded, or the file refuses
    // the change, the old results stay, in memory and in task.db.
    QPointer<Task> guarded(task);
    std::optional<FetchedPage> fetched;
    CommandWaits::Wait w;
    if (!m_parts.waits.fetchWhole(w, *task, fetched))
        return w.cancelled ? Outcome::Cancelled : Outcome::Aborted;
    if (!guarded || !m_parts.watches.contains(guarded))
        return Outcome::TaskGone;
    m_parts.states.noteFetch(task, *fetched);
    if (!fetched->ok)
        return Outcome::FetchFailed;

    const Task::ResultList results = task->resultsOfPage(*fetched, m_parts.states.today());
    const FetchedPage validators = CheckStates::validatorsOf(*fetched);
    // With new links reported, and for a feed, the page's keyword links count as seen from now on.
    const bool recordSeen = m_parts.states.recordsSeen(task, *fetched);
    fetched.reset();
    const QStringList seen = recordSeen ? CheckStates::seenLinksOf(results) : QStringList();
    if (!m_parts.watches.replaceResults(task, results, recordSeen ? &seen : nullptr)) {
        m_error = m_parts.watches.lastError();
        return Outcome::StoreFailed;
    }
    m_parts.states.resultsRebuilt(task);
    m_parts.states.rememberValidators(task, validators);
    m_parts.watches.setResults(task, results);
    return Outcome::Done;
}
