// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/announcement.h"
#include "core/commandresults.h"
#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QTimer>

class CheckStates;
class PageSource;
class WatchList;

// The background checks: which tasks fall due, their requests, and the take-over of each page as it arrives,
// stored and reported at once. While an import holds task.db the pages that arrive are held and taken over
// when it ends.
class PeriodicChecks : public QObject
{
    Q_OBJECT

public:
    PeriodicChecks(WatchList& watches, CheckStates& states, PageSource& source);

    // Every task whose check interval has passed since its last check is checked in the background; its
    // last-update time becomes the time of this check. An unreadable last-update time counts as due, one
    // later than now counts as now.
    Commands::DueRun checkDueTasks();
    // The schedule: once started, checkDueTasks() runs every interval (a minute) while there are tasks, each
    // interval counted from the end of the run before. The program starts it once its window is made.
    static constexpr int DefaultIntervalMs = 60000;
    void startSchedule();
    void setInterval(int ms);
    int interval() const { return m_timer.interval(); }
    // Background checks that sent a request. A task whose previous check has not answered yet is not
    // checked again at the same time.
    int started() const { return m_started; }
    // Of the tasks falling due in one run, the first atOnce are sent at once and the others spread evenly over at
    // most withinMs, so a start after a long pause or the beginning of the hours sends no burst.
    static constexpr int DefaultAtOnce = 8;
    static constexpr int DefaultSpreadMs = 60000;
    static constexpr int MaxStepMs = 1000;
    void setSpread(int atOnce, int withinMs);
    // The import ended: the pages held meanwhile are taken over now.
    void takeHeldPages();

signals:
    // A periodic check found new results; they are stored and appended to the task's results.
    void resultsFound(Task* task, const Task::ResultList& results);
    // Every page of a periodic run (and of the runs started while it waited) has been taken over: the tasks
    // that got new results, with those results, in the order of the task list. Once a run, and only with news.
    void runNewsFound(const QList<TaskNews>& news);
    // A periodic take-over could not store what it found (it is kept for the next one).
    void storageFailed(const QString& message);
    // A periodic check could not download the task's page.
    void backgroundCheckFailed(Task* task, const QString& reason);

private:
    void startCheck(Task* task);
    void takePage(Task* task, const FetchedPage& page);
    Task::ResultList takeOverPage(Task* task, const FetchedPage& page);
    // The task's page of the periodic run has been dealt with (found: what was reported, task: the task, read
    // only when found holds results); the run's news are announced once no page of it is awaited any more.
    void runTaskDone(int taskId, const Task* task, const Task::ResultList& found);
    void flushRunNews();
    // Writes the task's last-update time to task.db; a refusal is reported by storageFailed.
    void storeCheckTime(Task* task);
    void forget(const Task* task);

    WatchList& m_watches;
    CheckStates& m_states;
    PageSource& m_source;
    QList<QPair<QPointer<Task>, FetchedPage>> m_heldPages;
    // The tasks whose periodic page is awaited, and what the pages taken over so far brought.
    QSet<int> m_runWaiting; // by task id
    QList<TaskNews> m_runNews;
    int m_started = 0;
    int m_atOnce = DefaultAtOnce;
    int m_spreadMs = DefaultSpreadMs;
    QTimer m_timer;
};
