// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"
#include "engine/definition/taskdefinition.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

class SqlRunner;

// The rows of the tasks table. Every function but loadAll() runs inside the caller's transaction.
class TaskRows
{
public:
    explicit TaskRows(SqlRunner& runner) : m_runner(runner) {}

    // A row that is not loaded (it stays in the file): its row id and why, "column: reason".
    struct Refusal
    {
        int rowId = 0;
        QString reason;
    };
    // Every row as a task without results or options; the caller owns them. nullopt when unreadable. A row
    // whose task_id is not an integer of the program's range (a text, a blob, a real, NULL: another program
    // wrote it) is refused, since it cannot be told apart from the task whose id it would read as, and would
    // be given that task's options.
    std::optional<QList<Task*>> loadAll(QList<Refusal>* refused = nullptr);
    // Whether a row holds the task's keyword and address (compared as loading reads them).
    std::optional<bool> stored(const Task& task);
    // Whether a row carries the task id (as loading reads it).
    std::optional<bool> storedId(int taskId);
    // Every task id in use in the tasks and results tables, read the way loading reads them.
    std::optional<QSet<int>> usedIds();
    // The preferred id when no row uses it, else one more than the largest used; taken into used.
    static int freeId(int preferred, QSet<int>& used);
    // A new row for the task under the id; its row id, or nullopt.
    std::optional<int> insert(const Task& task, int taskId);
    // Writes the changed name, address, keyword and frequency into the task's row (every row of its id when its
    // row is not known); the number of rows changed, or nullopt.
    std::optional<int> update(const Task& task, const TaskDefinition& changed);
    // Stores the task's lastUpdate (in local time without an offset) in every row of its id.
    bool setLastUpdate(const Task& task);
    // The task's own row goes (every row of its id when its row is not known).
    bool remove(const Task& task);
    bool removeAll();

private:
    SqlRunner& m_runner;
};
