// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/taskdatabase.h"

#include "storage/optionrows.h"
#include "storage/resultrows.h"
#include "storage/schema.h"
#include "storage/seenlinkrows.h"
#include "storage/sqlrunner.h"
#include "storage/taskrows.h"

#include <QFileInfo>

#include <tuple>
#include <utility>

namespace {
void takeStoredIds(Task* task, int taskId, int rowId)
{
    task->setRowId(rowId);
    task->setTaskId(taskId);
    for (const Task::ResultPtr& result : task->results()) {
        if (result)
            result->taskId = taskId;
    }
}
} // namespace

// Many new tasks stored in one transaction, held open from beginTaskBatch() to commitTaskBatch().
struct TaskDatabase::Batch
{
    explicit Batch(SqlRunner& runner) : transaction(runner) {}
    SqlRunner::Transaction transaction;
    QSet<int> usedIds;
    QList<std::tuple<Task*, int, int>> stored; // task, task id, row id
};

TaskDatabase::TaskDatabase(const QString& fileName) : TaskDatabase(fileName, OpenMode::ReadWrite) {}

TaskDatabase::TaskDatabase(const QString& fileName, OpenMode mode)
    : m_runner(std::make_unique<SqlRunner>(fileName, mode == OpenMode::ReadOnly))
{
    if (m_runner->isOpen())
        Schema::prepare(*m_runner, mode == OpenMode::ReadWrite);
}

TaskDatabase::~TaskDatabase() = default;

bool TaskDatabase::isOpen() const
{
    return m_runner->isOpen();
}

QString TaskDatabase::lastError() const
{
    return m_runner->lastError();
}

QString TaskDatabase::fileName() const
{
    return m_runner->fileName();
}

QString TaskDatabase::openFailure() const
{
    return m_runner->openFailure();
}

QList<Task*> TaskDatabase::loadTasks(QList<TaskRows::Refusal>* refused)
{
    std::optional<QList<Task*>> tasks = TaskRows(*m_runner).loadAll(refused);
    if (!tasks)
        return {};
    // Without a results table the tasks still load, with empty result lists; without an options table (a file
    // written by an older copy, opened read-only) they load without options.
    const std::optional<ResultRows::Summary> summary = ResultRows(*m_runner).summarize();
    const QHash<int, QHash<QString, QString>> optionsById = OptionRows(*m_runner).loadAll();
    if (summary)
        noteFoundOrder(summary->lastRow);
    const std::weak_ptr<SqlRunner> runner = m_runner;
    const auto dates = std::make_shared<QHash<QString, QDate>>();
    for (Task* task : std::as_const(*tasks)) {
        task->setOptions(optionsById.value(task->taskId()));
        const QVariantList keys = summary ? summary->keys.value(task->taskId()) : QVariantList();
        if (keys.isEmpty()) {
            task->setResults({});
            continue;
        }
        // Tasks that share an id each get records of their own, as each reads its rows itself.
        task->setResultSource(
            [runner, keys, dates](int taskId) -> std::optional<Task::ResultList> {
                const std::shared_ptr<SqlRunner> open = runner.lock();
                if (!open)
                    return std::nullopt;
                return ResultRows(*open).loadOf(keys, taskId, *dates);
            },
            summary->unread.value(task->taskId()));
    }
    return *tasks;
}

bool TaskDatabase::taskExists(const Task* task)
{
    return task && TaskRows(*m_runner).stored(*task).value_or(false);
}

bool TaskDatabase::insertTask(Task* task, const QStringList& seenLinks)
{
    if (!task)
        return m_runner->succeed();
    int taskId = 0;
    int rowId = 0;
    const bool stored = m_runner->inTransaction([&] {
        std::optional<QSet<int>> used = TaskRows(*m_runner).usedIds();
        return used && insertTaskRows(*task, seenLinks, *used, &taskId, &rowId);
    });
    if (stored && rowId > 0)
        takeStoredIds(task, taskId, rowId);
    return stored;
}

bool TaskDatabase::beginTaskBatch()
{
    if (m_batch)
        return m_runner->fail(QSqlError(tr("a batch of new tasks is already being stored")));
    auto batch = std::make_unique<Batch>(*m_runner);
    if (!batch->transaction.active())
        return false;
    std::optional<QSet<int>> used = TaskRows(*m_runner).usedIds();
    if (!used)
        return false;
    batch->usedIds = *used;
    m_batch = std::move(batch);
    return m_runner->succeed();
}

