// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/announcement.h"
#include "core/clock.h"
#include "core/commandguard.h"
#include "core/pagesource.h"
#include "core/taskexchange.h"
#include "engine/pagefetcher.h"
#include "engine/pagerenderrunner.h"
#include "engine/seenlinks.h"
#include "engine/task.h"
#include "engine/taskdefinition.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <optional>

class QEventLoop;
class TaskDatabase;

// The tasks and everything done with them that needs no window: which tasks fall due, the background
// checks, update-all, reset and creation with their waits, taking delivered results over and storing
// them. The window shows what it reports; tests drive it without a window.
//
// Every wait runs the event loop (the periodic checks and their deliveries go on meanwhile) and holds
// guard(), so no other waiting command starts inside it. A task removed during a wait is never touched
// after it. What a check finds is taken over, stored and reported as soon as its page has arrived.
// Findings count as seen only once stored: what could not be stored is kept and stored first by the
// task's next take-over of any kind.
class TaskChecker : public QObject
{
    Q_OBJECT

public:
    // Why a check of a task's page gave nothing, for the task list and the status bar.
    struct PageFailure
    {
        QString reason; // "HTTP 404", "Connection refused", ...
        int inRow = 0;  // checks that failed one after another
    };
    // The task options that keep a failing task's mark across restarts: the reason and the failures in a row.
    static constexpr const char* FailureOption = "check_failure";
    static constexpr const char* FailuresInRowOption = "check_failures_in_row";
    // The longest wait between the periodic checks of a failing task, unless its frequency is longer.
    static constexpr qint64 MaxBackoffSeconds = 3600;
    struct DueRun
    {
        QList<Task*> started; // tasks whose check was started, in list order
    };
    struct UpdateRun
    {
        bool ran = false;     // false: dropped, another command was running or no task exists
        bool aborted = false; // ended by abortWaits()
        // Ended by cancelWait(): the pages read by then are taken over as usual, those still awaited are dropped.
        bool cancelled = false;
        int unread = 0; // the pages still awaited when the wait was cancelled
        bool anyNew = false;
        bool unstoredNew = false; // new results were found but task.db did not take them (kept for later)
        int failedPages = 0;      // pages that could not be downloaded
        QString storageFailure;   // set when new results could not be stored
        QList<TaskNews> news;     // the tasks that got new results and those results, in list order
    };
    enum class Outcome
    {
        Done,
        Dropped,     // another command was running
        Aborted,     // ended by abortWaits()
        Cancelled,   // ended by cancelWait(): nothing changed
        TaskGone,    // the task was removed during the wait
        FetchFailed, // the page could not be downloaded
        StoreFailed, // task.db refused the change; lastError() says why
        Exists,      // creation or edit: another task watches this address for this keyword
        Invalid      // creation or edit: the definition has a problem; lastError() names it
    };
    struct Created
    {
        Outcome outcome = Outcome::Done;
        Task* task = nullptr;  // the new task (Done or FetchFailed: created with what the page gave)
        QString failureReason; // why its page could not be downloaded
    };

    struct ImportRun
    {
        bool ran = false;       // false: dropped, another command was running
        bool aborted = false;   // ended by abortWaits(): nothing was imported
        bool cancelled = false; // ended by cancelWait(): nothing was imported
        int imported = 0;
        int duplicates = 0;     // skipped: another task (or an earlier one of the file) watches the same
        int failedPages = 0;    // imported with no results: the page could not be downloaded
        QString storageFailure; // set when task.db refused the tasks: nothing was imported
        QString refusal;        // set when a task of the file has a problem ("task 2, keyword: empty"): nothing
                                // was imported
        QList<Task*> created;   // in the order of the file
    };

    explicit TaskChecker(TaskDatabase& db, QObject* parent = nullptr);
    ~TaskChecker() override;

