// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/periodicchecks.h"

#include "core/checkstate.h"
#include "core/logging.h"
#include "core/pagesource.h"
#include "core/watchlist.h"

#include <QTimer>

#include <algorithm>
#include <utility>

PeriodicChecks::PeriodicChecks(WatchList& watches, CheckStates& states, PageSource& source)
    : m_watches(watches), m_states(states), m_source(source)
{
    connect(&watches, &WatchList::taskRemoved, this, &PeriodicChecks::forget);
    connect(&watches, &WatchList::allTasksRemoved, this, [this] {
        m_runWaiting.clear();
        m_runNews.clear();
    });
    m_timer.setParent(this);
    m_timer.setInterval(DefaultIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_watches.tasks().isEmpty())
            return;
        m_timer.stop();
        checkDueTasks();
        m_timer.start();
    });
}

void PeriodicChecks::startSchedule()
{
    m_timer.start();
}

void PeriodicChecks::setInterval(int ms)
{
    m_timer.setInterval(qMax(1, ms));
    if (m_timer.isActive())
        m_timer.start();
}

void PeriodicChecks::forget(const Task* task)
{
    // A removed task's page is awaited no more; the run's other news are announced once they are complete.
    if (m_runWaiting.remove(task->taskId()))
        QTimer::singleShot(0, this, &PeriodicChecks::flushRunNews);
}

void PeriodicChecks::setSpread(int atOnce, int withinMs)
{
    m_atOnce = qMax(1, atOnce);
    m_spreadMs = qMax(0, withinMs);
}

Commands::DueRun PeriodicChecks::checkDueTasks()
{
    Commands::DueRun run;
    // An import holds task.db's transaction, or task.db is being prepared: the tasks due are checked at the next run.
    if (m_watches.isImporting() || m_watches.isPreparing())
        return run;
    const QDateTime now = m_states.now();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    const QList<Task*> snapshot = m_watches.tasks();
    for (Task* task : snapshot) {
        // A last check in the future (the clock was put back) counts as one made now, so the task is not
        // silenced until that date; task.db gets it too, else every start would find the future time again.
        if (task->lastUpdateMs() > nowMs) { // never so for a task without a readable time
            task->setLastUpdate(now.toString(Qt::ISODate));
            storeCheckTime(task);
        }
        if (task->isPaused())
            continue;
        // Judged by the one reading of the clock above: a second reading would always be a moment later,
        // and a task without a readable time would never be due.
        if (!m_states.isDue(task, now, nowMs))
            continue;

        m_runWaiting.insert(task->taskId());
        run.started.append(task);
        // The next check is one frequency after this one, and an unreadable time is replaced by it.
        task->setLastUpdate(now.toString(Qt::ISODate));
        storeCheckTime(task);
        qCDebug(lcCore).noquote() << "time is out " << '"' + task->name() + '"' << '"' + task->lastUpdateText() + '"';
    }
    const qsizetype later = run.started.size() - m_atOnce;
    const int stepMs = later > 0 ? int(qMin<qint64>(MaxStepMs, m_spreadMs / later)) : 0;
    for (qsizetype i = 0; i < run.started.size(); ++i) {
        Task* task = run.started.at(i);
        if (i < m_atOnce) {
            startCheck(task);
            continue;
        }
        // The task is the context: one removed meanwhile is not checked (and no longer awaited by the run).
        QTimer::singleShot(int(i - m_atOnce + 1) * stepMs, task, [this, task] {
            if (!m_watches.contains(task) || !m_runWaiting.contains(task->taskId()))
                return;
            if (task->isPaused())
                runTaskDone(task->taskId(), task, {}); // paused meanwhile
            else
                startCheck(task);
        });
    }
    return run;
}

void PeriodicChecks::storeCheckTime(Task* task)
{
    if (!m_watches.storeCheckTime(task))
        emit storageFailed(tr("Could not store the check time of %1: %2").arg(task->name(), m_watches.lastError()));
}

void PeriodicChecks::startCheck(Task* task)
{
    if (!m_states.startChecking(task))
        return;
    ++m_started;
    QPointer<Task> guarded(task);
    const int edition = m_states.edition(task);
    // The task is the context: a task removed meanwhile gets no delivery, one edited meanwhile drops the
    // old page.
    m_source.get(
        *task, true, task,
        [this, guarded, id = task->taskId(), edition](const FetchedPage& page) {
            if (guarded && m_watches.contains(guarded) && m_states.edition(guarded) == edition)
                takePage(guarded, page);
            else
                runTaskDone(id, nullptr, {});
        },
        PageFetcher::Priority::Background);
}

// A periodic check's page has arrived: what it shows that is new is taken over, stored and reported at once,
// together with whatever an earlier take-over could not store. A page that could not be read compares
// nothing (its error page is no state of the watched page) but still lets the kept findings be stored.
void PeriodicChecks::takePage(Task* task, const FetchedPage& page)
{
    if (m_watches.isImporting()) {
        m_heldPages.append({task, page});
        return;
    }
    runTaskDone(task->taskId(), task, takeOverPage(task, page));
}

Task::ResultList PeriodicChecks::takeOverPage(Task* task, const FetchedPage& page)
{
    m_states.checkDone(task);
    // A page not modified since it was last read shows nothing new. Results that cannot be read leave the page
    // uncompared and its validators unremembered: the next check reads it whole again.
    const CheckStates::Comparison compared = m_states.comparePage(task, page);
    if (!compared.failure.isEmpty()) {
        emit storageFailed(compared.failure);
        return {};
    }
    if (!page.ok)
        emit backgroundCheckFailed(task, failureReason(page));
    const Task::ResultList found = compared.hasNew ? task->updateResults() : Task::ResultList();
    if (found.isEmpty() && !m_states.hasFindings(task)) {
        m_states.rememberValidators(task, page);
        return {};
    }
    TaskChange change;
    m_states.takeOver(task, found, &change);
    if (!m_states.storeTakeOver(task, change)) {
        emit storageFailed(m_states.unstoredFailure());
        return {};
    }
    m_states.rememberValidators(task, page);
    if (!change.results.isEmpty())
        emit resultsFound(task, change.results);
    return change.results;
}

void PeriodicChecks::runTaskDone(int taskId, const Task* task, const Task::ResultList& found)
{
    m_runWaiting.remove(taskId);
    // A muted task's results are stored and shown, not announced.
    if (!found.isEmpty() && !task->isMuted()) {
        auto entry = std::find_if(m_runNews.begin(), m_runNews.end(),
                                  [task](const TaskNews& news) { return news.task.data() == task; });
        if (entry == m_runNews.end())
            m_runNews.append(TaskNews{const_cast<Task*>(task), task->name(), found});
        else
            entry->results += found;
    }
    flushRunNews();
}

void PeriodicChecks::flushRunNews()
{
    if (!m_runWaiting.isEmpty() || m_runNews.isEmpty())
        return;
    QList<TaskNews> news;
    // In the order of the task list; tasks removed meanwhile are left out.
    for (Task* task : m_watches.tasks()) {
        for (const TaskNews& entry : std::as_const(m_runNews)) {
            if (entry.task.data() == task)
                news.append(entry);
        }
    }
    m_runNews.clear();
    if (!news.isEmpty())
        emit runNewsFound(news);
}

// The background pages that arrived during an import are taken over now that task.db may be written.
void PeriodicChecks::takeHeldPages()
{
    const QList<QPair<QPointer<Task>, FetchedPage>> held = std::exchange(m_heldPages, {});
    for (const auto& [task, page] : held) {
        if (task && m_watches.contains(task))
            takePage(task, page);
    }
}
