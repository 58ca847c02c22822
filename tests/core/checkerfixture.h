// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/monitorparts.h"
#include "engine/clock.h"
#include "engine/definition/task.h"
#include "tests/support/dbfile.h"

#include <QDateTime>
#include <QStringList>

#include <utility>

// A clock the test moves by hand, so tasks fall due without waiting.
// Reads `at`; with a step it moves on by that much at every reading, as a real clock does between two reads.
struct TestClock : Clock
{
    mutable QDateTime at = QDateTime::currentDateTime();
    qint64 stepMs = 0;
    QDateTime now() const override { return std::exchange(at, at.addMSecs(stepMs)); }
};

// The tasks a test stored in its task.db, loaded by the core as the program builds it (on the test's clock
// when given).
struct Loaded : MonitorParts
{
    explicit Loaded(const QString& path, const Clock* clock = nullptr) : MonitorParts(path)
    {
        core.setClock(clock);
        core.registry().loadTasks();
    }
    explicit Loaded(const TempFolder& fixture, const Clock* clock = nullptr) : Loaded(fixture.path("task.db"), clock) {}
    TaskChecker& checker = core;
};

// The texts of the records, in their order.
inline QStringList texts(const Task::ResultList& results)
{
    QStringList out;
    for (const Task::ResultPtr& result : results)
        out << result->text;
    return out;
}
