// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

// The hours in which the user lets the periodic checks run: from a time to a time (across midnight when the end
// comes first; the whole day when both are equal) on some days of the week. A span across midnight belongs to
// the day it begins on. Written as text "08:00-18:00 12345", the days as ISO numbers (1 Monday .. 7 Sunday);
// empty text: at any time.
struct CheckHours
{
    Q_DECLARE_TR_FUNCTIONS(CheckHours)

public:
    QTime from{0, 0};
    QTime to{0, 0};
    int days = AllDays; // bit (n - 1) for ISO day n
    static constexpr int AllDays = 0x7f;
    // The task options of a task's own hours (their text) and of its varied checks ("1" when on).
    static constexpr const char* TaskOption = "check_hours";
    static constexpr const char* VaryOption = "vary_checks";

    bool isAlways() const { return days == AllDays && from == to; }
    // Whether a check may run at the moment.
    bool allows(const QDateTime& moment) const;
    // The first moment from the given one on at which a check may run.
    QDateTime nextAllowed(const QDateTime& moment) const;

    QString toText() const;
    // nullopt when the text is not of the form above (a day named twice or none counts as a fault).
    static std::optional<CheckHours> fromText(const QString& text);
    // Why the text cannot be used, empty when it can.
    static QString problem(const QString& text);

    bool operator==(const CheckHours& other) const
    {
        return from == other.from && to == other.to && days == other.days;
    }

private:
    bool hasDay(const QDate& date) const { return days & (1 << (date.dayOfWeek() - 1)); }
};
