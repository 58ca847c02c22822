// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/clock.h"
#include "engine/task.h"

#include <QDateTime>
#include <QStringList>

// A clock the test moves by hand, so tasks fall due without waiting.
struct TestClock : Clock
{
    QDateTime at = QDateTime::currentDateTime();
    QDateTime now() const override { return at; }
};

// The texts of the records, in their order.
inline QStringList texts(const Task::ResultList& results)
{
    QStringList out;
    for (const Task::ResultPtr& result : results)
        out << result->text;
    return out;
}
