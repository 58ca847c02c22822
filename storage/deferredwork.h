// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"
#include "storage/resultrows.h"
#include "storage/taskrows.h"

#include <QDate>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

// What a read of the tasks on another connection gives (see DeferredSteps::tasksRead): the tasks with their
// options, the rows not loaded, the largest result row; failure says why nothing was read.
struct StoredTasks
{
    QList<Task*> tasks; // owned by the receiver
    QList<TaskRows::Refusal> refused;
    std::optional<qint64> lastRow;
    QString failure;
};

// What a start leaves until its window shows, done in this order on a connection of its own (so on any thread,
// beside the window's connection): the indexes built, the old results deleted, the results counted.
struct DeferredSteps
{
    bool buildIndexes = true;
    int removeOlderThanDays = -1; // below 0: no deletion
    QDate today;
    const std::atomic_bool* stop = nullptr; // once it holds, the work ends as soon as it can, undone
    // When set, the tasks are read first and handed to it on the working thread, before the rest is done.
    std::function<void(StoredTasks)> tasksRead;
};

struct DeferredOutcome
{
    QString indexFailure;  // why an index could not be built; empty when built (or none was missing)
    QString removeFailure; // why the old results could not be deleted
    std::optional<ResultRows::Summary> summary;
    QString countFailure; // why the results could not be counted, without a summary
};

// Runs the steps on a connection of its own to the file.
DeferredOutcome runDeferredSteps(const QString& fileName, const DeferredSteps& steps);