    // Not owned; the system clock when none is set.
    void setClock(const Clock* clock);
    QDateTime now() const;
    CommandGuard& guard() { return m_guard; }
    PageFetcher& fetcher() { return m_fetcher; }
    // Gets the pages of tasks that run their page's scripts.
    PageRenderRunner& renderer() { return m_renderer; }
    // Reads the pages on worker threads as they arrive.
    PageReader& reader() { return m_source.reader(); }
    QString lastError() const { return m_lastError; }

    const QList<Task*>& tasks() const { return m_tasks; }
    bool contains(const Task* task) const;
    // Loads the stored tasks. A row whose name, address or keyword does not pass the check is left in
    // task.db as it is but not loaded (it is never requested or shown); loadRefusal() says which and why.
    void loadTasks();
    QString loadRefusal() const { return m_loadRefusal; }

    // The periodic check run: every task whose check interval (its frequency, longer after failures: see
    // checkInterval) has passed since its last check is checked in the background; its last-update time becomes the
    // time of this check. What the check finds is taken over when its page arrives (resultsFound). An unreadable
    // last-update time counts as due, one later than now counts as now.
    DueRun checkDueTasks();
    // The moment the task falls due next, by the rule above.
    QDateTime dueTime(const Task* task) const;
    // Checks every task now, all pages at once, and takes the new results over in list order.
    UpdateRun updateAll();
    // Rebuilds the task's results from a fresh download; on any failure the old ones stay.
    Outcome resetResults(Task* task);
    // Downloads the new task's page (with the request headers of its options), stores the task with its
    // results and options and appends it to the list.
    Created createTask(const QString& name, const QString& address, const QString& grabText, int frequency,
                       const QHash<QString, QString>& options = {});
    // Changes what the task watches, in memory and in its row of task.db, keeping its id, date, results and
    // their states. A changed address or keyword forgets the links seen so far: the next check records the
    // page without reporting it. A changed frequency counts from the last check. Refused while a command
    // runs or without address or keyword (Dropped) and for a task removed meanwhile (TaskGone).
    // Options, when given, replace the task's own (its request headers); a new address or keyword also drops
    // the validators of the page last read.
    Outcome editTask(Task* task, const QString& name, const QString& address, const QString& grabText, int frequency,
                     const std::optional<QHash<QString, QString>>& options = std::nullopt);
    // Another task watching the address for the keyword, the keyword compared as the keyword test compares
    // texts (ignoring case); nullptr when there is none. The task being edited (except) is never its own
    // duplicate, and one whose address and keyword are kept never fails the test: an older file may hold
    // tasks that differ only in the keyword's capitals.
    const Task* duplicateOf(const QString& address, const QString& grabText, const Task* except = nullptr) const;
    // Every result of the task read, in memory and in task.db; false (and lastError()) when the file
    // refused, and then nothing changes.
    bool markAllRead(Task* task);
    // Creates the tasks of a file as creation does, all pages at once as update-all fetches them: the tasks
    // that come with results keep those instead. Duplicates are skipped and counted; everything is stored in
    // one transaction, so on a failure nothing is imported. Meanwhile no periodic check starts, the pages of
    // those running wait, and removals and read marking are refused.
    ImportRun importTasks(const QList<ExchangeTask>& tasks);
    // The id the described count rule gives a new task: the number of tasks, unless a task has it.
    int nextTaskId() const;

    // Start-up: deletes the results older than days when deleteOld is set, sets the new-links option and
    // loads the stored tasks. False when the deletion failed (lastError() says why); the tasks are loaded
    // then as well.
    bool start(bool deleteOld, int days, bool reportNewLinks);

    // Every change of tasks, results and seen links goes through the core, which tells the views by the
    // signals below. On a refusal of task.db lastError() says why and what was not stored stays as it was.
    bool removeTask(Task* task);
    bool removeAllTasks();
    // Marks the given results of the task read (those already read, or not the task's, are skipped).
    bool markRead(Task* task, const Task::ResultList& results);
    // Removes the given results of the task.
    bool removeResults(Task* task, const Task::ResultList& results);
    // Removes every result of the task.
    bool removeTaskResults(Task* task);
    // Deletes every result older than the given number of days from task.db (run at start-up, before the
    // tasks are loaded); on a failure nothing is deleted and lastError() says why.
    bool removeOldResults(int days);

