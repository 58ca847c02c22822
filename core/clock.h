// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>

// Where the checking code reads the time. The program uses the system clock; tests hand in a clock
// they move on themselves instead of waiting for real minutes.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }
};
