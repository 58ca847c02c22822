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

TaskDatabase::TaskDatabase(const QString& fileName, OpenMode mode, IndexBuild indexes)
    : m_runner(std::make_unique<SqlRunner>(fileName, mode == OpenMode::ReadOnly)), m_news(m_runner)
{
    if (m_runner->isOpen())
        Schema::prepare(*m_runner, mode == OpenMode::ReadWrite,
                        indexes == IndexBuild::AtOpen ? Schema::IndexBuild::Now : Schema::IndexBuild::Later);
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
    return loadAll(refused, true);
}

QList<Task*> TaskDatabase::loadTasksUncounted(QList<TaskRows::Refusal>* refused)
{
    return loadAll(refused, false);
}

QList<Task*> TaskDatabase::loadAll(QList<TaskRows::Refusal>* refused, bool counted)
{
    std::optional<QList<Task*>> tasks = TaskRows(*m_runner).loadAll(refused);
    if (!tasks)
        return {};
    OptionRows(*m_runner).giveTo(*tasks);
    if (counted) {
        // Without a results table the tasks still load, with empty result lists.
        const std::optional<ResultRows::Summary> summary = ResultRows(*m_runner).summarize();
        attachResults(*tasks, summary.value_or(ResultRows::Summary{}));
        return *tasks;
    }
    // The results found from now on are numbered after every stored one (the largest row id is read at once).
    attachUncounted(*tasks, ResultRows(*m_runner).lastRow());
    return *tasks;
}

void TaskDatabase::attachUncounted(const QList<Task*>& tasks, std::optional<qint64> lastRow)
{
    if (lastRow)
        noteFoundOrder(*lastRow);
    const std::weak_ptr<SqlRunner> runner = m_runner;
    for (Task* task : tasks) {
        task->setResultSource(
            [runner](int) -> std::optional<Task::ResultList> {
                if (const std::shared_ptr<SqlRunner> open = runner.lock())
                    open->fail(tr("its stored results are still being counted"));
                return std::nullopt;
            },
            Task::UncountedResults);
    }
}

void TaskDatabase::attachResults(const QList<Task*>& tasks, const ResultRows::Summary& summary)
{
    noteFoundOrder(summary.lastRow);
    const std::weak_ptr<SqlRunner> runner = m_runner;
    const auto known = std::make_shared<ResultRows::Known>();
    for (Task* task : tasks) {
        const QVariantList keys = summary.keys.value(task->taskId());
        if (keys.isEmpty()) {
            task->setResults({});
            continue;
        }
        // Tasks that share an id each get records of their own, as each reads its rows itself.
        task->setResultSource(
            [runner, keys, known](int taskId) -> std::optional<Task::ResultList> {
                const std::shared_ptr<SqlRunner> open = runner.lock();
                if (!open)
                    return std::nullopt;
                return ResultRows(*open).loadOf(keys, taskId, *known);
            },
            summary.unread.value(task->taskId()));
    }
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

bool TaskDatabase::updateTask(const Task& task, const TaskDefinition& changed, bool forgetSeen)
{
    return m_runner->inTransaction([&] {
        const std::optional<int> rows = TaskRows(*m_runner).update(task, changed);
        if (!rows)
            return false;
        if (*rows == 0)
            return m_runner->fail(
                tr("the task %1 is no longer in %2").arg(task.name(), QFileInfo(fileName()).fileName()));
        return (!forgetSeen || SeenLinkRows(*m_runner).removeOf(task.taskId())) &&
               OptionRows(*m_runner).replace(task.taskId(), changed.options);
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
               (events.isEmpty() || m_news.addInside(events, &dropped));
    });
    if (stored)
        m_news.committed(dropped);
    return stored;
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

bool TaskDatabase::removeSeenLinks(int taskId)
{
    return m_runner->inTransaction([&] { return SeenLinkRows(*m_runner).removeOf(taskId); });
}

bool TaskDatabase::setTaskOption(int taskId, const QString& name, const QString& value)
{
    return m_runner->inTransaction([&] { return OptionRows(*m_runner).set(taskId, name, value); });
}

bool TaskDatabase::setTaskOptions(const QList<OptionChange>& changes)
{
    if (changes.isEmpty())
        return m_runner->succeed();
    return m_runner->inTransaction([&] { return OptionRows(*m_runner).setAll(changes); });
}

std::optional<ResultRows::Summary> TaskDatabase::countResults()
{
    return ResultRows(*m_runner).summarize();
}

bool TaskDatabase::indexesMissing()
{
    return Schema::indexesMissing(*m_runner);
}
