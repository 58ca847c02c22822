// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/taskresult.h"

#include <QSet>
#include <QString>

#include <optional>

// What the checks know of one task beyond its definition and results. The task holds it, so it lives and goes
// with the task: a task given a removed task's id starts with none of it. Only the window thread reads it.
struct CheckMemory
{
    // Why a check of the task's page gave nothing, for the task list and the status bar.
    struct Failure
    {
        QString reason; // "HTTP 404", "Connection refused", ...
        int inRow = 0;  // checks that failed one after another
    };
    // What a check found that waits for its take-over: a change of the seen links (relative to task.db) and
    // the new links it reports.
    struct PendingSeen
    {
        QSet<QString> added;
        QSet<QString> removed;
        TaskResultList results;
    };

    TaskResultList unstored;         // findings that could not be stored yet
    std::optional<Failure> failure;  // why the last check failed
    std::optional<PendingSeen> seen; // what the checks not yet taken over saw
    bool checking = false;           // a background check waits for its page
    bool afresh = false;             // the address or keyword changed: the next check only records
    bool restored = false;           // the failure kept in task.db was taken (once, when the task was loaded)
    int edition = 0;                 // edits so far, so a page asked for before an edit is dropped
};
