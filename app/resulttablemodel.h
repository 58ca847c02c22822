// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/taskresult.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>

class Task;
class WatchList;

// The results of one task of the checking core, one row each in the task's order (oldest found first):
// date, state icon, text (decoded for display) and link, with the full text and link as tooltips.
// Follows the core's signals. SortRole orders the rows the way "newest first" means: by the date itself,
// and within one date by the order found.
class ResultTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        DateColumn,
        StateColumn,
        TextColumn,
        LinkColumn,
        ColumnCount
    };
    enum Role
    {
        SortRole = Qt::UserRole + 1
    };

    explicit ResultTableModel(WatchList& core, QObject* parent = nullptr);

    // The task whose results are shown; none clears the table.
    void setTask(Task* task);
    Task* task() const { return shown; }
    TaskResultPtr result(int row) const { return row >= 0 && row < results.size() ? results.at(row) : nullptr; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void resultsChanged(Task* task);
    void statesChanged(Task* task, const QList<int>& rows);
    void taskRemoved(Task* task);
    QVariant stateIcon(int state) const;

    QPointer<Task> shown;
    TaskResultList results;
    QIcon newIcon;
    QIcon readIcon;
};
