// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

#include <QHash>
#include <QVariant>

#include <optional>

class QSqlQuery;
class SqlRunner;

// The rows of the results table. Every write runs inside the caller's transaction.
class ResultRows
{
public:
    explicit ResultRows(SqlRunner& runner) : m_runner(runner) {}

    // What the table holds per task id, read as a number the way a record's task id is: the unread records, the
    // values of the taskid column that read as the id (the id itself, and in a file another program wrote
    // perhaps NULL or a text), and the largest row number of the table.
    struct Summary
    {
        QHash<int, int> unread;
        QHash<int, QVariantList> keys;
        qint64 lastRow = 0;
    };
    std::optional<Summary> summarize();
    // The largest row number of the table (0 when it is empty), read from its end.
    std::optional<qint64> lastRow();
    // What loadOf() learns once for the calls after it: parsing a date text is the dearest step per row, and a file
    // holds few distinct dates; and whether the file keeps the times results were found (it does not gain them while
    // open: a writable file has them from its opening on).
    struct Known
    {
        QHash<QString, QDate> dates;
        std::optional<bool> times;
    };
    // The records of the rows whose taskid is one of keys, under the task id, newest first.
    std::optional<Task::ResultList> loadOf(const QVariantList& keys, int taskId, Known& known);
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
    // Whether the file keeps the times results were found (see the schema's additions).
    bool hasTimes();
    // The same, through byLink, which is prepared at its first use and used again by later calls.
    std::optional<bool> stored(const Task::TaskResult& result, QSqlQuery& byLink);
    // Every record under underId, or without it the new ones under their own task id.
    bool insert(const Task::ResultList& results, std::optional<int> underId);

    SqlRunner& m_runner;
};
