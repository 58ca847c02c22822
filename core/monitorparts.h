// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/deferredstart.h"
#include "core/taskchecker.h"

struct Options;

// The program's parts below the window, put together in the one order they need: the watch list with its
// task.db, then the checking core over it. The program, the benchmarks and the tests build them here.
class MonitorParts
{
public:
    explicit MonitorParts(const QString& databaseFile = QStringLiteral("task.db"),
                          WatchList::IndexBuild indexes = WatchList::IndexBuild::AtOpen)
        : watches(databaseFile, indexes)
    {
    }

    // Start-up by the user's options: deletes the old results when asked, sets the new-links option and loads
    // the stored tasks. False when the deletion failed (core.lastError() says why).
    bool start(const Options& options);
    // The start in two halves, as the program makes it: startShown() loads the tasks without counting their
    // results, so the window can show at once; finishStart(), once it shows, has the indexes built (with
    // IndexBuild::Deferred), the old results deleted and the results counted beside it (see DeferredStart).
    void startShown(const Options& options);
    void finishStart(const Options& options);
    // In place of startShown(): the tasks are read beside the window too, first of the work finishStart() begins,
    // and taken by the core once read (DeferredStart::tasksTaken()).
    void startBeside(const Options& options);
    // Where news goes for the tasks that follow the options (the options dialog's "When there is news").
    static void applyNewsOptions(NewsOutbox& news, const Options& options);
    // When a task needs a look, and the hours the periodic checks keep to.
    static void applyCheckOptions(TaskChecker& core, const Options& options);

    WatchList watches;
    TaskChecker core{watches};
    DeferredStart deferred{core};

private:
    bool m_readBeside = false;
};
