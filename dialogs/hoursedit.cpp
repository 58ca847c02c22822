// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/hoursedit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QTimeEdit>

HoursEdit::HoursEdit(const QString& fromLabel, QWidget* parent) : QWidget(parent)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins({});
    m_from = new QTimeEdit(this);
    m_from->setObjectName(QStringLiteral("timeEditFrom"));
    m_to = new QTimeEdit(this);
    m_to->setObjectName(QStringLiteral("timeEditTo"));
    for (QTimeEdit* edit : {m_from, m_to})
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
    auto* from = new QLabel(fromLabel, this);
    from->setBuddy(m_from);
    auto* to = new QLabel(tr("unti&l"), this);
    to->setBuddy(m_to);
    auto* times = new QHBoxLayout;
    times->addWidget(m_from);
    times->addWidget(to);
    times->addWidget(m_to);
    times->addStretch();
    grid->addWidget(from, 0, 0);
    grid->addLayout(times, 0, 1);
    grid->addWidget(new QLabel(tr("on"), this), 1, 0);
    auto* days = new QHBoxLayout;
    const QLocale locale;
    for (int day = 1; day <= 7; ++day) {
        // The digit is the day's letter: the day names of a language need not start with different letters.
        m_days[day - 1] = new QCheckBox(tr("&%1 %2").arg(day).arg(locale.dayName(day, QLocale::ShortFormat)), this);
        m_days[day - 1]->setObjectName(QStringLiteral("checkBoxDay%1").arg(day));
        days->addWidget(m_days[day - 1]);
    }
    days->addStretch();
    grid->addLayout(days, 1, 1);
    setHours({});
}

void HoursEdit::setHours(const CheckHours& hours)
{
    m_from->setTime(hours.from);
    m_to->setTime(hours.to);
    for (int day = 1; day <= 7; ++day)
        m_days[day - 1]->setChecked(hours.days & (1 << (day - 1)));
}

CheckHours HoursEdit::hours() const
{
    CheckHours hours;
    hours.from = m_from->time();
    hours.to = m_to->time();
    hours.days = 0;
    for (int day = 1; day <= 7; ++day)
        hours.days |= m_days[day - 1]->isChecked() ? 1 << (day - 1) : 0;
    return hours;
}

QString HoursEdit::text() const
{
    const CheckHours set = hours();
    return set.isAlways() ? QStringLiteral("00:00-00:00 1234567") : set.toText();
}

QString HoursEdit::problem() const
{
    return hours().days == 0 ? tr("Tick at least one day on which the checks may run.") : QString();
}

QList<QWidget*> HoursEdit::fields() const
{
    QList<QWidget*> fields{m_from, m_to};
    for (QCheckBox* day : m_days)
        fields.append(day);
    return fields;
}

QWidget* HoursEdit::firstField() const
{
    return hours().days == 0 ? static_cast<QWidget*>(m_days[0]) : m_from;
}
