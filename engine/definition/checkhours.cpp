// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/definition/checkhours.h"

#include <QRegularExpression>

bool CheckHours::allows(const QDateTime& moment) const
{
    if (isAlways())
        return true;
    const QDate date = moment.date();
    const QTime time = moment.time();
    if (from == to)
        return hasDay(date);
    if (from < to)
        return hasDay(date) && time >= from && time < to;
    // Across midnight: the evening of a day named, or the small hours after one.
    return (time >= from && hasDay(date)) || (time < to && hasDay(date.addDays(-1)));
}

QDateTime CheckHours::nextAllowed(const QDateTime& moment) const
{
    if (allows(moment))
        return moment;
    // The hours begin at `from` on a day named; within a week one of them comes.
    for (int ahead = 0; ahead <= 7; ++ahead) {
        const QDate date = moment.date().addDays(ahead);
        if (!hasDay(date))
            continue;
        QDateTime start = moment; // in the moment's time zone
        start.setDate(date);
        start.setTime(from);
        if (start >= moment)
            return start;
    }
    return moment; // not reached: a day is always named
}

QString CheckHours::toText() const
{
    if (isAlways())
        return {};
    QString dayDigits;
    for (int day = 1; day <= 7; ++day) {
        if (days & (1 << (day - 1)))
            dayDigits += QString::number(day);
    }
    return QStringLiteral("%1-%2 %3")
        .arg(from.toString(QStringLiteral("HH:mm")), to.toString(QStringLiteral("HH:mm")), dayDigits);
}

std::optional<CheckHours> CheckHours::fromText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return CheckHours{};
    static const QRegularExpression form(QStringLiteral("^(\\d\\d:\\d\\d)-(\\d\\d:\\d\\d) ([1-7]{1,7})$"));
    const QRegularExpressionMatch match = form.match(trimmed);
    if (!match.hasMatch())
        return std::nullopt;
    CheckHours hours;
    hours.from = QTime::fromString(match.captured(1), QStringLiteral("HH:mm"));
    hours.to = QTime::fromString(match.captured(2), QStringLiteral("HH:mm"));
    if (!hours.from.isValid() || !hours.to.isValid())
        return std::nullopt;
    hours.days = 0;
    for (const QChar digit : match.capturedView(3)) {
        const int bit = 1 << (digit.digitValue() - 1);
        if (hours.days & bit)
            return std::nullopt;
        hours.days |= bit;
    }
    return hours;
}

QString CheckHours::problem(const QString& text)
{
    return fromText(text) ? QString() : tr("expected hours and days as \"08:00-18:00 12345\" (1 Monday .. 7 Sunday)");
}
