// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QTime>

// How a date is written wherever the program stores or shows one (a result's date, a task's creation date).
inline const QString TaskDateFormat = QStringLiteral("MM/dd/yyyy");

enum ResultState
{
    StateNew = 0,
    StateRead = 1
};

// The order in which records were found, increasing through the life of the program: a new record takes
// the next one, and a record read from task.db is placed by its row there (noteFoundOrder), so records found
// while the program runs come after every stored one.
qint64 nextFoundOrder();
void noteFoundOrder(qint64 order);

// One found link. Records are shared between a task's lists, the main window and background checks; the
// shared pointer frees a record once the last list lets go of it. A header of its own, so that what
// carries results (the check thread, storage) needs no task.
struct TaskResult
{
    int taskId = 0;
    QDate date; // the day it was found, by the finder's clock
    QString text;
    QString link;
    int state = StateNew;
    qint64 found = nextFoundOrder(); // see nextFoundOrder; not stored
    QTime time =
        QTime(); // the time of day it was found, by the finder's clock; invalid when not known (an older copy's find)
};
using TaskResultPtr = QSharedPointer<TaskResult>;
using TaskResultList = QList<TaskResultPtr>;

Q_DECLARE_METATYPE(TaskResultList)
