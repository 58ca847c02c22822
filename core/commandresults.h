// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/announcement.h"
#include "engine/definition/task.h"

#include <QList>
#include <QString>

// What the waiting commands (update-all, reset, creation, edit, import) and a periodic run report back.
namespace Commands {

enum class Outcome
{
    Done,
    Dropped,     // another command was running
    Aborted,     // ended by abortWaits()
    Cancelled,   // ended by cancelWait(): nothing changed
    TaskGone,    // the task was removed during the wait
    FetchFailed, // the page could not be downloaded
    StoreFailed, // task.db refused the change; the command's report says why
    Exists,      // creation or edit: another task watches this address for this keyword
    Invalid      // creation or edit: the definition has a problem; the command's report names it
};

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
    QString storageFailure;   // set when new results could not be stored, or stored ones read
    QList<TaskNews> news;     // the tasks that got new results and those results, in list order
};

struct Created
{
    Outcome outcome = Outcome::Done;
    Task* task = nullptr;  // the new task (Done or FetchFailed: created with what the page gave)
    QString failureReason; // why its page could not be downloaded
    QString error;         // StoreFailed, Invalid: why the task was not created
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

} // namespace Commands
