// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>

class Task;
class CheckStates;
class NewsOutbox;
class TaskHealth;
class WatchList;

// The checking core's tasks, one row each in the core's order: the task's name, a warning icon and the
// reason as tooltip when its last check failed or it needs a look. Follows the core's signals, so it never holds a task
// the core has let go.
class TaskListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    TaskListModel(WatchList& core, const CheckStates& checks, const TaskHealth* health = nullptr,
                  QObject* parent = nullptr);

    enum Column
    {
        NameColumn,
        UnreadColumn, // the number of the task's unread results, empty when none
        ColumnCount
    };

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    Task* task(const QModelIndex& index) const;
    QModelIndex indexOf(const Task* task) const;
    // Where the tooltips learn why a task's news did not arrive, and follow its deliveries.
    void setNews(const NewsOutbox* news);

private:
    int rowOf(const Task* task) const;
    void reload();
    void append(Task* task);
    void remove(Task* task);
    void checkStateChanged(Task* task);
    // The task's name, its bold face and its count of unread results.
    void taskChanged(Task* task);
    // How many checks failed in a row, the last reason, the next try.
    QString failureToolTip(const Task* task) const;
    bool needsLook(const Task* task) const;

    WatchList& core;
    const CheckStates& states;
    const TaskHealth* health;
    const NewsOutbox* news = nullptr;
    QList<Task*> tasks;
    // The row of each task, made again from tasks when its size differs (see rowOf()).
    mutable QHash<const Task*, int> rows;
    QIcon warning;
    QIcon paused;
    QIcon muted;
};
