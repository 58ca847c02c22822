// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/checkstate.h"

#include "core/logging.h"
#include "core/watchlist.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/matching/seenlinks.h"

#include <QPointer>
#include <QRandomGenerator>

#include <algorithm>

#include <utility>

namespace {
QString resultKey(const Task::TaskResult& result)
{
    return result.link + QChar(0) + result.text;
}

// Recorded with the seen links of every check, so a page that showed no keyword link still counts as checked
// and the first keyword link that appears on it is reported. No formed link is empty.
QString checkedMark()
{
    return QStringLiteral("");
}

// Built afresh rather than by subtracting from a copy: a set keeps the room of every element it ever held,
// and these wait, one per task, until the take-over.
QSet<QString> difference(const QSet<QString>& from, const QSet<QString>& without)
{
    QSet<QString> out;
    for (const QString& element : from) {
        if (!without.contains(element))
            out.insert(element);
    }
    return out;
}
} // namespace

QString failureReason(const FetchedPage& page)
{
    // A host that asked to be left alone: the reason carries the time of the next try.
    if (page.retryAt.isValid())
        return page.error;
    if (page.status >= 300)
        return QStringLiteral("HTTP %1").arg(page.status);
    return page.error.isEmpty() ? QStringLiteral("no answer") : page.error;
}

CheckStates::CheckStates(WatchList& watches) : m_watches(watches)
{
    // Connected before any view, so a view that asks about a task finds its record already.
    connect(&watches, &WatchList::tasksLoaded, this, [this] {
        for (Task* task : m_watches.tasks()) {
            if (!std::exchange(stateOf(task).restored, true))
                restoreFailure(task);
        }
    });
    connect(&watches, &WatchList::taskRemoved, this, [this](Task* task) {
        const int id = task->taskId();
        m_gathered.removeIf([id](const auto& entry) { return entry.key().first == id; });
        m_writing.removeIf([id](const auto& entry) { return entry.key().first == id; });
    });
    connect(&watches, &WatchList::allTasksRemoved, this, [this] {
        m_gathered.clear();
        m_writing.clear();
    });
}

QStringList CheckStates::seenLinksOf(const Task::ResultList& results)
{
    QStringList seen{checkedMark()};
    for (const Task::ResultPtr& result : results)
        seen.append(result->link);
    return seen;
}

FetchedPage CheckStates::validatorsOf(const FetchedPage& page)
{
    FetchedPage validators;
    validators.ok = page.ok;
    validators.notModified = page.notModified;
    validators.etag = page.etag;
    validators.lastModified = page.lastModified;
    return validators;
}

QString CheckStates::checkFailure(const Task* task) const
{
    const TaskState& kept = task->checkMemory();
    return kept.failure ? kept.failure->reason : QString();
}

int CheckStates::failuresInRow(const Task* task) const
{
    const TaskState& kept = task->checkMemory();
    return kept.failure ? kept.failure->inRow : 0;
}

qint64 CheckStates::checkInterval(const Task* task) const
{
    // Each failure in a row doubles the wait, up to an hour or the frequency, whichever is larger.
    const qint64 frequency = qMax(1, task->frequency());
    const qint64 longest = qMax<qint64>(frequency, MaxBackoffSeconds);
    qint64 interval = frequency;
    for (int i = failuresInRow(task); i > 0 && interval < longest; --i)
        interval *= 2;
    return qMin(interval, longest);
}

CheckHours CheckStates::hoursOf(const Task* task) const
{
    // A stored text that does not read as hours is passed over, as the options' hours then apply.
    const QString own = task->options().value(QLatin1String(CheckHours::TaskOption));
    const std::optional<CheckHours> hours = own.isEmpty() ? std::nullopt : CheckHours::fromText(own);
    return hours ? *hours : m_hours;
}

qint64 CheckStates::variation(int taskId, const QDateTime& last, qint64 interval)
{
    const qint64 span = qMin(interval / 10, MaxVariationSeconds);
    if (span <= 0)
        return 0;
    QRandomGenerator generator(quint32(qHashMulti(0, taskId, last.toSecsSinceEpoch())));
    return qint64(generator.bounded(quint32(2 * span + 1))) - span;
}