bool TaskDatabase::addToTaskBatch(Task* task, const QStringList& seenLinks)
{
    if (!m_batch)
        return m_runner->fail(QSqlError(tr("no batch of new tasks is being stored")));
    if (!task)
        return m_runner->succeed();
    int taskId = 0;
    int rowId = 0;
    if (!insertTaskRows(*task, seenLinks, m_batch->usedIds, &taskId, &rowId))
        return false;
    if (rowId > 0)
        m_batch->stored.append({task, taskId, rowId});
    return m_runner->succeed();
}

bool TaskDatabase::commitTaskBatch()
{
    if (!m_batch)
        return m_runner->fail(QSqlError(tr("no batch of new tasks is being stored")));
    const std::unique_ptr<Batch> batch = std::move(m_batch);
    if (!batch->transaction.commit())
        return false; // rolled back as the batch goes
    for (const auto& [task, taskId, rowId] : std::as_const(batch->stored))
        takeStoredIds(task, taskId, rowId);
    return true;
}

void TaskDatabase::rollbackTaskBatch()
{
    m_batch.reset();
}

bool TaskDatabase::insertTaskRows(const Task& task, const QStringList& seenLinks, QSet<int>& usedIds, int* taskIdOut,
                                  int* rowIdOut)
{
    TaskRows tasks(*m_runner);
    const std::optional<bool> exists = tasks.stored(task);
    if (!exists)
        return false;
    if (*exists)
        return true; // the same keyword on the same page is stored already: nothing is written
    const int taskId = TaskRows::freeId(task.taskId(), usedIds);
    const std::optional<int> rowId = tasks.insert(task, taskId);
    SeenLinkRows seen(*m_runner);
    OptionRows options(*m_runner);
    // A new task keeps every result it found, even those stored under another task. Seen links and options an
    // older copy of the program left under the id belong to a task that is gone.
    if (!rowId || !ResultRows(*m_runner).insertAll(task.results(), taskId) || !seen.removeOf(taskId) ||
        !seen.write({TaskChange{taskId, {}, seenLinks, {}}}) || !options.replace(taskId, task.options()) ||
        !options.recordOwner(taskId, *rowId))
        return false;
    *taskIdOut = taskId;
    *rowIdOut = *rowId;
    return true;
}

bool TaskDatabase::updateTask(const Task* task, bool forgetSeen)
{
    if (!task)
        return m_runner->succeed();
    return m_runner->inTransaction([&] {
        const std::optional<int> changed = TaskRows(*m_runner).update(*task);
        if (!changed)
            return false;
        if (*changed == 0)
            return m_runner->fail(
                tr("the task %1 is no longer in %2").arg(task->name(), QFileInfo(fileName()).fileName()));
        return (!forgetSeen || SeenLinkRows(*m_runner).removeOf(task->taskId())) &&
               OptionRows(*m_runner).replace(task->taskId(), task->options());
    });
}

bool TaskDatabase::markTaskResultsRead(int taskId)
{
    return m_runner->inTransaction([&] { return ResultRows(*m_runner).markRead(taskId); });
}

bool TaskDatabase::storeChanges(const QList<TaskChange>& changes)
{
    Task::ResultList results;
    bool seenChanged = false;
    for (const TaskChange& change : changes) {
        results += change.results;
        seenChanged = seenChanged || !change.seenAdded.isEmpty() || !change.seenRemoved.isEmpty();
    }
    if (results.isEmpty() && !seenChanged)
        return m_runner->succeed();
    QList<OutboxEvent> events;
    if (m_newsSource) {
        for (const TaskChange& change : changes) {
            if (!change.results.isEmpty())
                events += m_newsSource(change);
        }
    }
    int dropped = 0;
    const bool stored = m_runner->inTransaction([&] {
        return ResultRows(*m_runner).insertNew(results) && (!seenChanged || SeenLinkRows(*m_runner).write(changes)) &&
               (events.isEmpty() || OutboxRows(*m_runner).add(events, &dropped, m_maxNewsPerDestination));
    });
    if (stored)
        m_droppedNews += dropped;
    return stored;
}

int TaskDatabase::takeDroppedNews()
{
    return std::exchange(m_droppedNews, 0);
}

