// SPDX-License-Identifier: GPL-3.0-or-later
// The removals of tasks and results, each keeping the rows it took, and the undo that puts those rows back.
#include "storage/taskdatabase.h"

#include "storage/optionrows.h"
#include "storage/removedrows.h"
#include "storage/resultrows.h"
#include "storage/seenlinkrows.h"
#include "storage/sqlrunner.h"
#include "storage/taskrows.h"

namespace {
// A result put back is one its task does not hold again.
const QStringList kSameResult{QStringLiteral("taskid"), QStringLiteral("text"), QStringLiteral("link")};

// What removing a task id's rows takes: its results (with their times), seen links, options and owner; condition
// names the column of the task id as %1.
bool takeRowsOf(RemovedRows& removed, SqlRunner& runner, const QString& condition, const QVariantList& values)
{
    const QString results = condition.arg(QStringLiteral("taskid"));
    return removed.take(runner, QStringLiteral("results"), results, values, kSameResult) &&
           removed.take(runner, QStringLiteral("result_times"),
                        QStringLiteral("result_id IN (SELECT id FROM results WHERE %1)").arg(results), values) &&
           removed.take(runner, QStringLiteral("seen_links"), condition.arg(QStringLiteral("taskid")), values) &&
           removed.take(runner, QStringLiteral("task_options"), condition.arg(QStringLiteral("task_id")), values) &&
           removed.take(runner, QStringLiteral("task_owners"), condition.arg(QStringLiteral("task_id")), values);
}
} // namespace

bool TaskDatabase::removeTask(const Task* task, RemovedRows* removed)
{
    if (!task)
        return m_runner->succeed();
    const int taskId = task->taskId();
    RemovedRows taken;
    const bool done = m_runner->inTransaction([&] {
        TaskRows tasks(*m_runner);
        const std::optional<bool> stored = tasks.storedId(taskId);
        if (!stored)
            return false;
        if (!*stored)
            return true; // not stored: its id's results, if any, stay
        const bool byRow = task->rowId() > 0;
        if (removed && !taken.take(*m_runner, QStringLiteral("tasks"),
                                   byRow ? QStringLiteral("id = ?") : QStringLiteral("task_id = ?"),
                                   {byRow ? task->rowId() : taskId}))
            return false;
        // The task's own row goes; its results, seen links and options once no other task row carries the id.
        if (!tasks.remove(*task))
            return false;
        const std::optional<bool> shared = tasks.storedId(taskId);
        if (!shared)
            return false;
        if (*shared)
            return true;
        return (!removed || takeRowsOf(taken, *m_runner, QStringLiteral("%1 = ?"), {taskId})) &&
               ResultRows(*m_runner).removeOf(taskId) && SeenLinkRows(*m_runner).removeOf(taskId) &&
               OptionRows(*m_runner).removeOf(taskId);
    });
    if (done && removed)
        *removed = std::move(taken);
    return done;
}

bool TaskDatabase::removeTaskResults(int taskId, RemovedRows* removed)
{
    RemovedRows taken;
    const bool done = m_runner->inTransaction([&] {
        return (!removed ||
                (taken.take(*m_runner, QStringLiteral("results"), QStringLiteral("taskid = ?"), {taskId},
                            kSameResult) &&
                 taken.take(*m_runner, QStringLiteral("result_times"),
                            QStringLiteral("result_id IN (SELECT id FROM results WHERE taskid = ?)"), {taskId}))) &&
               ResultRows(*m_runner).removeOf(taskId);
    });
    if (done && removed)
        *removed = std::move(taken);
    return done;
}

bool TaskDatabase::removeResults(const Task::ResultList& results, RemovedRows* removed)
{
    RemovedRows taken;
    const bool done = m_runner->inTransaction([&] {
        if (removed) {
            // The rows the removal matches, as ResultRows::remove matches them.
            const QString match = QStringLiteral("taskid = ? AND text = ? AND link = ?");
            for (const Task::ResultPtr& result : results) {
                const QVariantList values{result->taskId, sqlText(result->text), sqlText(result->link)};
                if (!taken.take(*m_runner, QStringLiteral("results"), match, values, kSameResult) ||
                    !taken.take(*m_runner, QStringLiteral("result_times"),
                                QStringLiteral("result_id IN (SELECT id FROM results WHERE %1)").arg(match), values))
                    return false;
            }
        }
        return ResultRows(*m_runner).remove(results);
    });
    if (done && removed)
        *removed = std::move(taken);
    return done;
}

bool TaskDatabase::removeAllTasks(RemovedRows* removed)
{
    RemovedRows taken;
    const bool done = m_runner->inTransaction([&] {
        return (!removed || (taken.take(*m_runner, QStringLiteral("tasks")) &&
                             takeRowsOf(taken, *m_runner, QStringLiteral("%1 IS %1"), {}))) &&
               TaskRows(*m_runner).removeAll() && ResultRows(*m_runner).removeAll() &&
               SeenLinkRows(*m_runner).removeAll() && OptionRows(*m_runner).removeAll();
    });
    if (done && removed)
        *removed = std::move(taken);
    return done;
}

bool TaskDatabase::restoreRows(const RemovedRows& removed)
{
    return m_runner->inTransaction([&] {
        const QVariantList taskIds = removed.column(QStringLiteral("tasks"), QStringLiteral("task_id"));
        const QVariantList names = removed.column(QStringLiteral("tasks"), QStringLiteral("name"));
        const QVariantList addresses = removed.column(QStringLiteral("tasks"), QStringLiteral("address"));
        const QVariantList keywords = removed.column(QStringLiteral("tasks"), QStringLiteral("grabtext"));
        TaskRows tasks(*m_runner);
        for (qsizetype i = 0; i < taskIds.size(); ++i) {
            Task stored(
                taskIds.at(i).toInt(),
                {names.value(i).toString(), addresses.value(i).toString(), keywords.value(i).toString(), 0, {}});
            const std::optional<bool> idTaken = tasks.storedId(stored.taskId());
            const std::optional<bool> same = tasks.stored(stored);
            if (!idTaken || !same)
                return false;
            if (*idTaken)
                return m_runner->fail(tr("its task id %1 was given to another task since").arg(stored.taskId()));
            if (*same)
                return m_runner->fail(
                    tr("a task with the keyword %1 on %2 was created since").arg(stored.keyword(), stored.address()));
        }
        return removed.restore(*m_runner);
    });
}
