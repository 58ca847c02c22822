// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskchecker.h"

#include "engine/definition/taskdefinition.h"
#include "storage/taskdatabase.h"

#include <QPointer>
#include <QScopeGuard>

#include <deque>
#include <memory>
#include <utility>

using Commands::Created;
using Commands::ImportRun;
using Commands::Outcome;
using Commands::UpdateRun;

TaskChecker::TaskChecker(TaskRegistry& registry, TaskDatabase& db, QObject* parent)
    : QObject(parent), m_registry(registry), m_db(db), m_states(registry, db), m_health(registry, m_states, db),
      m_periodic(registry, m_states, m_source, db), m_waits(m_source, [this] { abortWaits(); }),
      m_import(registry, m_states, m_periodic, m_waits, db)
{
    m_registry.setClock(&m_states.clock());
    m_states.setFetchObserver(
        [this](Task* task, const FetchedPage& page) { m_health.noteCheck(task, page, m_firstCheck); });
    // The destinations of the task's news hear it too, through the outbox as news does.
    connect(&m_health, &TaskHealth::lookNeeded, this, [this](Task* task, const QString& reason) {
        if (const QList<OutboxEvent> events = m_news.brokenEventsFor(*task, reason); !events.isEmpty())
            m_db.addNewsEvents(events);
    });
    // Every piece of news stored is written into the outbox in the same transaction.
    m_db.setNewsSource([this](const TaskChange& change) {
        for (const Task* task : m_registry.tasks()) {
            if (task->taskId() == change.taskId)
                return m_news.eventsFor(*task, change.results);
        }
        return QList<OutboxEvent>();
    });
}

TaskChecker::~TaskChecker()
{
    // No download or render may call back into a task that is gone.
    m_source.abortAll();
    m_db.setNewsSource({});
    m_registry.setClock(nullptr);
}

void TaskChecker::setClock(const Clock* clock)
{
    m_states.setClock(clock);
    m_registry.setClock(&m_states.clock());
    m_news.setClock(clock);
    // Hosts that asked to be left alone are timed by the same clock.
    m_fetcher.setClock([this] { return m_states.now(); });
}

bool TaskChecker::start(bool deleteOld, int days, bool reportNewLinks)
{
    // Old results go before the tasks are read, so they are never shown.
    const bool deleted = !deleteOld || m_registry.removeOldResults(days, m_states.today());
    if (!deleted)
        m_lastError = m_registry.lastError();
    setReportNewLinks(reportNewLinks);
    m_registry.loadTasks();
    return deleted;
}

bool TaskChecker::setReportNewLinks(bool on, bool afresh)
{
    if (m_states.setReportNewLinks(on, afresh))
        return true;
    m_lastError = m_db.lastError();
    return false;
}

// Only the waits running now end: an abort that outlived them would drop every later command in silence.
void TaskChecker::abortWaits()
{
    m_waits.abortAll();
    m_source.abortAll();
    m_states.stopChecking();
}

bool TaskChecker::fetchWhole(CommandWaits::Wait& w, const Task& task, std::optional<FetchedPage>& fetched)
{
    m_waits.get(w, task, false, [this, &fetched](const FetchedPage& page) {
        fetched = page;
        m_waits.wake();
    });
    return m_waits.wait(w, [&fetched] { return fetched.has_value(); });
}

Commands::Outcome TaskChecker::resetResults(Task* task)
{
    CommandGuard::Scope command(m_guard);
    if (!command)
        return Outcome::Dropped;
    if (!m_registry.contains(task))
        return Outcome::TaskGone;

    // The page is fetched before anything changes: when it cannot be downloaded, or the file refuses
    // the change, the old results stay, in memory and in task.db.
    QPointer<Task> guarded(task);
    std::optional<FetchedPage> fetched;
    CommandWaits::Wait w;
    if (!fetchWhole(w, *task, fetched))
        return w.cancelled ? Outcome::Cancelled : Outcome::Aborted;
    if (!guarded || !m_registry.contains(guarded))
        return Outcome::TaskGone;
    m_states.noteFetch(task, *fetched);
    if (!fetched->ok)
        return Outcome::FetchFailed;

    const Task::ResultList results = task->resultsOfPage(*fetched, m_states.today());
    const FetchedPage validators = CheckStates::validatorsOf(*fetched);
    // With new links reported, and for a feed, the page's keyword links count as seen from now on.
    const bool recordSeen = m_states.recordsSeen(task, *fetched);
    fetched.reset();
    const bool stored = recordSeen ? m_db.replaceTaskResults(task->taskId(), results, CheckStates::seenLinksOf(results))
                                   : m_db.replaceTaskResults(task->taskId(), results);
    if (!stored) {
        m_lastError = m_db.lastError();
        return Outcome::StoreFailed;
    }
    m_states.resultsRebuilt(task);
    m_states.rememberValidators(task, validators);
    m_registry.setResults(task, results);
    return Outcome::Done;
}

Commands::Created TaskChecker::createTask(const TaskDefinition& entered)
{
    Created created;
    CommandGuard::Scope command(m_guard);
    if (!command) {
        created.outcome = Outcome::Dropped;
        return created;
    }
    if (!m_registry.writable()) {
        m_lastError = m_registry.lastError();
        created.outcome = Outcome::StoreFailed;
        return created;
    }
    const TaskDefinition definition = entered.normalised();
    if (const TaskDefinition::Problem problem = definition.check()) {
        m_lastError = problem.text();
        created.outcome = Outcome::Invalid;
        return created;
    }
    return createChecked(definition);
}

