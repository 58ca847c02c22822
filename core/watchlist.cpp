// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/watchlist.h"

#include "core/logging.h"
#include "engine/definition/taskdefinition.h"
#include "storage/taskdatabase.h"

#include <QSet>

WatchList::WatchList(const QString& fileName, IndexBuild indexes, QObject* parent)
    : QObject(parent),
      m_owned(std::make_unique<TaskDatabase>(fileName, TaskDatabase::OpenMode::ReadWrite,
                                             indexes == IndexBuild::AtOpen ? TaskDatabase::IndexBuild::AtOpen
                                                                           : TaskDatabase::IndexBuild::Deferred)),
      m_db(*m_owned)
{
}

WatchList::WatchList(TaskDatabase& db, QObject* parent) : QObject(parent), m_db(db) {}

WatchList::~WatchList()
{
    qDeleteAll(m_tasks);
}

bool WatchList::contains(const Task* task) const
{
    return task && task->rowId() > 0 && m_byRow.value(task->rowId()) == task;
}

void WatchList::loadTasks()
{
    load(true);
}

void WatchList::loadTasksUncounted()
{
    load(false);
}

void WatchList::attachCounts(const std::optional<ResultRows::Summary>& summary)
{
    QList<Task*> uncounted;
    for (Task* task : std::as_const(m_tasks)) {
        if (task->unreadCount() == Task::UncountedResults)
            uncounted.append(task);
    }
    if (summary) {
        m_db.attachResults(uncounted, *summary);
    } else {
        qCWarning(lcCore).noquote() << "the results were not counted beside the window, they are counted now";
        m_db.attachResults(uncounted, m_db.countResults().value_or(ResultRows::Summary{}));
    }
    emit countsArrived();
}

void WatchList::load(bool counted)
{
    QList<TaskRows::Refusal> refusedRows;
    const QList<Task*> loaded = counted ? m_db.loadTasks(&refusedRows) : m_db.loadTasksUncounted(&refusedRows);
    adopt(screen(loaded, refusedRows));
}

WatchList::Screened WatchList::screen(const QList<Task*>& loaded, const QList<TaskRows::Refusal>& refusedRows)
{
    // A row may have been written by anything: it is shown and requested only when it passes the check
    // the dialog makes. Its frequency and options but its region are used as stored (see TaskDefinition::Part).
    Screened screened;
    QString first;
    int refused = 0;
    for (const TaskRows::Refusal& row : refusedRows) {
        if (refused++ == 0)
            first = row.reason;
        qCWarning(lcCore).noquote() << "stored task" << row.rowId << "not loaded:" << row.reason;
    }
    for (Task* task : loaded) {
        // Judged as the dialog judges what is typed: a name or keyword of spaces is empty.
        const TaskDefinition::Problem problem = TaskDefinition::of(*task).normalised().check(TaskDefinition::Region);
        if (!problem) {
            screened.tasks.append(task);
            continue;
        }
        if (refused++ == 0)
            first = problem.text();
        qCWarning(lcCore).noquote() << "stored task" << task->rowId() << "not loaded:" << problem.text();
        delete task;
    }
    if (refused > 0)
        screened.refusal = refused == 1
                               ? tr("1 stored task not loaded because of its %1").arg(first)
                               : tr("%1 stored tasks not loaded, the first because of its %2").arg(refused).arg(first);
    return screened;
}

void WatchList::adopt(const Screened& screened)
{
    for (Task* task : screened.tasks) {
        m_tasks.append(task);
        m_byRow.insert(task->rowId(), task);
    }
    if (!screened.refusal.isEmpty())
        m_loadRefusal = screened.refusal;
    emit tasksLoaded();
}

const Task* WatchList::duplicateOf(const QString& address, const QString& keyword, const Task* except) const
{
    if (except && except->address() == address && except->keyword() == keyword)
        return nullptr;
    for (const Task* task : m_tasks) {
        if (task != except && TaskDefinition::sameWatch(address, keyword, task->address(), task->keyword()))
            return task;
    }
    return nullptr;
}

int WatchList::nextTaskId() const
{
    // The number of tasks, unless a remaining task already carries that id (possible after a removal);
    // then one more than the largest id. Storing the task makes the id unique in the file as well.
    const int count = int(m_tasks.size());
    int largest = -1;
    bool taken = false;
    for (const Task* task : m_tasks) {
        largest = qMax(largest, task->taskId());
        taken = taken || task->taskId() == count;
    }
    return taken ? largest + 1 : count;
}

bool WatchList::writable()
{
    if (m_preparing) {
        m_lastError = tr("task.db is still being prepared; try again in a moment.");
        return false;
    }
    if (!m_importing)
        return true;
    m_lastError = tr("Tasks are being imported; try again when the import has finished.");
    return false;
}

