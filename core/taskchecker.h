// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/commandresults.h"
#include "core/commandwaits.h"
#include "core/createtask.h"
#include "core/edittask.h"
#include "core/newsoutbox.h"
#include "core/pagesource.h"
#include "core/periodicchecks.h"
#include "core/resetresults.h"
#include "core/taskexchange.h"
#include "core/taskhealth.h"
#include "core/taskimport.h"
#include "core/updateall.h"
#include "core/watchlist.h"
#include "engine/definition/taskdefinition.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/rendering/pagerenderrunner.h"

#include <optional>

// The checking core as the window uses it, put together from its parts: the checks of the tasks of the watch list
// it is given, and the commands that wait for pages (update-all, reset, creation, import) with edit beside them,
// each a part of its own. The task list, its signals and the changes the user asks for (removal, read marks,
// undo) are the watch list's.
//
// Every wait runs the event loop (the periodic checks and their deliveries go on meanwhile) and holds
// guard(), so no other waiting command starts inside it. A task removed during a wait is never touched
// after it. Findings count as seen only once stored: what could not be stored is kept and stored first by the
// task's next take-over of any kind.

class TaskChecker : public QObject
{
    Q_OBJECT

public:
    // The watch list and task.db outlive the checker.
    explicit TaskChecker(WatchList& watches, QObject* parent = nullptr);
    ~TaskChecker() override;

    // The tasks checked.
    WatchList& watches() const { return m_watches; }
    // Why the latest start, option or switch below failed.
    QString lastError() const { return m_lastError; }

    // Not owned; the system clock when none is set. The watch list stamps the results by it too.
    void setClock(const Clock* clock);

    // The parts the checks are made of, each with its own interface: the guard no two waiting commands pass at
    // once, the downloads and renders (read on worker threads as they arrive), what the checks know of each task
    // (failure, back-off, findings not yet stored, the hours), whether a task needs the user's look, the periodic
    // checks with their schedule and signals, the waits of the commands (cancel() ends the running one) and
    // where news goes beyond this desktop.
    CommandGuard& guard() { return m_guard; }
    PageFetcher& fetcher() { return m_fetcher; }
    PageRenderRunner& renderer() { return m_renderer; }
    PageSource& source() { return m_source; }
    CheckStates& checks() { return m_states; }
    const CheckStates& checks() const { return m_states; }
    TaskHealth& health() { return m_health; }
    const TaskHealth& health() const { return m_health; }
    PeriodicChecks& periodic() { return m_periodic; }
    CommandWaits& waits() { return m_waits; }
    NewsOutbox& news() { return m_news; }

    // Start-up: deletes the results older than days when deleteOld is set, sets the new-links option and
    // loads the stored tasks. False when the deletion failed (lastError() says why); the tasks are loaded
    // then as well.
    bool start(bool deleteOld, int days, bool reportNewLinks);

    // The commands that wait for pages, each with the report of its own run: Update Tasks Now, Reset Results,
    // New Task, Edit Task (which waits for nothing, but is refused while another command waits) and the import.
    UpdateAll& updater() { return m_update; }
    ResetResults& resetter() { return m_reset; }
    CreateTask& creator() { return m_create; }
    EditTask& editor() { return m_edit; }
    TaskImport& importer() { return m_import; }

    // Pauses or resumes (Paused), mutes or unmutes (Muted) the task, in memory and in task.db. A paused task is
    // never downloaded, by the periodic checks or update-all; a muted one is checked and its results stored, but
    // neither its news nor its need of a look are announced. Refused for a task removed meanwhile (TaskGone: held
    // by a QPointer, which reads as none once it is removed).
    enum class Switch
    {
        Paused,
        Muted
    };
    Commands::Outcome setSwitch(Task* task, Switch which, bool on);

    // Whether checks also report links that newly appear on a page. A feed's new items are always reported. Turned on
    // afresh (by the user), every task records its page's links at its first check without reporting them. False when
    // the seen links could not be forgotten: the option then stays as it was.
    bool setReportNewLinks(bool on, bool afresh = false);

    // Ends every wait running now at once (the program is quitting): downloads are aborted, nothing more is
    // stored by the commands that waited. A wait started afterwards runs as usual.
    void abortWaits();

private:
    WatchList& m_watches;
    QString m_lastError;
    CommandGuard m_guard;
    PageFetcher m_fetcher;
    PageRenderRunner m_renderer;
    PageSource m_source{m_fetcher, m_renderer};
    CheckStates m_states;
    TaskHealth m_health;
    PeriodicChecks m_periodic;
    CommandWaits m_waits;
    CommandParts m_parts{m_watches, m_states, m_health, m_guard, m_waits};
    UpdateAll m_update{m_parts};
    ResetResults m_reset{m_parts};
    CreateTask m_create{m_parts};
    EditTask m_edit{m_parts};
    TaskImport m_import{m_parts, m_periodic};
    NewsOutbox m_news{m_watches.newsStore()};
};
