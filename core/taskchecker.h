// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/commandresults.h"
#include "core/commandwaits.h"
#include "core/newsoutbox.h"
#include "core/pagesource.h"
#include "core/periodicchecks.h"
#include "core/taskexchange.h"
#include "core/taskhealth.h"
#include "core/taskimport.h"
#include "core/taskregistry.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/rendering/pagerenderrunner.h"

#include <optional>

// The checking core as the window uses it: the checks of the tasks of the registry it is given, and the commands
// that wait for pages (update-all, reset, creation, import) with edit beside them. The task list, its signals and
// the changes the user asks for (removal, read marks, undo) are the registry's.
//
// Every wait runs the event loop (the periodic checks and their deliveries go on meanwhile) and holds
// guard(), so no other waiting command starts inside it. A task removed during a wait is never touched
// after it. Findings count as seen only once stored: what could not be stored is kept and stored first by the
// task's next take-over of any kind.
struct TaskDefinition;

class TaskChecker : public QObject
{
    Q_OBJECT

public:
    using Outcome = Commands::Outcome;
    using DueRun = Commands::DueRun;
    using UpdateRun = Commands::UpdateRun;
    using Created = Commands::Created;
    using ImportRun = Commands::ImportRun;
    using PageFailure = CheckStates::PageFailure;
    static constexpr const char* FailureOption = CheckStates::FailureOption;
    static constexpr const char* FailuresInRowOption = CheckStates::FailuresInRowOption;
    static constexpr qint64 MaxBackoffSeconds = CheckStates::MaxBackoffSeconds;

    // The registry and task.db outlive the checker.
    TaskChecker(TaskRegistry& registry, TaskDatabase& db, QObject* parent = nullptr);
    ~TaskChecker() override;

    // The tasks checked.
    TaskRegistry& registry() const { return m_registry; }
    // Why the latest of the commands below failed (StoreFailed, Invalid, a refused start or option).
    QString lastError() const { return m_lastError; }

    // Not owned; the system clock when none is set. The registry stamps the results by it too.
    void setClock(const Clock* clock);
    QDateTime now() const { return m_states.now(); }
    CommandGuard& guard() { return m_guard; }
    PageFetcher& fetcher() { return m_fetcher; }
    // Gets the pages of tasks that run their page's scripts.
    PageRenderRunner& renderer() { return m_renderer; }
    // What the checks know of each task: its failure, its back-off, its findings not yet stored.
    const CheckStates& checks() const { return m_states; }
    // See CheckStates::setWriteAsideFrom and setMarksPerTurn.
    void setWriteAsideFrom(int marks) { m_states.setWriteAsideFrom(marks); }
    void setMarksPerTurn(int marks) { m_states.setMarksPerTurn(marks); }
    // Where news goes beyond this desktop, and what waits to get there.
    NewsOutbox& news() { return m_news; }
    // Whether each task needs the user's look, and why.
    const TaskHealth& health() const { return m_health; }
    // The checks in a row, failed or without keyword links, after which a task needs a look.
    void setChecksBeforeLook(int checks) { m_health.setChecksInRow(checks); }
    // Reads the pages on worker threads as they arrive.
    PageReader& reader() { return m_source.reader(); }

    // Start-up: deletes the results older than days when deleteOld is set, sets the new-links option and
    // loads the stored tasks. False when the deletion failed (lastError() says why); the tasks are loaded
    // then as well.
    bool start(bool deleteOld, int days, bool reportNewLinks);

