// SPDX-License-Identifier: GPL-3.0-or-later
// What the checks and commands store of their tasks, through the watch list's one connection to task.db.
#include "core/taskregistry.h"
#include "storage/taskdatabase.h"

bool TaskRegistry::isOpen() const
{
    return m_db.isOpen();
}

QString TaskRegistry::fileName() const
{
    return m_db.fileName();
}

QString TaskRegistry::openFailure() const
{
    return m_db.openFailure();
}

bool TaskRegistry::isStored(const Task* task)
{
    return m_db.taskExists(task);
}

bool TaskRegistry::storeNew(Task* task, const QStringList& seenLinks)
{
    return !refusedBy(m_db.insertTask(task, seenLinks));
}

bool TaskRegistry::beginBatch()
{
    return !refusedBy(m_db.beginTaskBatch());
}

bool TaskRegistry::addToBatch(Task* task, const QStringList& seenLinks)
{
    return !refusedBy(m_db.addToTaskBatch(task, seenLinks));
}

bool TaskRegistry::commitBatch()
{
    return !refusedBy(m_db.commitTaskBatch());
}

void TaskRegistry::rollbackBatch()
{
    m_db.rollbackTaskBatch();
}

bool TaskRegistry::storeOption(const Task* task, const QString& name, const QString& value)
{
    return !refusedBy(m_db.setTaskOption(task->taskId(), name, value));
}

bool TaskRegistry::storeOptions(const QList<OptionRows::Change>& changes)
{
    return !refusedBy(m_db.setTaskOptions(changes));
}

bool TaskRegistry::storeChanges(const QList<TaskChange>& changes)
{
    return !refusedBy(m_db.storeChanges(changes));
}

bool TaskRegistry::storeCheckTime(const Task* task)
{
    return !refusedBy(m_db.updateLastUpdate(task));
}

bool TaskRegistry::replaceResults(const Task* task, const Task::ResultList& results, const QStringList* seenLinks)
{
    return !refusedBy(seenLinks ? m_db.replaceTaskResults(task->taskId(), results, *seenLinks)
                                : m_db.replaceTaskResults(task->taskId(), results));
}

std::optional<QSet<QString>> TaskRegistry::seenLinks(const Task* task)
{
    std::optional<QSet<QString>> links = m_db.seenLinks(task->taskId());
    refusedBy(links.has_value());
    return links;
}

bool TaskRegistry::forgetSeenLinks(const Task* task)
{
    return !refusedBy(task ? m_db.removeSeenLinks(task->taskId()) : m_db.removeAllSeenLinks());
}

bool TaskRegistry::indexesMissing()
{
    return m_db.indexesMissing();
}

void TaskRegistry::adoptRead(const Screened& screened, std::optional<qint64> lastRow)
{
    m_db.attachUncounted(screened.tasks, lastRow);
    adopt(screened);
}

void TaskRegistry::setNewsSource(NewsSource source)
{
    m_db.setNewsSource(std::move(source));
}

NewsStore& TaskRegistry::newsStore()
{
    return m_db.news();
}