    // Whether checks also report links that newly appear on a page. A feed's new items are always reported. Turned on
    // afresh (by the user), every task records its page's links at its first check without reporting them. False when
    // the seen links could not be forgotten: the option then stays as it was.
    bool setReportNewLinks(bool on, bool afresh = false);
    bool reportNewLinks() const { return m_reportNewLinks; }

    // Ends every wait running now at once (the program is quitting): downloads are aborted, nothing more is
    // stored by the commands that waited. A wait started afterwards runs as usual.
    void abortWaits();
    bool isAborting() const;
    // Ends the wait of the command running now (the user left it): its pages still awaited are dropped when
    // they come, the command stores nothing of them and returns as cancelled. Periodic checks go on.
    void cancelWait();
    // The addresses the running command still waits for, in the order they were asked for; empty when no
    // command waits.
    QStringList awaitedPages() const;

    // Why the task's last check failed; empty when it succeeded (or never ran).
    QString checkFailure(const Task* task) const;
    // How many of the task's checks failed one after another (0 after a success).
    int failuresInRow(const Task* task) const;
    // The seconds between the task's periodic checks: its frequency, doubled for each failure in a row up
    // to MaxBackoffSeconds or the frequency, whichever is larger.
    qint64 checkInterval(const Task* task) const;
    // Background checks that sent a request. A task whose previous check has not answered yet is not
    // checked again at the same time.
    int backgroundChecksStarted() const { return m_backgroundStarted; }
    // Whether findings of any task are waiting to be stored.
    bool hasUnstored() const;

signals:
    // loadTasks() replaced the list of tasks.
    void tasksLoaded();
    // A task was appended to tasks().
    void taskAdded(Task* task);
    // A task left tasks(); it is deleted right after this signal.
    void taskRemoved(Task* task);
    // tasks() became empty; the tasks are deleted right after this signal.
    void allTasksRemoved();
    // The task's name, address, keyword, frequency or options changed (editTask).
    void taskChanged(Task* task);
    // The task's list of results changed: results were added, removed or replaced.
    void resultsChanged(Task* task);
    // The results at these positions of the task's list changed their state.
    void resultStatesChanged(Task* task, const QList<int>& indexes);
    // A periodic check found new results; they are stored and appended to the task's results.
    void resultsFound(Task* task, const Task::ResultList& results);
    // Every page of a periodic run (and of the runs started while it waited) has been taken over: the tasks
    // that got new results, with those results, in the order of the task list. Once a run, and only with news.
    void runNewsFound(const QList<TaskNews>& news);
    // A periodic take-over could not store what it found (it is kept for the next one).
    void storageFailed(const QString& message);
    // A task's last check failed or succeeded again (see checkFailure).
    void checkStateChanged(Task* task);
    // A periodic check could not download the task's page.
    void backgroundCheckFailed(Task* task, const QString& reason);

private:
    // What a check found that waits for its take-over: a change of the seen links (relative to task.db) and
    // the new links it reports.
    struct PendingSeen
    {
        QSet<QString> added;
        QSet<QString> removed;
        Task::ResultList results;
    };
    // Everything the checker keeps about one task besides the task itself; a default record means nothing
    // is kept.
    struct TaskState
    {
        Task::ResultList unstored;          // findings that could not be stored yet
        std::optional<PageFailure> failure; // why the last check failed
        std::optional<PendingSeen> seen;    // what the checks not yet taken over saw
        bool checking = false;              // a background check waits for its page
        bool afresh = false;                // the address or keyword changed: the next check only records
        int edition = 0;                    // edits so far, so a page asked for before an edit is dropped
    };
    // One command's wait. Its requests have context as their context: when the command returns, the answers
    // still to come are dropped (no callback reaches the command's locals after it).
    struct Wait
    {
        QEventLoop* loop = nullptr;
        bool aborted = false;
        bool cancelled = false;
        QObject context;
        QStringList awaited; // the addresses asked for and not answered yet
    };
    // The same, by the time given (one reading of the clock for a whole run).
    QDateTime dueTime(const Task* task, const QDateTime& now) const;
    // Writes the task's last-update time to task.db; a refusal is reported by storageFailed.
    void storeCheckTime(Task* task);
    // createTask() once the command runs and the definition passed its check.
    Created createChecked(const TaskDefinition& definition);
    // Whether a check of this page records its keyword links as seen: with new links reported, and for every
    // feed (its new items are what it is watched for).
    bool recordsSeen(const FetchedPage& page) const;
    // The most links of items that left a feed kept as seen, so they are not reported when they come back.
    static constexpr int MaxDepartedFeedLinks = 5000;
    Task::ResultList takeOver(Task* task, const Task::ResultList& found, TaskChange* change);
    bool storeTakeOver(Task* task, const TaskChange& change);
    void noteSeen(Task* task, const FetchedPage& page);
    void startBackgroundCheck(Task* task);
    void takeBackgroundPage(Task* task, const FetchedPage& page);
    Task::ResultList takeOverBackgroundPage(Task* task, const FetchedPage& page);
    // The task's page of the periodic run has been dealt with (found: what was reported); the run's news are
    // announced once no page of it is awaited any more.
    void runTaskDone(const Task* task, const Task::ResultList& found);
    void flushRunNews();
    void noteFetch(Task* task, const FetchedPage& page);
    // Keeps the validators of a page read whole in the task's options and task.db.
    void rememberValidators(Task* task, const FetchedPage& page);
    // Keeps the task's failure (or its absence) in its options and task.db, for the next start.
    void storeFailure(Task* task);
    // Takes the failure a previous run kept in the task's options.
    void restoreFailure(Task* task);
    void forget(const Task* task);
    // The task's record, made when it has none; state() reads without making one.
    TaskState& stateOf(const Task* task) { return m_states[task]; }
    const TaskState* state(const Task* task) const;
    bool hasPendingSeen(const Task* task) const;
    // The date new results carry: the local date of now().
    QDate today() const { return now().toLocalTime().date(); }
    bool addImported(Task* task, const QStringList& seen);
    void endImport();
    // True (with lastError()) while an import holds task.db's transaction.
    bool refusedWhileImporting();
    // Asks for the task's page for the command waiting by w; the address is awaited until done runs.
    void getFor(Wait& w, const Task& task, bool conditional, PageFetcher::Callback done);
    // Runs the event loop until done() holds, abortWaits() or cancelWait() is called; false when ended so
    // (w.aborted or w.cancelled says which).
    bool wait(Wait& w, const std::function<bool()>& done);
    void wake();

    TaskDatabase& m_db;
    const Clock* m_clock = nullptr;
    Clock m_systemClock;
    CommandGuard m_guard;
    PageFetcher m_fetcher;
    PageRenderRunner m_renderer;
    PageSource m_source{m_fetcher, m_renderer};
    QList<Task*> m_tasks;
    QHash<const Task*, TaskState> m_states;
    bool m_reportNewLinks = false;
    // An import is storing its tasks: no other write may reach task.db, and background pages wait.
    bool m_importing = false;
    QList<QPair<QPointer<Task>, FetchedPage>> m_heldPages;
    // The tasks whose periodic page is awaited, and what the pages taken over so far brought.
    QSet<const Task*> m_runWaiting;
    QList<TaskNews> m_runNews;
    int m_backgroundStarted = 0;
    QList<Wait*> m_waits;
    QString m_lastError;
    QString m_loadRefusal;
};

// Why a download failed, in a few words: "HTTP 404", or what the network layer said.
QString failureReason(const FetchedPage& page);
