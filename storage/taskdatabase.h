// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"
#include "engine/matching/seenlinks.h"
#include "storage/deferredwork.h"
#include "storage/newsstore.h"
#include "storage/optionrows.h"
#include "storage/outboxrows.h"
#include "storage/removedrows.h"
#include "storage/resultrows.h"
#include "storage/taskrows.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class SqlRunner;

// The program's door to task.db: each operation is one transaction over the row classes of the tables
// (storage/*rows.h), on one connection (storage/sqlrunner.h), in a file brought up to date when it is
// opened (storage/schema.h). Every write returns false when it did not reach the file; lastError() then says why.
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

    // Whether the indexes over the results (seconds of work on a file of millions) are built as the file is
    // opened, or left for runDeferredSteps().
    enum class IndexBuild
    {
        AtOpen,
        Deferred
    };

    explicit TaskDatabase(const QString& fileName = QStringLiteral("task.db"));
    TaskDatabase(const QString& fileName, OpenMode mode, IndexBuild indexes = IndexBuild::AtOpen);
    ~TaskDatabase();
    TaskDatabase(const TaskDatabase&) = delete;
    TaskDatabase& operator=(const TaskDatabase&) = delete;

    // False when the file could not be opened as a database; the caller tells the user.
    bool isOpen() const;
    QString lastError() const;
    QString fileName() const;
    // Why the file could not be opened: SQLite's own words ("file is not a database"), or that a newer version
    // of the program wrote it; empty when it was opened.
    QString openFailure() const;

    // Every stored task with its results, newest result first; the caller owns the tasks. The rows that are
    // not loaded (see TaskRows::loadAll) are told in refused, and left in the file.
    QList<Task*> loadTasks(QList<TaskRows::Refusal>* refused = nullptr);
    // The same without reading the results table beyond its last row: each task's results cannot be read
    // (lastError() says they are being counted) until attachResults() gives them their source.
    QList<Task*> loadTasksUncounted(QList<TaskRows::Refusal>* refused = nullptr);
    // Gives tasks read on another connection (see runDeferredSteps) what loadTasksUncounted() gives its own: results
    // that cannot be read until attachResults(), and the numbering of new results after lastRow.
    void attachUncounted(const QList<Task*>& tasks, std::optional<qint64> lastRow);
    // Gives the tasks that cannot read their results yet the source and unread count the summary holds.
    void attachResults(const QList<Task*>& tasks, const ResultRows::Summary& summary);
    // What the results table holds per task id (see ResultRows::summarize), read on this connection.
    std::optional<ResultRows::Summary> countResults();
    // Whether an index over the results table is missing (and runDeferredSteps() would build it).
    bool indexesMissing();

    bool taskExists(const Task* task);

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
    // Writes the changed name, address, keyword and frequency into the task's row, in one statement, and the
    // changed options in place of those stored; with forgetSeen the links recorded as seen for it go as well.
    // One transaction. The task itself is not touched: it is changed once task.db holds the change.
    bool updateTask(const Task& task, const TaskDefinition& changed, bool forgetSeen);
    // Marks every result of the task id read, in one statement.
    bool markTaskResultsRead(int taskId);
    // In one transaction: every result of the task id goes, then the records the task does not hold yet
    // (the same text and link) are inserted. The seen links are left as they are. On a failure nothing changes.
    bool replaceTaskResults(int taskId, const Task::ResultList& results);
    // The same, and the task's seen links become exactly seenLinks (only the difference is written).
    bool replaceTaskResults(int taskId, const Task::ResultList& results, const QStringList& seenLinks);
    // The findings of many checks in one transaction, all or nothing: each change's new results as
    // replaceTaskResults stores them, and its seen-link differences.
    bool storeChanges(const QList<TaskChange>& changes);
    // Stores the task's own lastUpdate (the time of its check, as the caller's clock gave it).
    bool updateLastUpdate(const Task* task);
    // Sets the state of every given result (matched by task id, text and link) in one statement per
    // task and thousands of results, all in one transaction: all of them change, or none.
    bool updateResultStates(const Task::ResultList& results, int state);
    // Each removal gives the rows it took, of every table, in removed when one is given; restoreRows() puts
    // them back.
    bool removeTask(const Task* task, RemovedRows* removed = nullptr);
    bool removeTaskResults(int taskId, RemovedRows* removed = nullptr);
    // The given results in one transaction: all of them go, or none.
    bool removeResults(const Task::ResultList& results, RemovedRows* removed = nullptr);
    bool removeAllTasks(RemovedRows* removed = nullptr);
    // Puts back, in one transaction, the rows a removal took, with their row ids. Refused when a task of them
    // would clash with one stored since (its task id given to another task, or the same keyword and address);
    // a result whose task holds the same text and link again is not put back twice.
    bool restoreRows(const RemovedRows& removed);
    // Deletes every result dated more than `days` days before `today`.
    bool removeOldResults(int days, const QDate& today);

    // The links recorded as seen at the task's last check: nullopt when they could not be read, an empty
    // set when none are recorded.
    std::optional<QSet<QString>> seenLinks(int taskId);
    // Forgets every recorded link, so that every task starts afresh at its next check.
    bool removeAllSeenLinks();
    // The same for one task.
    bool removeSeenLinks(int taskId);

    // Sets (or, with an empty value, removes) one option of the task, in one statement.
    bool setTaskOption(int taskId, const QString& name, const QString& value);
    using OptionChange = OptionRows::Change;
    // Many options set or removed as setTaskOption does, in one transaction: all of them, or none.
    bool setTaskOptions(const QList<OptionChange>& changes);

    // The news of a stored change, as events for the outbox (none when the news goes nowhere). Called by
    // storeChanges() inside its transaction for every change with new results, so an event is written with the
    // results it tells of, or neither is.
    using NewsSource = std::function<QList<OutboxEvent>(const TaskChange&)>;
    void setNewsSource(NewsSource source) { m_newsSource = std::move(source); }
    // The outbox, on this connection.
    NewsStore& news() { return m_news; }

private:
    struct Batch;
    QList<Task*> loadAll(QList<TaskRows::Refusal>* refused, bool counted);
    // The rows of one new task, inside the caller's transaction; *rowId stays 0 when it is stored already.
    // usedIds holds every id in use, read once per transaction, and takes the new one.
    bool insertTaskRows(const Task& task, const QStringList& seenLinks, QSet<int>& usedIds, int* taskId, int* rowId);
    // Both replaceTaskResults; the seen links are left alone when seen is null.
    bool replaceResults(int taskId, const Task::ResultList& results, const QStringList* seen);

    // Shared so that the tasks loaded can read their results later, for as long as the connection lives.
    std::shared_ptr<SqlRunner> m_runner;
    std::unique_ptr<Batch> m_batch;
    NewsStore m_news;
    NewsSource m_newsSource;
};