QDateTime CheckStates::dueTime(const Task* task, const QDateTime& now) const
{
    const QDateTime last = task->lastUpdate();
    QDateTime due = now;
    if (last.isValid()) {
        const qint64 interval = checkInterval(task);
        due = qMin(last, now).addSecs(interval);
        if (task->variesCheckTimes())
            due = due.addSecs(variation(task->taskId(), last, interval));
    }
    // A task overdue while the hours are over waits for them to begin again.
    const CheckHours hours = hoursOf(task);
    return hours.nextAllowed(due <= now && !hours.allows(now) ? now : due);
}

bool CheckStates::isDue(const Task* task, const QDateTime& now, qint64 nowMs) const
{
    if (task->lastUpdateMs() != Task::NoTime && !task->variesCheckTimes()) {
        // The frequency first: failures only lengthen the interval, so most tasks need no look at their state.
        const qint64 from = qMin(task->lastUpdateMs(), nowMs);
        if (from + qMax(1, task->frequency()) * 1000LL > nowMs || from + checkInterval(task) * 1000 > nowMs)
            return false;
    }
    return dueTime(task, now) <= now;
}

bool CheckStates::hasUnstored() const
{
    return std::any_of(m_watches.tasks().cbegin(), m_watches.tasks().cend(),
                       [](const Task* task) { return !task->checkMemory().unstored.isEmpty(); });
}

bool CheckStates::hasFindings(const Task* task) const
{
    const TaskState& kept = task->checkMemory();
    return !kept.unstored.isEmpty() || kept.seen;
}

bool CheckStates::setReportNewLinks(bool on, bool afresh)
{
    // Links seen under an earlier spell of the option would be taken for the page's previous state.
    if (on && afresh && !m_watches.forgetSeenLinks())
        return false;
    m_reportNewLinks = on;
    for (Task* task : m_watches.tasks())
        task->checkMemory().seen.reset();
    return true;
}

bool CheckStates::seeAfresh(Task* task)
{
    stateOf(task).seen.reset();
    return m_watches.forgetSeenLinks(task);
}

void CheckStates::noteFetch(Task* task, const FetchedPage& page)
{
    std::optional<PageFailure>& failure = stateOf(task).failure;
    const bool failedBefore = failure.has_value();
    if (page.ok) {
        failure.reset();
        if (failedBefore) {
            storeFailure(task);
            m_watches.reportCheckState(task);
        }
    } else {
        if (!failure)
            failure.emplace();
        failure->reason = failureReason(page);
        ++failure->inRow;
        storeFailure(task);
        m_watches.reportCheckState(task);
    }
    if (m_fetchObserver)
        m_fetchObserver(task, page);
}

// With the option on, and always for a feed, compares the page's keyword links with those seen at the task's
// previous check (in task.db, plus what a check not yet taken over saw) and keeps the difference and the new
// links until the task's take-over. A failed download or an error page changes nothing that was seen.
CheckStates::Comparison CheckStates::comparePage(Task* task, const FetchedPage& page)
{
    noteFetch(task, page);
    Comparison comparison;
    if (!page.ok || page.notModified)
        return comparison;
    if (!m_watches.resultsRead(task)) {
        comparison.failure = m_watches.lastError();
        return comparison;
    }
    noteSeen(task, page);
    const bool afresh = takeAfresh(task);
    comparison.compared = true;
    comparison.hasNew = task->takeUpdatePage(page, today()) && !afresh;
    return comparison;
}

void CheckStates::noteSeen(Task* task, const FetchedPage& page)
{
    if (!recordsSeen(task, page))
        return;
    const std::optional<QSet<QString>> stored = m_watches.seenLinks(task);
    if (!stored)
        return;
    std::optional<PendingSeen>& kept = stateOf(task).seen;
    if (!kept)
        kept.emplace();
    PendingSeen& pending = *kept;
    QSet<QString> previous = *stored;
    previous.subtract(pending.removed);
    previous.unite(pending.added);

    const QList<PageLink> links = task->linksOfPage(page);
    const TaskChange change =
        SeenLinks::compare(task->taskId(), links, previous, task->results() + pending.results, today());
    pending.results += change.results;
    // Relative to task.db: what is on the page now and not stored is added, what is stored and gone removed.
    QSet<QString> current{checkedMark()};
    for (const PageLink& link : std::as_const(links))
        current.insert(link.link);
    // A feed's items leave it as new ones come; one that comes back (edited, or the feed shows a longer
    // stretch again) is not news. Its link stays seen, up to a bound on the links kept beyond the feed's own.
    if (page.feed) {
        QStringList departed;
        for (const QString& link : std::as_const(previous)) {
            if (!current.contains(link))
                departed.append(link);
        }
        // The record holds no age: beyond the bound the links kept are the first in sorted order.
        departed.sort();
        departed = departed.mid(0, MaxDepartedFeedLinks);
        for (const QString& link : std::as_const(departed))
            current.insert(link);
    }
    pending.added = difference(current, *stored);
    pending.removed = difference(*stored, current);
    if (pending.added.isEmpty() && pending.removed.isEmpty() && pending.results.isEmpty())
        kept.reset();
}

