// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/taskchecker.h"
#include "storage/taskdatabase.h"

struct Options;

// The program's parts below the window, put together in the one order they need: task.db, then the checking
// core over it. The program, the benchmarks and the tests build them here.
class MonitorParts
{
public:
    explicit MonitorParts(const QString& databaseFile = QStringLiteral("task.db")) : db(databaseFile) {}

    // Start-up by the user's options: deletes the old results when asked, sets the new-links option and loads
    // the stored tasks. False when the deletion failed (core.lastError() says why).
    bool start(const Options& options);
    // Where news goes for the tasks that follow the options (the options dialog's "When there is news").
    static void applyNewsOptions(NewsOutbox& news, const Options& options);

    TaskDatabase db;
    TaskChecker core{db};
};
