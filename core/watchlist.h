// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/clock.h"
#include "engine/definition/task.h"
#include "engine/definition/taskdefinition.h"
#include "engine/matching/seenlinks.h"
#include "storage/optionrows.h"
#include "storage/outboxrows.h"
#include "storage/removedrows.h"
#include "storage/resultrows.h"
#include "storage/taskrows.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class NewsStore;
class TaskDatabase;

// The watch list: the tasks of task.db as the program holds them, their list and ids, the rule against two tasks
// watching the same, and every change of tasks and their results, each stored before it is shown. It is the one
// door to task.db: the checks and commands store what they find through it. The views follow the signals below
// and need nothing else of the core.
//
// While an import holds task.db's transaction (setImporting) every write is refused with lastError() saying
// why; what was asked stays as it was, in memory and in task.db.
class WatchList : public QObject
{
    Q_OBJECT

public:
    // Whether the indexes over the results (seconds of work on a file of millions) are built as the file is
    // opened, or left for the start's work beside the window (see DeferredStart).
    enum class IndexBuild
    {
        AtOpen,
        Deferred
    };
    // Opens the file (see isOpen()) and owns it.
    explicit WatchList(const QString& fileName, IndexBuild indexes = IndexBuild::AtOpen, QObject* parent = nullptr);
    // Over a task.db the caller keeps.
    explicit WatchList(TaskDatabase& db, QObject* parent = nullptr);
    ~WatchList() override;

    // False when the file could not be opened as a database; openFailure() says why, in SQLite's words.
    bool isOpen() const;
    QString fileName() const;
    QString openFailure() const;
    // The file itself, for what reads it as stored beside the program (benchmarks, tests).
    TaskDatabase& database() { return m_db; }

    const QList<Task*>& tasks() const { return m_tasks; }
    // Whether the task is one of tasks(). The task must be alive (a QPointer that still holds it, or a task just
    // handed over): a removed task is deleted at once, and another may take its place in memory.
    bool contains(const Task* task) const;
    // Why the latest of this watch list's operations was refused.
    QString lastError() const { return m_lastError; }
    // Loads the stored tasks. A row whose name, address or keyword does not pass the check is left in
    // task.db as it is but not loaded (it is never requested or shown); loadRefusal() says which and why.
    void loadTasks();
    // The same, without counting the stored results: each task's results cannot be read, and its unread count is
    // Task::UncountedResults, until attachCounts() gives it the counts (see DeferredStart).
    void loadTasksUncounted();
    // Gives the tasks loaded uncounted their results' source and unread count; without a summary (the counting
    // failed) they are counted here. Tells the views (countsArrived()).
    void attachCounts(const std::optional<ResultRows::Summary>& summary);
    QString loadRefusal() const { return m_loadRefusal; }
    // The tasks read that pass the check of loadTasks(), the others deleted; refusal says which were not loaded
    // and why (empty when all were). Touches nothing of a watch list, so it runs on any thread.
    struct Screened
    {
        QList<Task*> tasks;
        QString refusal;
    };
    static Screened screen(const QList<Task*>& loaded, const QList<TaskRows::Refusal>& refusedRows);
    // Takes the screened tasks as loaded ones (after those held) and tells the views (tasksLoaded()).
    void adopt(const Screened& screened);
    // Set while task.db is being prepared beside the window (see DeferredStart): writes are refused meanwhile.
    void setPreparing(bool on) { m_preparing = on; }
    bool isPreparing() const { return m_preparing; }
    // Another task watching the address for the keyword, the keyword compared as the keyword test compares
    // texts (ignoring case); nullptr when there is none. The task being edited (except) is never its own
    // duplicate, and one whose address and keyword are kept never fails the test: an older file may hold
    // tasks that differ only in the keyword's capitals.
    const Task* duplicateOf(const QString& address, const QString& keyword, const Task* except = nullptr) const;
    // The id the described count rule gives a new task: the number of tasks, unless a task has it.
    int nextTaskId() const;

    // Set while an import stores its tasks in one transaction: the writes below are refused meanwhile.
    void setImporting(bool on) { m_importing = on; }
    bool isImporting() const { return m_importing; }

    // Reads the task's stored results unless it holds them (see Task::results()): before any of them is written, as
    // what is read afterwards would already show the change, and before a page is compared with them. False, with
    // lastError() saying why, when task.db could not give them.
    bool resultsRead(Task* task);

    // On a refusal of task.db (or during an import) these return false, lastError() says why and nothing
    // changes, in memory or in task.db.
    bool removeTask(Task* task);
    bool removeAllTasks();
    // Marks the given results of the task read (those already read, or not the task's, are skipped).
    bool markRead(Task* task, const Task::ResultList& results);
    // Every result of the task read.
    bool markAllRead(Task* task);
    // Removes the given results of the task.
    bool removeResults(Task* task, const Task::ResultList& results);
    // Removes every result of the task.
    bool removeTaskResults(Task* task);
    // Deletes every result dated before today minus the given number of days from task.db (run at start-up,
    // before the tasks are loaded).
    bool removeOldResults(int days, const QDate& today);
    // Every removal above can be taken back, the latest first, until the program ends: undo() puts back in
    // task.db and in memory exactly what it took (the task's id and row, its results with their states, dates
    // and times, options and seen links). What the latest removal took, in words ("Task Jobs and its 134 results"),
    // empty when there is nothing to undo. undo() is refused (false, lastError()) when what it would put back
    // clashes with a task made since, and the removal then stays to be undone.
    bool canUndo() const { return !m_removals.empty(); }
    QString undoText() const { return m_removals.empty() ? QString() : m_removals.back().what; }
    bool undo();
    // The tasks the latest undo() put back (none when it put back results), in the order of tasks().
    QList<Task*> restoredTasks() const { return m_restored; }

