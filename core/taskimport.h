// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/commandparts.h"
#include "core/commandresults.h"
#include "core/commandwaits.h"
#include "core/taskexchange.h"

#include <QCoreApplication>

#include <memory>
#include <vector>

class CheckStates;
class PeriodicChecks;
class WatchList;

// Takes the tasks of a file in: creates them as creation does, all pages at once as update-all fetches them
// (the tasks that come with results keep those instead). Duplicates are skipped and counted; everything is
// stored in one transaction, so on a failure nothing is imported. Meanwhile the watch list refuses every
// write, no periodic check starts and the pages of those running wait.
class TaskImport
{
    Q_DECLARE_TR_FUNCTIONS(TaskImport)

public:
    TaskImport(const CommandParts& parts, PeriodicChecks& periodic)
        : m_watches(parts.watches), m_states(parts.states), m_periodic(periodic), m_waits(parts.waits),
          m_guard(parts.guard)
    {
    }

    // Dropped (not ran) while another command runs.
    Commands::ImportRun run(const QList<ExchangeTask>& entries);

private:
    // Leaves out the file's duplicates and makes its tasks; false (with run->refusal) when one has a problem.
    bool prepare(const QList<ExchangeTask>& entries, Commands::ImportRun* run);
    // Adds the task to the import's transaction; the first refusal's words are kept in m_storeFailure (a write
    // refused elsewhere meanwhile may change the watch list's lastError()).
    bool addImported(Task* task, const QStringList& seen);
    void endImport();

    WatchList& m_watches;
    CheckStates& m_states;
    PeriodicChecks& m_periodic;
    CommandWaits& m_waits;
    CommandGuard& m_guard;
    QString m_storeFailure;
    std::vector<std::unique_ptr<Task>> m_tasks; // the tasks of the file being imported, without duplicates
    QList<bool> m_withResults;                  // whether each came with results of its own
};
