// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/deferredwork.h"

#include "storage/optionrows.h"
#include "storage/schema.h"
#include "storage/sqlrunner.h"

DeferredOutcome runDeferredSteps(const QString& fileName, const DeferredSteps& steps)
{
    DeferredOutcome outcome;
    SqlRunner runner(fileName, false);
    if (!runner.isOpen()) {
        outcome.countFailure = runner.lastError();
        return outcome;
    }
    if (steps.stop)
        runner.setStop(steps.stop);
    if (steps.tasksRead) {
        StoredTasks read;
        if (std::optional<QList<Task*>> tasks = TaskRows(runner).loadAll(&read.refused)) {
            read.tasks = *tasks;
            OptionRows(runner).giveTo(read.tasks);
            read.lastRow = ResultRows(runner).lastRow();
        } else {
            read.failure = runner.lastError();
        }
        steps.tasksRead(std::move(read));
    }
    if (steps.buildIndexes && Schema::indexesMissing(runner) && !Schema::buildIndexes(runner))
        outcome.indexFailure = runner.lastError();
    if (steps.removeOlderThanDays >= 0 &&
        !runner.inTransaction([&] { return ResultRows(runner).removeOld(steps.removeOlderThanDays, steps.today); }))
        outcome.removeFailure = runner.lastError();
    outcome.summary = ResultRows(runner).summarize();
    if (!outcome.summary)
        outcome.countFailure = runner.lastError();
    return outcome;
}
