// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QList>

class Task;
class TaskChecker;

// The checking core's tasks, one row each in the core's order: the task's name, a warning icon and the
// reason as tooltip when its last check failed. Follows the core's signals, so it never holds a task
// the core has let go.
class TaskListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit TaskListModel(TaskChecker& core, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    Task* task(const QModelIndex& index) const;
    QModelIndex indexOf(const Task* task) const;

private:
    void reload();
    void append(Task* task);
    void remove(Task* task);
    void checkStateChanged(Task* task);
    // How many checks failed in a row, the last reason, the next try.
    QString failureToolTip(const Task* task) const;

    TaskChecker& core;
    QList<Task*> tasks;
    QIcon warning;
};