Commands::Created TaskChecker::createChecked(const TaskDefinition& definition)
{
    Created created;
    const QString& address = definition.address;
    const QString& grabText = definition.keyword;
    auto task =
        std::make_unique<Task>(m_registry.nextTaskId(), definition.name, address, grabText, definition.frequency);
    // Created and last checked now, by this checker's clock; written in local time as task.db holds it.
    const QDateTime createdAt = m_states.now().toLocalTime();
    task->setTaskDate(createdAt.date().toString(TaskDateFormat));
    task->setLastUpdate(createdAt.toString(Qt::ISODate));
    task->setOptions(definition.options);
    if (m_registry.duplicateOf(address, grabText) || m_db.taskExists(task.get())) {
        created.outcome = Outcome::Exists;
        return created;
    }

    std::optional<FetchedPage> fetched;
    CommandWaits::Wait w;
    if (!fetchWhole(w, *task, fetched)) {
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
        m_registry.stampTimes(task->results());
    }
    const QStringList seen =
        m_states.recordsSeen(task.get(), *fetched) ? CheckStates::seenLinksOf(task->results()) : QStringList();

    // Stored first: a task that did not reach task.db is not listed as if it had. The id is made unique
    // in the file as it is stored.
    if (!m_db.insertTask(task.get(), seen)) {
        m_lastError = m_db.lastError();
        created.outcome = Outcome::StoreFailed;
        return created;
    }
    created.task = task.release();
    m_registry.add(created.task);
    m_firstCheck = true;
    m_states.noteFetch(created.task, *fetched);
    m_firstCheck = false;
    if (!fetched->ok) {
        created.outcome = Outcome::FetchFailed;
        created.failureReason = failureReason(*fetched);
    }
    return created;
}

Commands::Outcome TaskChecker::editTask(Task* task, const TaskDefinition& typed)
{
    if (m_guard.isBusy() || m_registry.isImporting())
        return Outcome::Dropped;
    if (!m_registry.contains(task))
        return Outcome::TaskGone;
    // A frequency kept as stored is not judged again (an older file may hold 0 or 90 seconds).
    const int parts = typed.frequency == task->frequency() ? TaskDefinition::Options : TaskDefinition::Everything;
    TaskDefinition entered = typed.normalised();
    if (const TaskDefinition::Problem problem = entered.check(parts)) {
        m_lastError = problem.text();
        return Outcome::Invalid;
    }
    if (m_registry.duplicateOf(entered.address, entered.keyword, task))
        return Outcome::Exists;

    // A new region or new excluded words change which links count, as a new keyword does.
    const auto watched = [](const QHash<QString, QString>& options) {
        return std::make_pair(options.value(QLatin1String(Task::RegionOption)),
                              options.value(QLatin1String(Task::ExcludedWordsOption)));
    };
    const bool pageChanged = entered.address != task->address() || entered.keyword != task->grabText() ||
                             watched(entered.options) != watched(task->options());
    // The entered options replace the user's; the options the checks keep stay, and so do pause and mute,
    // which have commands of their own.
    QHash<QString, QString> newOptions = task->options();
    for (const QString& own : TaskDefinition::userOptions())
        newOptions.remove(own);
    newOptions.insert(TaskDefinition::userOptionsOf(entered.options));
    for (const QString& own : TaskDefinition::switchOptions()) {
        newOptions.remove(own);
        if (task->options().contains(own))
            newOptions.insert(own, task->options().value(own));
    }
    // The validators name a state of the old page: asked with them, the new page could answer "not modified".
    if (pageChanged) {
        newOptions.remove(QLatin1String(Task::EtagOption));
        newOptions.remove(QLatin1String(Task::LastModifiedOption));
    }
    entered.options = newOptions;
    const bool reported = m_states.reportsNewLinks(task);
    if (!m_registry.changeTask(task, entered, pageChanged)) {
        m_lastError = m_registry.lastError();
        return Outcome::StoreFailed;
    }
    if (!reported && m_states.reportsNewLinks(task) && !m_states.seeAfresh(task)) {
        m_lastError = m_db.lastError();
        return Outcome::StoreFailed;
    }
    // What was seen of the old page says nothing about the new one.
    if (pageChanged) {
        m_states.pageChanged(task);
        m_health.forget(task);
    }
    return Outcome::Done;
}

Commands::Outcome TaskChecker::setSwitch(Task* task, Switch which, bool on)
{
    if (!m_registry.contains(task))
        return Outcome::TaskGone;
    const QString option = QLatin1String(which == Switch::Paused ? Task::PausedOption : Task::MutedOption);
    const QString value = on ? QStringLiteral("1") : QString();
    if (task->options().value(option) != value) {
        if (!m_db.setTaskOption(task->taskId(), option, value)) {
            m_lastError = m_db.lastError();
            return Outcome::StoreFailed;
        }
        task->setOption(option, value);
    }
    m_registry.reportTaskChanged(task);
    m_registry.reportCheckState(task);
    return Outcome::Done;
}

Commands::ImportRun TaskChecker::importTasks(const QList<ExchangeTask>& entries)
{
    CommandGuard::Scope command(m_guard);
    if (!command)
        return {};
    return m_import.run(entries);
}
