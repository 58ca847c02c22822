// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/checkhours.h"

#include <QWidget>

class QCheckBox;
class QTimeEdit;

// The hours in which checks may run, as the user sets them: from a time until a time on some days of the week,
// each with a mnemonic (the days by their ISO numbers, 1 Monday .. 7 Sunday). The label of the first time is the
// caller's, as the rest of its form gives the letters.
class HoursEdit : public QWidget
{
    Q_OBJECT

public:
    explicit HoursEdit(const QString& fromLabel, QWidget* parent = nullptr);

    void setHours(const CheckHours& hours);
    CheckHours hours() const;
    // As text, as a task option keeps its own hours; any time is written out too, as empty text would mean none.
    QString text() const;
    // Why the hours as set cannot be used (no day ticked), empty when they can.
    QString problem() const;
    // Where the cursor goes when they are refused.
    QWidget* firstField() const;
    // Its fields in the order of the keyboard.
    QList<QWidget*> fields() const;

private:
    QTimeEdit* m_from;
    QTimeEdit* m_to;
    QCheckBox* m_days[7];
};
