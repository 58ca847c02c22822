// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/task.h"

#include <QHash>

#include <optional>

class SqlRunner;

// The rows of the results table. Every write runs inside the caller's transaction.
class ResultRows
{
public:
    explicit ResultRows(SqlRunner& runner) : m_runner(runner) {}

    // Fills the lists of the task ids in byTask with their records, newest first; rows of other ids stay in
    // the file unloaded. False when the table could not be read.
    bool loadInto(QHash<int, Task::ResultList>& byTask);
    // Whether the result's own task holds a row with the same text and link.
    std::optional<bool> stored(const Task::TaskResult& result);
    // Every record, under the task id, even those stored already.
    bool insertAll(const Task::ResultList& results, int taskId);
    // The records their task does not hold yet.
    bool insertNew(const Task::ResultList& results);
    bool setStates(const Task::ResultList& results, int state);
    bool markRead(int taskId);
    bool remove(const Task::ResultList& results);
    bool removeOf(int taskId);
    bool removeAll();
    // Every result dated more than `days` days before `today`.
    bool removeOld(int days, const QDate& today);

private:
    // Every record under underId, or without it the new ones under their own task id.
    bool insert(const Task::ResultList& results, std::optional<int> underId);

    SqlRunner& m_runner;
};
