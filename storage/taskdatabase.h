// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/seenlinks.h"
#include "engine/task.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <tuple>

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
    QString fileName() const { return m_fileName; }
    // SQLite's own words for why the file could not be opened ("file is not a database"); empty when it was.
    QString openFailure() const { return m_openFailure; }

    bool createConnection();
    void createTables();
    // Tasks that share a task_id (an older copy's numbering can leave them) get ids of their own, in one
    // transaction: every row after the first takes a new id and a copy of the results and seen links the
    // shared id held, so each task keeps what it showed. Run when the file is opened, before any other write.
    bool separateSharedTaskIds();
    // Binds the seen links and options of every task id to the row of the tasks table that carries it, in one
    // transaction: rows whose task is gone (removed by a copy that knows only tasks and results, even when
    // it gave the id to a new task since) are deleted, and the rows of the tasks stored now are taken over.
    // Run when the file is opened, before separateSharedTaskIds().
    bool bindRowsToTasks();

    // Every stored task with its results, newest result first; the caller owns the tasks.
    QList<Task*> loadTasks();
    bool taskExists(const Task* task);
    // Whether the result's own task holds a row with the same text and link.
    bool resultExists(const Task::TaskResult& result);

    // Stores a new task with all its results and the links its page showed. The id is chosen inside the
    // transaction, from the file: the task's own id when no task row and no leftover result carries it,
    // else one more than the largest id of either table. Seen-link rows left under that id are replaced.
    // After the commit the task and its records carry the chosen id. A task with the same keyword and
    // address stored already is no failure: nothing is written and nothing renumbered.
    bool insertTask(Task* task, const QStringList& seenLinks = {});
    // Many new tasks stored as they come, each as insertTask stores it, in one transaction held open from
    // beginTaskBatch() to commitTaskBatch(): all or none. Nothing else may write to the file meanwhile.
    // A task whose keyword and address are stored already is skipped (its rowId() stays 0); the tasks get
    // their ids once the batch is committed. A task added must outlive the batch.
    bool beginTaskBatch();
    bool addToTaskBatch(Task* task, const QStringList& seenLinks = {});
    bool commitTaskBatch();
    void rollbackTaskBatch();
    bool inTaskBatch() const { return m_batch.has_value(); }
    // Writes the task's name, address, keyword and frequency into its row, in one statement, and its options
    // in place of those stored; with forgetSeen the links recorded as seen for it go as well. One transaction.
    bool updateTask(const Task* task, bool forgetSeen);
    // Marks every result of the task id read, in one statement.
    bool markTaskResultsRead(int taskId);
    // Stores the records a task does not hold yet (see resultExists); all or nothing.
    bool insertResults(const Task::ResultList& results);
    // In one transaction: every result of the task id goes, then the records are inserted as insertResults
    // does. The seen links are left as they are. On a failure nothing changes.
    bool replaceTaskResults(int taskId, const Task::ResultList& results);
    // The same, and the task's seen links become exactly seenLinks (only the difference is written).
    bool replaceTaskResults(int taskId, const Task::ResultList& results, const QStringList& seenLinks);
    // The findings of many checks in one transaction, all or nothing: each change's new results as
    // insertResults stores them, and its seen-link differences.
    bool storeChanges(const QList<TaskChange>& changes);
    // Stores the task's own lastUpdate (the time of its check, as the caller's clock gave it).
    bool updateLastUpdate(const Task* task);
    bool updateResultState(const Task::TaskResult& result, int state);
    // Sets the state of every given result (matched as updateResultState matches one) in one statement per
    // task and thousands of results, all in one transaction: all of them change, or none.
    bool updateResultStates(const Task::ResultList& results, int state);
    bool removeTask(const Task* task);
    bool removeTaskResults(int taskId);
    bool removeResult(const Task::TaskResult& result);
    // The given results in one transaction: all of them go, or none.
    bool removeResults(const Task::ResultList& results);
    bool removeAllTasks();
    // Deletes every result dated more than `days` days before `today`.
    bool removeOldResults(int days, const QDate& today);

    // The links recorded as seen at the task's last check: nullopt when they could not be read, an empty
    // set when none are recorded.
    std::optional<QSet<QString>> seenLinks(int taskId);
    // False also when the lookup failed.
    bool hasSeenLinks(int taskId);
    // Forgets every recorded link, so that every task starts afresh at its next check.
    bool removeAllSeenLinks();

    // A task's options by name; empty when it has none. std::nullopt when the file could not be read.
    std::optional<QHash<QString, QString>> taskOptions(int taskId);
    // Sets (or, with an empty value, removes) one option of the task, in one statement.
    bool setTaskOption(int taskId, const QString& name, const QString& value);

private:
    // The rows of one new task, inside the caller's transaction; *inserted false when it is stored already.
    // usedIds holds every id in use, read once per transaction, and takes the new one.
    bool insertTaskRows(const Task& task, const QStringList& seenLinks, QSet<int>& usedIds, bool* inserted, int* taskId,
                        int* rowId);
    static void takeStoredIds(Task* task, int taskId, int rowId);
    // Both replaceTaskResults; the seen links are left alone when seen is null.
    bool replaceResults(int taskId, const Task::ResultList& results, const QStringList* seen);
    // Rows matched in SQL, compared again in C++; empty when the lookup itself failed.
    std::optional<bool> storedTask(const Task& task);
    std::optional<bool> storedResult(const Task::TaskResult& result);
    std::optional<bool> storedTaskId(int taskId);
    std::optional<QSet<int>> usedTaskIds();
    // The preferred id when no row uses it, else one more than the largest used; taken into used.
    static int freeTaskId(int preferred, QSet<int>& used);
    std::optional<int> largestTaskId();

    // Both run inside the caller's transaction. The first deletes every result carrying the task id; the
    // second inserts the records, skipping a link with the same text stored already.
    bool deleteResultsOf(int taskId);
    bool insertNewResults(const Task::ResultList& results);
    // Seen-link rows, inside the caller's transaction as well.
    std::optional<QSet<QString>> readSeenLinks(int taskId);
    bool deleteSeenLinksOf(int taskId);
    bool writeSeenChanges(const QList<TaskChange>& changes);
    // Option rows, inside the caller's transaction.
    bool deleteOptionsOf(int taskId);
    // Notes the row of the tasks table that owns the seen links and options of the task id.
    bool recordOwner(int taskId, int rowId);
    bool writeOptions(int taskId, const QHash<QString, QString>& options);

    bool ensureOpen();
    // Runs body in one write transaction, committed when body returns true; false (and lastError()) when the
    // transaction could not start or commit, or body failed, and then nothing of it is kept.
    bool inTransaction(const std::function<bool()>& body);
    bool prepare(QSqlQuery& query, const QString& statement);
    bool run(QSqlQuery& query);
    bool runStatement(const QString& statement, const QVariantList& values);
    void noteOpenFailure(const QSqlError& error);
    bool fail(const QSqlError& error);
    bool succeed();
    QString describe(const QSqlError& error) const;

    QString m_fileName;
    QString m_openFailure;
    OpenMode m_mode = OpenMode::ReadWrite;
    QSqlDatabase db;
    QString m_connectionName;
    bool m_open = false;
    QString m_lastError;
    struct Batch
    {
        QSet<int> usedIds;
        QList<std::tuple<Task*, int, int>> stored; // task, task id, row id
    };
    std::optional<Batch> m_batch;
};