bool WatchList::resultsRead(Task* task)
{
    if (task->loadResults())
        return true;
    m_lastError = tr("Could not read the results of %1: %2").arg(task->name(), m_db.lastError());
    qCWarning(lcCore).noquote() << m_lastError;
    return false;
}

bool WatchList::refusedBy(bool stored)
{
    if (!stored)
        m_lastError = m_db.lastError();
    return !stored;
}

void WatchList::add(Task* task)
{
    m_tasks.append(task);
    m_byRow.insert(task->rowId(), task);
    emit taskAdded(task);
}

void WatchList::stampTimes(const Task::ResultList& results) const
{
    const QDateTime moment = now().toLocalTime();
    if (!moment.isValid())
        return;
    for (const Task::ResultPtr& result : results) {
        if (result && !result->time.isValid() && result->date == moment.date())
            result->time = QTime(moment.time().hour(), moment.time().minute(), moment.time().second());
    }
}

void WatchList::appendResults(Task* task, const Task::ResultList& results)
{
    stampTimes(results);
    task->appendResults(results);
    emit resultsChanged(task);
}

void WatchList::setResults(Task* task, const Task::ResultList& results)
{
    stampTimes(results);
    task->setResults(results);
    emit resultsChanged(task);
}

QString WatchList::resultsText(int count)
{
    return count == 1 ? tr("1 result") : tr("%1 results").arg(count);
}

void WatchList::remember(Removal removal)
{
    m_removals.push_back(std::move(removal));
    emit undoChanged();
}

bool WatchList::removeTask(Task* task)
{
    Removal removal;
    if (!writable() || !contains(task) || refusedBy(m_db.removeTask(task, &removal.rows)))
        return false;
    const int results = removal.rows.count(QStringLiteral("results"));
    removal.what = results == 0 ? tr("Task %1").arg(task->name())
                                : tr("Task %1 and its %2").arg(task->name(), resultsText(results));
    removal.taskRows = {task->rowId()};
    removal.positions = {int(m_tasks.indexOf(task))};
    m_tasks.removeOne(task);
    m_byRow.remove(task->rowId());
    emit taskRemoved(task);
    delete task;
    if (!removal.rows.isEmpty())
        remember(std::move(removal));
    return true;
}

bool WatchList::removeAllTasks()
{
    Removal removal;
    if (!writable() || refusedBy(m_db.removeAllTasks(&removal.rows)))
        return false;
    const QList<Task*> removed = std::exchange(m_tasks, {});
    m_byRow.clear();
    const int results = removal.rows.count(QStringLiteral("results"));
    removal.what =
        tr("%1 and their %2")
            .arg(removed.size() == 1 ? tr("1 task") : tr("%1 tasks").arg(removed.size()), resultsText(results));
    for (int i = 0; i < removed.size(); ++i) {
        removal.taskRows.append(removed.at(i)->rowId());
        removal.positions.append(i);
    }
    emit allTasksRemoved();
    qDeleteAll(removed);
    if (!removal.rows.isEmpty())
        remember(std::move(removal));
    return true;
}

bool WatchList::undo()
{
    if (m_removals.empty() || !writable())
        return false;
    const Removal& removal = m_removals.back();
    if (refusedBy(m_db.restoreRows(removal.rows)))
        return false;
    m_restored.clear();
    if (removal.taskRows.isEmpty()) {
        putBackResults(removal);
    } else {
        // Read afresh from the rows put back, as at start-up; the tasks held stay as they are.
        const QList<Task*> loaded = m_db.loadTasks();
        QHash<int, Task*> byRow;
        for (Task* task : loaded) {
            if (removal.taskRows.contains(task->rowId()) && !byRow.contains(task->rowId()))
                byRow.insert(task->rowId(), task);
            else
                delete task;
        }
        for (int i = 0; i < removal.taskRows.size(); ++i) {
            Task* task = byRow.take(removal.taskRows.at(i));
            if (!task)
                continue;
            m_tasks.insert(qBound(0, removal.positions.at(i), int(m_tasks.size())), task);
            m_byRow.insert(task->rowId(), task);
            m_restored.append(task);
        }
        qDeleteAll(byRow);
        emit tasksLoaded();
    }
    m_removals.pop_back();
    emit undoChanged();
    return true;
}