    // The periodic check run (see PeriodicChecks): what the checks find is taken over when its page arrives
    // (resultsFound).
    DueRun checkDueTasks() { return m_periodic.checkDueTasks(); }
    // The hours the periodic checks keep to (a task's own replace them); update-all ignores them.
    void setHours(const CheckHours& hours) { m_states.setHours(hours); }
    // See PeriodicChecks::setSpread.
    void setSpread(int atOnce, int withinMs) { m_periodic.setSpread(atOnce, withinMs); }
    // The moment the task falls due next.
    QDateTime dueTime(const Task* task) const { return m_states.dueTime(task); }
    // Checks every task now, all pages at once, and takes the new results over in list order.
    UpdateRun updateAll();
    // How many pages update-all requests in one turn of the event loop (a few milliseconds of work); tests lower it.
    static constexpr int RequestBatch = 500;
    void setRequestBatch(int pages) { m_requestBatch = qMax(1, pages); }
    // For how many tasks update-all reads the stored results while their pages are on their way.
    static constexpr int ReadAheadTasks = 1000;
    // Rebuilds the task's results from a fresh download; on any failure the old ones stay.
    Outcome resetResults(Task* task);
    // Downloads the new task's page (with the request headers of its options), stores the task with its
    // results and options and appends it to the list.
    Created createTask(const QString& name, const QString& address, const QString& grabText, int frequency,
                       const QHash<QString, QString>& options = {});
    // Changes what the task watches, in memory and in its row of task.db, keeping its id, date, results and
    // their states. A changed address or keyword forgets the links seen so far: the next check records the
    // page without reporting it. A changed frequency counts from the last check. Refused while a command
    // runs (Dropped) and for a task removed meanwhile (TaskGone).
    // Options, when given, replace the task's own (its request headers); a new address or keyword also drops
    // the validators of the page last read.
    Outcome editTask(Task* task, const QString& name, const QString& address, const QString& grabText, int frequency,
                     const std::optional<QHash<QString, QString>>& options = std::nullopt);
    // Pauses or resumes (Paused), mutes or unmutes (Muted) the task, in memory and in task.db. A paused task is
    // never downloaded, by the periodic checks or update-all; a muted one is checked and its results stored, but
    // neither its news nor its need of a look are announced. Refused for a task removed meanwhile (TaskGone).
    enum class Switch
    {
        Paused,
        Muted
    };
    Outcome setSwitch(Task* task, Switch which, bool on);
    // See TaskImport.
    ImportRun importTasks(const QList<ExchangeTask>& tasks);

    // Whether checks also report links that newly appear on a page. A feed's new items are always reported. Turned on
    // afresh (by the user), every task records its page's links at its first check without reporting them. False when
    // the seen links could not be forgotten: the option then stays as it was.
    bool setReportNewLinks(bool on, bool afresh = false);
    bool reportNewLinks() const { return m_states.reportNewLinks(); }

    // Ends every wait running now at once (the program is quitting): downloads are aborted, nothing more is
    // stored by the commands that waited. A wait started afterwards runs as usual.
    void abortWaits();
    bool isAborting() const { return m_waits.isAborting(); }
    // Ends the wait of the command running now (the user left it): its pages still awaited are dropped when
    // they come, the command stores nothing of them and returns as cancelled. Periodic checks go on.
    void cancelWait() { m_waits.cancel(); }
    // The addresses the running command still waits for, in the order they were asked for; empty when no
    // command waits.
    QStringList awaitedPages() const { return m_waits.awaited(); }

    QString checkFailure(const Task* task) const { return m_states.checkFailure(task); }
    int failuresInRow(const Task* task) const { return m_states.failuresInRow(task); }
    qint64 checkInterval(const Task* task) const { return m_states.checkInterval(task); }
    int backgroundChecksStarted() const { return m_periodic.started(); }
    bool hasUnstored() const { return m_states.hasUnstored(); }

signals:
    // The periodic checks' reports (see PeriodicChecks).
    void resultsFound(Task* task, const Task::ResultList& results);
    void runNewsFound(const QList<TaskNews>& news);
    void storageFailed(const QString& message);
    void backgroundCheckFailed(Task* task, const QString& reason);
    // A task turned to needing a look (see TaskHealth); not for a task being created, whose command says it.
    void taskNeedsLook(Task* task, const QString& reason);

private:
    // createTask() once the command runs and the definition passed its check.
    Created createChecked(const TaskDefinition& definition);
    // Waits for the whole page of the task (never "not modified"); false when the wait was ended (w says how).
    // The page is delivered into fetched, which must live as long as w.
    bool fetchWhole(CommandWaits::Wait& w, const Task& task, std::optional<FetchedPage>& fetched);
    // Reads the stored results of the tasks that do not hold them while their pages are on their way.
    void readResultsAhead(const QList<Task*>& tasks);

    TaskRegistry& m_registry;
    TaskDatabase& m_db;
    QString m_lastError;
    CommandGuard m_guard;
    PageFetcher m_fetcher;
    PageRenderRunner m_renderer;
    PageSource m_source{m_fetcher, m_renderer};
    CheckStates m_states;
    TaskHealth m_health;
    bool m_firstCheck = false; // the page noted is that of a task being created
    PeriodicChecks m_periodic;
    CommandWaits m_waits;
    TaskImport m_import;
    NewsOutbox m_news{m_db};
    int m_requestBatch = RequestBatch;
};
