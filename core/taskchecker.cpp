// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskchecker.h"

#include "engine/definition/taskdefinition.h"
#include "storage/newsstore.h"

#include <QPointer>
#include <QScopeGuard>

#include <deque>
#include <memory>
#include <utility>

using Commands::Outcome;

TaskChecker::TaskChecker(WatchList& watches, QObject* parent)
    : QObject(parent), m_watches(watches), m_states(watches), m_health(watches, m_states),
      m_periodic(watches, m_states, m_source), m_waits(m_source, [this] { abortWaits(); })
{
    m_watches.setClock(&m_states.clock());
    m_states.setFetchObserver([this](Task* task, const FetchedPage& page) { m_health.noteCheck(task, page); });
    // The destinations of the task's news hear it too, through the outbox as news does.
    connect(&m_health, &TaskHealth::lookNeeded, this, [this](Task* task, const QString& reason) {
        if (const QList<OutboxEvent> events = m_news.brokenEventsFor(*task, reason); !events.isEmpty())
            m_watches.newsStore().add(events);
    });
    // Every piece of news stored is written into the outbox in the same transaction.
    m_watches.setNewsSource(
        [this](const Task& task, const Task::ResultList& results) { return m_news.eventsFor(task, results); });
}

TaskChecker::~TaskChecker()
{
    // No download or render may call back into a task that is gone.
    m_source.abortAll();
    m_watches.setNewsSource({});
    m_watches.setClock(nullptr);
}

void TaskChecker::setClock(const Clock* clock)
{
    m_states.setClock(clock);
    m_watches.setClock(&m_states.clock());
    m_news.setClock(clock);
    // Hosts that asked to be left alone are timed by the same clock.
    m_fetcher.setClock([this] { return m_states.now(); });
}

bool TaskChecker::start(bool deleteOld, int days, bool reportNewLinks)
{
    // Old results go before the tasks are read, so they are never shown.
    const bool deleted = !deleteOld || m_watches.removeOldResults(days, m_states.today());
    if (!deleted)
        m_lastError = m_watches.lastError();
    setReportNewLinks(reportNewLinks);
    m_watches.loadTasks();
    return deleted;
}

bool TaskChecker::setReportNewLinks(bool on, bool afresh)
{
    if (m_states.setReportNewLinks(on, afresh))
        return true;
    m_lastError = m_watches.lastError();
    return false;
}

// Only the waits running now end: an abort that outlived them would drop every later command in silence.
void TaskChecker::abortWaits()
{
    m_waits.abortAll();
    m_source.abortAll();
    m_states.stopChecking();
}

Commands::Outcome TaskChecker::setSwitch(Task* task, Switch which, bool on)
{
    if (!m_watches.contains(task))
        return Outcome::TaskGone;
    const QString option = QLatin1String(which == Switch::Paused ? Task::PausedOption : Task::MutedOption);
    const QString value = on ? QStringLiteral("1") : QString();
    if (task->options().value(option) != value) {
        if (!m_watches.storeOption(task, option, value)) {
            m_lastError = m_watches.lastError();
            return Outcome::StoreFailed;
        }
        task->setOption(option, value);
    }
    m_watches.reportTaskChanged(task);
    m_watches.reportCheckState(task);
    return Outcome::Done;
}