void WatchList::putBackResults(const Removal& removal)
{
    Task* owner = nullptr;
    for (Task* task : std::as_const(m_tasks)) {
        if (task->rowId() == removal.ownerRow && task->taskId() == removal.ownerId)
            owner = task;
    }
    if (!owner)
        return;
    if (!owner->resultsLoaded()) {
        // Read from task.db, the records put back with them.
        resultsRead(owner);
        emit resultsChanged(owner);
        return;
    }
    // The list as it was before the removal, without what went since, and with what came since at its end.
    // A record put back that its task holds again (the same text and link) stays out.
    const Task::ResultList current = owner->results();
    QSet<const TaskResult*> held;
    QSet<QPair<QString, QString>> heldLinks;
    for (const Task::ResultPtr& result : current) {
        held.insert(result.get());
        heldLinks.insert({result->text, result->link});
    }
    QSet<const TaskResult*> removed;
    for (const Task::ResultPtr& result : removal.removed)
        removed.insert(result.get());
    Task::ResultList list;
    QSet<const TaskResult*> placed;
    for (const Task::ResultPtr& result : removal.before) {
        const bool back = removed.contains(result.get()) && !heldLinks.contains({result->text, result->link});
        if (held.contains(result.get()) || back) {
            list.append(result);
            placed.insert(result.get());
        }
    }
    for (const Task::ResultPtr& result : current) {
        if (!placed.contains(result.get()))
            list.append(result);
    }
    setResults(owner, list);
}

QList<int> WatchList::positionsOf(const Task* task, const Task::ResultList& results)
{
    // The task's own among them, each once however many rows were selected, found in one pass over its list.
    QSet<const TaskResult*> wanted;
    for (const Task::ResultPtr& result : results)
        wanted.insert(result.get());
    QList<int> positions;
    const Task::ResultList current = task->results();
    for (int index = 0; index < current.size(); ++index) {
        if (wanted.contains(current.at(index).get()))
            positions.append(index);
    }
    return positions;
}

bool WatchList::markRead(Task* task, const Task::ResultList& results)
{
    if (!writable() || !contains(task) || !resultsRead(task))
        return false;
    const Task::ResultList current = task->results();
    QList<int> changed;
    Task::ResultList marked;
    for (int index : positionsOf(task, results)) {
        if (current.at(index)->state != StateRead) {
            changed.append(index);
            marked.append(current.at(index));
        }
    }
    if (marked.isEmpty())
        return true;
    // One statement: on a refusal nothing changes, in task.db or in memory.
    if (refusedBy(m_db.updateResultStates(marked, StateRead)))
        return false;
    for (int index : std::as_const(changed))
        task->setResultState(index, StateRead);
    emit resultStatesChanged(task, changed);
    return true;
}

bool WatchList::markAllRead(Task* task)
{
    if (!writable() || !contains(task) || !resultsRead(task) || refusedBy(m_db.markTaskResultsRead(task->taskId())))
        return false;
    QList<int> changed;
    const Task::ResultList results = task->results();
    for (int i = 0; i < results.size(); ++i) {
        if (results.at(i)->state != StateRead) {
            task->setResultState(i, StateRead);
            changed.append(i);
        }
    }
    if (!changed.isEmpty())
        emit resultStatesChanged(task, changed);
    return true;
}

bool WatchList::removeResults(Task* task, const Task::ResultList& results)
{
    if (!writable() || !contains(task) || !resultsRead(task))
        return false;
    const QList<int> positions = positionsOf(task, results);
    const Task::ResultList current = task->results();
    Removal removal;
    for (int index : positions)
        removal.removed.append(current.at(index));
    if (removal.removed.isEmpty())
        return true;
    // All in one transaction: on a refusal every row stays listed and stored.
    if (refusedBy(m_db.removeResults(removal.removed, &removal.rows)))
        return false;
    for (auto index = positions.crbegin(); index != positions.crend(); ++index)
        task->removeResult(*index);
    removal.what = tr("%1 of task %2").arg(resultsText(int(removal.removed.size())), task->name());
    removal.ownerRow = task->rowId();
    removal.ownerId = task->taskId();
    removal.before = current;
    emit resultsChanged(task);
    if (!removal.rows.isEmpty())
        remember(std::move(removal));
    return true;
}

bool WatchList::removeTaskResults(Task* task)
{
    // Read first, so the records can be put back as they were.
    Removal removal;
    if (!writable() || !contains(task) || !resultsRead(task) ||
        refusedBy(m_db.removeTaskResults(task->taskId(), &removal.rows)))
        return false;
    removal.before = task->results();
    removal.removed = removal.before;
    removal.what = tr("%1 of task %2").arg(resultsText(int(removal.removed.size())), task->name());
    removal.ownerRow = task->rowId();
    removal.ownerId = task->taskId();
    task->clearResults();
    emit resultsChanged(task);
    if (!removal.rows.isEmpty())
        remember(std::move(removal));
    return true;
}

bool WatchList::removeOldResults(int days, const QDate& today)
{
    return writable() && !refusedBy(m_db.removeOldResults(days, today));
}

bool WatchList::changeTask(Task* task, const TaskDefinition& changed, bool pageChanged)
{
    // Written first: what task.db refused is not shown as changed.
    if (!writable() || !contains(task) || refusedBy(m_db.updateTask(*task, changed, pageChanged)))
        return false;
    task->setDefinition(changed);
    if (pageChanged)
        task->forgetKnownLinks();
    emit taskChanged(task);
    return true;
}
