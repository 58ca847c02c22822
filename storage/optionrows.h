// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QString>

class SqlRunner;
class Task;

// The rows of the task_options table (a task's settings beyond the columns of the tasks table, one row per
// name) and of task_owners (which row of the tasks table owns the seen links and options of a task id).
// Every write runs inside the caller's transaction.
class OptionRows
{
public:
    struct Change
    {
        int taskId = 0;
        QString name;
        QString value; // empty: the option is removed
    };

    explicit OptionRows(SqlRunner& runner) : m_runner(runner) {}

    // Every task id's options; empty when the table cannot be read (a file of an older copy, read-only).
    QHash<int, QHash<QString, QString>> loadAll();
    // Gives each task the options stored for its id. Without an options table (a file written by an older copy,
    // opened read-only) the tasks keep none.
    void giveTo(const QList<Task*>& tasks);
    // The task's options become exactly these; an empty value is an option not set.
    bool replace(int taskId, const QHash<QString, QString>& options);
    // Sets (or, with an empty value, removes) one option.
    bool set(int taskId, const QString& name, const QString& value);
    // Many options set or removed as set() does, through statements prepared once.
    bool setAll(const QList<Change>& changes);
    // The task id's options and its owner go.
    bool removeOf(int taskId);
    bool removeAll();
    // Notes the row of the tasks table that owns the seen links and options of the task id.
    bool recordOwner(int taskId, int rowId);

private:
    SqlRunner& m_runner;
};
