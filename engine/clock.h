// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>

// Where the program reads the time: the one place that asks the system. The engine's task and result code
// take the moment they are given, and the checking core hands them its clock's reading; tests hand in a
// clock they move on themselves instead of waiting for real minutes.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const { return QDateTime::currentDateTime(); }
};
