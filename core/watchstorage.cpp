// SPDX-License-Identifier: GPL-3.0-or-later
// What the checks and commands store of their tasks, through the watch list's one connection to task.db.
#include "core/watchlist.h"
#include "storage/taskdatabase.h"

#include <QSet>

bool WatchList::isOpen() const
{
    return m_db.isOpen();
}

QString WatchList::fileName() const
{
    return m_db.fileName();
}

QString WatchList::openFailure() const
{
    return m_db.openFailure();
}

bool WatchList::isStored(const Task* task)
{
    return m_db.taskExists(task);
}

bool WatchList::storeNew(Task* task, const QStringList& seenLinks)
{
    return !refusedBy(m_db.insertTask(task, seenLinks));
}

bool WatchList::beginBatch()
{
    return !refusedBy(m_db.beginTaskBatch());
}

bool WatchList::addToBatch(Task* task, const QStringList& seenLinks)
{
    return !refusedBy(m_db.addToTaskBatch(task, seenLinks));
}

bool WatchList::commitBatch()
{
    return !refusedBy(m_db.commitTaskBatch());
}

void WatchList::rollbackBatch()
{
    m_db.rollbackTaskBatch();
}

bool WatchList::storeOption(const Task* task, const QString& name, const QString& value)
{
    return !refusedBy(m_db.setTaskOption(task->taskId(), name, value));
}

bool WatchList::storeOptions(const QList<OptionRows::Change>& changes)
{
    return !refusedBy(m_db.setTaskOptions(changes));
}

bool WatchList::storeChanges(const QList<TaskChange>& changes)
{
    // The tasks whose news is written with the changes, found in one pass over the list that ends once all are
    // found (an update-all of 100,000 tasks stores as many changes at once).
    if (m_newsSource) {
        QSet<int> ids;
        for (const TaskChange& change : changes) {
            if (!change.results.isEmpty())
                ids.insert(change.taskId);
        }
        for (auto it = m_tasks.cbegin(); it != m_tasks.cend() && m_newsTasks.size() < ids.size(); ++it) {
            if (ids.contains((*it)->taskId()) && !m_newsTasks.contains((*it)->taskId()))
                m_newsTasks.insert((*it)->taskId(), *it);
        }
    }
    const bool stored = m_db.storeChanges(changes);
    m_newsTasks.clear();
    return !refusedBy(stored);
}

bool WatchList::storeCheckTime(const Task* task)
{
    return !refusedBy(m_db.updateLastUpdate(task));
}

bool WatchList::replaceResults(const Task* task, const Task::ResultList& results, const QStringList* seenLinks)
{
    return !refusedBy(seenLinks ? m_db.replaceTaskResults(task->taskId(), results, *seenLinks)
                                : m_db.replaceTaskResults(task->taskId(), results));
}

std::optional<QSet<QString>> WatchList::seenLinks(const Task* task)
{
    std::optional<QSet<QString>> links = m_db.seenLinks(task->taskId());
    refusedBy(links.has_value());
    return links;
}

bool WatchList::forgetSeenLinks(const Task* task)
{
    return !refusedBy(task ? m_db.removeSeenLinks(task->taskId()) : m_db.removeAllSeenLinks());
}

bool WatchList::indexesMissing()
{
    return m_db.indexesMissing();
}

void WatchList::adoptRead(const Screened& screened, std::optional<qint64> lastRow)
{
    m_db.attachUncounted(screened.tasks, lastRow);
    adopt(screened);
}

void WatchList::setNewsSource(NewsSource source)
{
    m_newsSource = std::move(source);
    if (!m_newsSource) {
        m_db.setNewsSource({});
        return;
    }
    m_db.setNewsSource([this](const TaskChange& change) {
        const Task* task = m_newsTasks.value(change.taskId);
        return task ? m_newsSource(*task, change.results) : QList<OutboxEvent>();
    });
}

NewsStore& WatchList::newsStore()
{
    return m_db.news();
}
