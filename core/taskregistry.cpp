// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/taskregistry.h"

#include "core/logging.h"
#include "engine/taskdefinition.h"
#include "storage/taskdatabase.h"

#include <QSet>

TaskRegistry::TaskRegistry(TaskDatabase& db, QObject* parent) : QObject(parent), m_db(db) {}

TaskRegistry::~TaskRegistry()
{
    qDeleteAll(m_tasks);
}

bool TaskRegistry::contains(const Task* task) const
{
    return task && m_tasks.contains(task);
}

void TaskRegistry::loadTasks()
{
    // A row may have been written by anything: it is shown and requested only when it passes the check
    // the dialog makes. Its frequency and options but its region are used as stored (see TaskDefinition::Part).
    QList<TaskRows::Refusal> refusedRows;
    const QList<Task*> loaded = m_db.loadTasks(&refusedRows);
    int refused = 0;
    for (const TaskRows::Refusal& row : std::as_const(refusedRows)) {
        if (refused++ == 0)
            m_loadRefusal = row.reason;
        qCWarning(lcCore).noquote() << "stored task" << row.rowId << "not loaded:" << row.reason;
    }
    for (Task* task : loaded) {
        // Judged as the dialog judges what is typed: a name or keyword of spaces is empty.
        const TaskDefinition::Problem problem = TaskDefinition::of(*task).normalised().check(TaskDefinition::Region);
        if (!problem) {
            m_tasks.append(task);
            continue;
        }
        if (refused++ == 0)
            m_loadRefusal = problem.text();
        qCWarning(lcCore).noquote() << "stored task" << task->rowId() << "not loaded:" << problem.text();
        delete task;
    }
    if (refused > 0)
        m_loadRefusal =
            refused == 1
                ? tr("1 stored task not loaded because of its %1").arg(m_loadRefusal)
                : tr("%1 stored tasks not loaded, the first because of its %2").arg(refused).arg(m_loadRefusal);
    emit tasksLoaded();
}

const Task* TaskRegistry::duplicateOf(const QString& address, const QString& grabText, const Task* except) const
{
    if (except && except->address() == address && except->grabText() == grabText)
        return nullptr;
    for (const Task* task : m_tasks) {
        if (task != except && TaskDefinition::sameWatch(address, grabText, task->address(), task->grabText()))
            return task;
    }
    return nullptr;
}

int TaskRegistry::nextTaskId() const
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

bool TaskRegistry::writable()
{
    if (!m_importing)
        return true;
    m_lastError = tr("Tasks are being imported; try again when the import has finished.");
    return false;
}

bool TaskRegistry::resultsRead(Task* task)
{
    if (task->loadResults())
        return true;
    m_lastError = tr("Could not read the results of %1: %2").arg(task->name(), m_db.lastError());
    qCWarning(lcCore).noquote() << m_lastError;
    return false;
}

bool TaskRegistry::refusedBy(bool stored)
{
    if (!stored)
        m_lastError = m_db.lastError();
    return !stored;
}

void TaskRegistry::add(Task* task)
{
    m_tasks.append(task);
    emit taskAdded(task);
}

void TaskRegistry::appendResults(Task* task, const Task::ResultList& results)
{
    task->appendResults(results);
    emit resultsChanged(task);
}

void TaskRegistry::setResults(Task* task, const Task::ResultList& results)
{
    task->setResults(results);
    emit resultsChanged(task);
}

bool TaskRegistry::removeTask(Task* task)
{
    if (!writable() || !contains(task) || refusedBy(m_db.removeTask(task)))
        return false;
    m_tasks.removeOne(task);
    emit taskRemoved(task);
    delete task;
    return true;
}

bool TaskRegistry::removeAllTasks()
{
    if (!writable() || refusedBy(m_db.removeAllTasks()))
        return false;
    const QList<Task*> removed = std::exchange(m_tasks, {});
    emit allTasksRemoved();
    qDeleteAll(removed);
    return true;
}

QList<int> TaskRegistry::positionsOf(const Task* task, const Task::ResultList& results)
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

bool TaskRegistry::markRead(Task* task, const Task::ResultList& results)
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

bool TaskRegistry::markAllRead(Task* task)
{
    if (!writable() || !contains(task) || !resultsRead(task) || refusedBy(m_db.markTaskResultsRead(task->taskId())))
        return false;
    QList<int> changed;
    const Task::ResultList results = task->results();
    for (int i = 0; i < results.size(); ++i) {
        if (results.at(i)->state != StateRead) {
            results.at(i)->state = StateRead;
            changed.append(i);
        }
    }
    if (!changed.isEmpty())
        emit resultStatesChanged(task, changed);
    return true;
}

bool TaskRegistry::removeResults(Task* task, const Task::ResultList& results)
{
    if (!writable() || !contains(task) || !resultsRead(task))
        return false;
    const QList<int> positions = positionsOf(task, results);
    const Task::ResultList current = task->results();
    Task::ResultList removed;
    for (int index : positions)
        removed.append(current.at(index));
    if (removed.isEmpty())
        return true;
    // All in one transaction: on a refusal every row stays listed and stored.
    if (refusedBy(m_db.removeResults(removed)))
        return false;
    for (auto index = positions.crbegin(); index != positions.crend(); ++index)
        task->removeResult(*index);
    emit resultsChanged(task);
    return true;
}

bool TaskRegistry::removeTaskResults(Task* task)
{
    if (!writable() || !contains(task) || refusedBy(m_db.removeTaskResults(task->taskId())))
        return false;
    task->clearResults();
    emit resultsChanged(task);
    return true;
}

bool TaskRegistry::removeOldResults(int days, const QDate& today)
{
    return writable() && !refusedBy(m_db.removeOldResults(days, today));
}

bool TaskRegistry::changeTask(Task* task, const Task& changed, bool pageChanged)
{
    // Written first from a copy: what task.db refused is not shown as changed.
    if (!writable() || !contains(task) || refusedBy(m_db.updateTask(&changed, pageChanged)))
        return false;
    task->setDefinition(changed.name(), changed.address(), changed.grabText(), changed.frequency());
    task->setOptions(changed.options());
    if (pageChanged)
        task->forgetKnownLinks();
    emit taskChanged(task);
    return true;
}