Task::ResultList CheckStates::takeOver(Task* task, const Task::ResultList& found, TaskChange* change)
{
    // What an earlier take-over could not store comes first, then what this check found, then newly
    // appeared links. Records whose link and text the task already holds are left out, so an update found
    // twice (by update-all and by a background check that overlapped it) is not appended twice.
    TaskState& kept = stateOf(task);
    Task::ResultList candidates = std::exchange(kept.unstored, {});
    candidates += found;
    change->taskId = task->taskId();
    if (kept.seen) {
        PendingSeen* seen = &*kept.seen;
        candidates += seen->results;
        seen->results.clear();
        change->seenAdded = QStringList(seen->added.cbegin(), seen->added.cend());
        change->seenRemoved = QStringList(seen->removed.cbegin(), seen->removed.cend());
    }

    // Only the task's results with a candidate's link can hold one: the others need no key.
    QSet<QString> links;
    for (const Task::ResultPtr& result : std::as_const(candidates))
        links.insert(result->link);
    QSet<QString> known;
    const Task::ResultList results = task->results();
    for (const Task::ResultPtr& result : results) {
        if (links.contains(result->link))
            known.insert(resultKey(*result));
    }
    for (const Task::ResultPtr& result : std::as_const(candidates)) {
        const QString key = resultKey(*result);
        if (known.contains(key))
            continue;
        known.insert(key);
        change->results.append(result);
    }
    return change->results;
}

// Stores what one take-over found, results and seen links in one transaction. What did not reach task.db is
// not shown as found, and is kept for the next try.
bool CheckStates::storeTakeOver(Task* task, const TaskChange& change)
{
    if (change.results.isEmpty() && change.seenAdded.isEmpty() && change.seenRemoved.isEmpty())
        return true;
    if (!m_watches.storeChanges({change})) {
        keepUnstored(task, change.results,
                     tr("Could not store the new results of %1: %2").arg(task->name(), m_watches.lastError()));
        return false;
    }
    taken(task, change);
    return true;
}

void CheckStates::taken(Task* task, const TaskChange& change)
{
    stateOf(task).seen.reset();
    if (!change.results.isEmpty())
        m_watches.appendResults(task, change.results);
}

void CheckStates::keepUnstored(Task* task, const Task::ResultList& results, const QString& why)
{
    m_unstoredFailure = why;
    if (!results.isEmpty())
        stateOf(task).unstored = results;
}

bool CheckStates::startChecking(const Task* task)
{
    return !std::exchange(stateOf(task).checking, true);
}

void CheckStates::checkDone(const Task* task)
{
    stateOf(task).checking = false;
}

void CheckStates::stopChecking()
{
    for (Task* task : m_watches.tasks())
        task->checkMemory().checking = false;
}

int CheckStates::edition(const Task* task) const
{
    const TaskState& kept = task->checkMemory();
    return kept.edition;
}

bool CheckStates::takeAfresh(const Task* task)
{
    return std::exchange(stateOf(task).afresh, false);
}

void CheckStates::pageChanged(Task* task)
{
    // A check already on its way asked for the old page, so its answer is dropped and the task may be
    // checked again at once.
    TaskState& kept = stateOf(task);
    kept.seen.reset();
    kept.afresh = true;
    kept.checking = false;
    ++kept.edition;
    if (kept.failure) {
        kept.failure.reset();
        storeFailure(task);
        m_watches.reportCheckState(task);
    }
}

void CheckStates::resultsRebuilt(const Task* task)
{
    TaskState& kept = stateOf(task);
    kept.unstored.clear();
    kept.seen.reset();
}