    // Writes the task's new definition (its options all of those the task is to hold) to its row, then takes
    // it over. pageChanged forgets the links seen of the old page in task.db.
    bool changeTask(Task* task, const TaskDefinition& changed, bool pageChanged);

    // The clock results found today are stamped by (not owned); without one no times are stamped.
    void setClock(const Clock* clock) { m_clock = clock; }
    QDateTime now() const { return m_clock ? m_clock->now() : QDateTime(); }

    // What the checks and commands did with a task, told to the views. Results found today get the time of
    // day of now() unless they carry one.
    void add(Task* task);
    void appendResults(Task* task, const Task::ResultList& results);
    void setResults(Task* task, const Task::ResultList& results);
    void reportCheckState(Task* task) { emit checkStateChanged(task); }
    // A task's option was stored elsewhere (a pause or a mute): the views show it afresh.
    void reportTaskChanged(Task* task) { emit taskChanged(task); }
    // Gives the results found today that carry no time the time of day of now().
    void stampTimes(const Task::ResultList& results) const;
    // The one gate of every write: false (with lastError()) while an import holds task.db, or while it is being
    // prepared.
    bool writable();

    // What the checks and commands store of their tasks. Each returns false (nullopt) when task.db refused it,
    // with lastError() saying why; nothing in memory is changed here, the caller takes over what was stored.
    // Whether a task with the task's keyword and address is in the file, also one this list does not hold.
    bool isStored(const Task* task);
    // A new task with its results and the links its page showed (see TaskDatabase::insertTask).
    bool storeNew(Task* task, const QStringList& seenLinks);
    // Many new tasks in one transaction held open from beginBatch() to commitBatch(): all or none.
    bool beginBatch();
    bool addToBatch(Task* task, const QStringList& seenLinks);
    bool commitBatch();
    void rollbackBatch();
    // One option of the task set (an empty value removes it), or many options of many tasks in one transaction.
    bool storeOption(const Task* task, const QString& name, const QString& value);
    bool storeOptions(const QList<OptionRows::Change>& changes);
    // The findings of many checks, all or none (see TaskDatabase::storeChanges).
    bool storeChanges(const QList<TaskChange>& changes);
    // The task's own lastUpdate.
    bool storeCheckTime(const Task* task);
    // Every result of the task replaced by these; with seenLinks, its seen links become exactly those.
    bool replaceResults(const Task* task, const Task::ResultList& results, const QStringList* seenLinks = nullptr);
    // The links recorded as seen at the task's last check; nullopt when they could not be read.
    std::optional<QSet<QString>> seenLinks(const Task* task);
    // Forgets the links recorded as seen for the task, or for every task when none is given.
    bool forgetSeenLinks(const Task* task = nullptr);
    // Whether an index over the results is missing (and the start's work beside the window builds it).
    bool indexesMissing();
    // Takes tasks read on another connection (see DeferredStart) as loadTasksUncounted() loads them, results
    // numbered after lastRow, then as adopt() does.
    void adoptRead(const Screened& screened, std::optional<qint64> lastRow);
    // The news of every change with new results stored through storeChanges(), told of the change's task and
    // written into the outbox in the change's transaction.
    using NewsSource = std::function<QList<OutboxEvent>(const Task&, const Task::ResultList&)>;
    void setNewsSource(NewsSource source);
    // task.db's outbox, for the delivery of news.
    NewsStore& newsStore();

signals:
    // loadTasks() replaced the list of tasks.
    void tasksLoaded();
    // The tasks loaded uncounted got their unread counts.
    void countsArrived();
    // A task was appended to tasks().
    void taskAdded(Task* task);
    // A task left tasks(); it is deleted right after this signal.
    void taskRemoved(Task* task);
    // tasks() became empty; the tasks are deleted right after this signal.
    void allTasksRemoved();
    // The task's name, address, keyword, frequency or options changed.
    void taskChanged(Task* task);
    // The task's list of results changed: results were added, removed or replaced.
    void resultsChanged(Task* task);
    // The results at these positions of the task's list changed their state.
    void resultStatesChanged(Task* task, const QList<int>& indexes);
    // A task's last check failed or succeeded again.
    void checkStateChanged(Task* task);
    // A removal was made or undone: undoText() changed.
    void undoChanged();

private:
    void load(bool counted);
    bool refusedBy(bool stored);
    // The positions in the task's list of those of the results that are the task's, each once, in list order.
    static QList<int> positionsOf(const Task* task, const Task::ResultList& results);

    // What one removal took, to be put back by undo().
    struct Removal
    {
        QString what;
        RemovedRows rows;
        // Removed tasks: their rows in task.db and their places in tasks(), in list order.
        QList<int> taskRows;
        QList<int> positions;
        // Removed results: their task's row and id, its list before and the records removed.
        int ownerRow = 0;
        int ownerId = 0;
        Task::ResultList before;
        Task::ResultList removed;
    };
    void remember(Removal removal);
    // The results of a removal put back into their task's list where they were.
    void putBackResults(const Removal& removal);
    static QString resultsText(int count);

    std::unique_ptr<TaskDatabase> m_owned;
    TaskDatabase& m_db;
    QList<Task*> m_tasks;
    // The tasks of m_tasks by their rows in task.db (every task listed is stored, and a row is one task), for
    // contains() in constant time.
    QHash<int, Task*> m_byRow;
    std::vector<Removal> m_removals;
    QList<Task*> m_restored;
    bool m_importing = false;
    bool m_preparing = false;
    const Clock* m_clock = nullptr;
    QString m_lastError;
    QString m_loadRefusal;
    NewsSource m_newsSource;
    // While storeChanges() writes: the task of each change with new results, by its id (the first listed).
    QHash<int, const Task*> m_newsTasks;
};