bool TaskDatabase::addNewsEvents(const QList<OutboxEvent>& events)
{
    int dropped = 0;
    const bool stored =
        m_runner->inTransaction([&] { return OutboxRows(*m_runner).add(events, &dropped, m_maxNewsPerDestination); });
    if (stored)
        m_droppedNews += dropped;
    return stored;
}

std::optional<QList<OutboxEvent>> TaskDatabase::newsEvents(int limit)
{
    return OutboxRows(*m_runner).all(limit);
}

bool TaskDatabase::removeNewsEvent(qint64 row)
{
    return m_runner->inTransaction([&] { return OutboxRows(*m_runner).remove(row); });
}

bool TaskDatabase::rescheduleNewsEvent(qint64 row, int attempts, qint64 nextTry, const QString& error)
{
    return m_runner->inTransaction([&] { return OutboxRows(*m_runner).reschedule(row, attempts, nextTry, error); });
}

bool TaskDatabase::replaceTaskResults(int taskId, const Task::ResultList& results)
{
    return replaceResults(taskId, results, nullptr);
}

bool TaskDatabase::replaceTaskResults(int taskId, const Task::ResultList& results, const QStringList& seenLinks)
{
    return replaceResults(taskId, results, &seenLinks);
}

bool TaskDatabase::replaceResults(int taskId, const Task::ResultList& results, const QStringList* seen)
{
    return m_runner->inTransaction([&] {
        ResultRows rows(*m_runner);
        return rows.removeOf(taskId) && rows.insertNew(results) &&
               (!seen || SeenLinkRows(*m_runner).replace(taskId, *seen));
    });
}

bool TaskDatabase::updateLastUpdate(const Task* task)
{
    if (!task)
        return m_runner->succeed();
    return m_runner->inTransaction([&] { return TaskRows(*m_runner).setLastUpdate(*task); });
}

bool TaskDatabase::updateResultStates(const Task::ResultList& results, int state)
{
    return m_runner->inTransaction([&] { return ResultRows(*m_runner).setStates(results, state); });
}

bool TaskDatabase::removeTask(const Task* task)
{
    if (!task)
        return m_runner->succeed();
    const int taskId = task->taskId();
    return m_runner->inTransaction([&] {
        TaskRows tasks(*m_runner);
        const std::optional<bool> stored = tasks.storedId(taskId);
        if (!stored)
            return false;
        if (!*stored)
            return true; // not stored: its id's results, if any, stay
        // The task's own row goes; its results, seen links and options once no other task row carries the id.
        if (!tasks.remove(*task))
            return false;
        const std::optional<bool> shared = tasks.storedId(taskId);
        return shared &&
               (*shared || (ResultRows(*m_runner).removeOf(taskId) && SeenLinkRows(*m_runner).removeOf(taskId) &&
                            OptionRows(*m_runner).removeOf(taskId)));
    });
}

bool TaskDatabase::removeTaskResults(int taskId)
{
    return m_runner->inTransaction([&] { return ResultRows(*m_runner).removeOf(taskId); });
}

bool TaskDatabase::removeResults(const Task::ResultList& results)
{
    return m_runner->inTransaction([&] { return ResultRows(*m_runner).remove(results); });
}

bool TaskDatabase::removeAllTasks()
{
    return m_runner->inTransaction([&] {
        return TaskRows(*m_runner).removeAll() && ResultRows(*m_runner).removeAll() &&
               SeenLinkRows(*m_runner).removeAll() && OptionRows(*m_runner).removeAll();
    });
}

bool TaskDatabase::removeOldResults(int days, const QDate& today)
{
    return m_runner->inTransaction([&] { return ResultRows(*m_runner).removeOld(days, today); });
}

std::optional<QSet<QString>> TaskDatabase::seenLinks(int taskId)
{
    std::optional<QSet<QString>> links = SeenLinkRows(*m_runner).of(taskId);
    if (links)
        m_runner->succeed();
    return links;
}

bool TaskDatabase::removeAllSeenLinks()
{
    return m_runner->inTransaction([&] { return SeenLinkRows(*m_runner).removeAll(); });
}

bool TaskDatabase::setTaskOption(int taskId, const QString& name, const QString& value)
{
    return m_runner->inTransaction([&] { return OptionRows(*m_runner).set(taskId, name, value); });
}
