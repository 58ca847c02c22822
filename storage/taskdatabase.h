// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/task.h"

#include <QCoreApplication>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <optional>

class QSqlError;
class QSqlQuery;

// The one owner of the SQLite connection to task.db and the only place that issues SQL.
// Every write returns false when it did not reach the file; lastError() then says why.
class TaskDatabase
{
    Q_DECLARE_TR_FUNCTIONS(TaskDatabase)

public:
    // ReadOnly opens the file without ever writing to it (for inspecting a file, and for tests of
    // how writes fail on a file that cannot be written).
    enum class OpenMode
    {
        ReadWrite,
        ReadOnly
    };

    explicit TaskDatabase(const QString& fileName = QStringLiteral("task.db"));
    TaskDatabase(const QString& fileName, OpenMode mode);
    ~TaskDatabase();
    TaskDatabase(const TaskDatabase&) = delete;
    TaskDatabase& operator=(const TaskDatabase&) = delete;

    // False when the file could not be opened as a database; the caller tells the user.
    bool isOpen() const { return m_open; }
    QString lastError() const { return m_lastError; }

    bool createConnection();
    void createTables();

    // Every stored task with its results, newest result first; the caller owns the tasks.
    QList<Task*> loadTasks();
    bool taskExists(const Task* task);
    bool resultExists(const Task::TaskResult& result);

    bool insertTask(const Task* task);
    bool insertResults(const Task::ResultList& results);
    // In one transaction: every result of the task id goes, then the records are inserted as insertResults
    // does. On a failure nothing changes.
    bool replaceTaskResults(int taskId, const Task::ResultList& results);
    bool updateLastUpdate(const Task* task);
    bool updateResultState(const Task::TaskResult& result, int state);
    bool removeTask(const Task* task);
    bool removeTaskResults(int taskId);
    bool removeResult(const Task::TaskResult& result);
    bool removeAllTasks();
    bool removeOldResults(int days);

private:
    // Rows matched in SQL, compared again in C++; empty when the lookup itself failed.
    std::optional<bool> storedTask(const Task& task);
    std::optional<bool> storedResult(const Task::TaskResult& result);
    std::optional<bool> storedTaskId(int taskId);

    // Both run inside the caller's transaction. The first deletes every result carrying the task id; the
    // second inserts the records, skipping a link with the same text stored already.
    bool deleteResultsOf(int taskId);
    bool insertNewResults(const Task::ResultList& results);

    bool ensureOpen();
    bool prepare(QSqlQuery& query, const QString& statement);
    bool run(QSqlQuery& query);
    bool runStatement(const QString& statement, const QVariantList& values);
    bool fail(const QSqlError& error);
    bool succeed();
    QString describe(const QSqlError& error) const;

    QString m_fileName;
    OpenMode m_mode = OpenMode::ReadWrite;
    QSqlDatabase db;
    QString m_connectionName;
    bool m_open = false;
    QString m_lastError;
};
