// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tasklistmodel.h"

#include "core/checkstate.h"
#include "core/newsoutbox.h"
#include "core/taskhealth.h"
#include "core/watchlist.h"
#include "engine/definition/task.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QStyle>

TaskListModel::TaskListModel(WatchList& core, const CheckStates& checks, const TaskHealth* health, QObject* parent)
    : QAbstractTableModel(parent), core(core), states(checks), health(health), tasks(core.tasks()),
      warning(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)),
      paused(QApplication::style()->standardIcon(QStyle::SP_MediaPause)),
      muted(QApplication::style()->standardIcon(QStyle::SP_MediaVolumeMuted))
{
    connect(&core, &WatchList::tasksLoaded, this, &TaskListModel::reload);
    connect(&core, &WatchList::allTasksRemoved, this, &TaskListModel::reload);
    connect(&core, &WatchList::countsArrived, this, [this] {
        if (!tasks.isEmpty())
            emit dataChanged(index(0, 0), index(int(tasks.size()) - 1, ColumnCount - 1));
    });
    connect(&core, &WatchList::taskAdded, this, &TaskListModel::append);
    connect(&core, &WatchList::taskRemoved, this, &TaskListModel::remove);
    connect(&core, &WatchList::checkStateChanged, this, &TaskListModel::checkStateChanged);
    connect(&core, &WatchList::taskChanged, this, &TaskListModel::taskChanged);
    connect(&core, &WatchList::resultsChanged, this, &TaskListModel::taskChanged);
    connect(&core, &WatchList::resultStatesChanged, this, &TaskListModel::taskChanged);
}

int TaskListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

int TaskListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(tasks.size());
}

QVariant TaskListModel::data(const QModelIndex& index, int role) const
{
    const Task* task = this->task(index);
    if (!task)
        return {};
    if (index.column() == UnreadColumn) {
        const int unread = task->unreadCount();
        // Until the stored results are counted (beside the window, at start) the column says so.
        if (unread == Task::UncountedResults && (role == Qt::DisplayRole || role == Qt::ToolTipRole))
            return role == Qt::DisplayRole ? QStringLiteral("\u2026") : tr("counting\u2026");
        if (role == Qt::DisplayRole)
            return unread > 0 ? QVariant(unread) : QVariant();
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role == Qt::ToolTipRole && unread > 0)
            return unread == 1 ? tr("1 unread result") : tr("%1 unread results").arg(unread);
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return task->name();
    case Qt::FontRole: {
        if (task->unreadCount() <= 0)
            return {};
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    case Qt::DecorationRole:
        // What the user must act on first, then the switches the user set.
        if (!states.checkFailure(task).isEmpty() || needsLook(task))
            return warning;
        if (task->isPaused())
            return paused;
        return task->isMuted() ? QVariant(muted) : QVariant();
    case Qt::ToolTipRole: {
        // The whole name, which the narrow list may cut, why the task needs a look, and why its checks fail; or,
        // when the page was read, that the region the user named is not (or no longer) on it.
        QString tip = task->name();
        if (task->isPaused())
            tip += QLatin1Char('\n') + tr("Paused: not checked until it is resumed");
        if (task->isMuted())
            tip += QLatin1Char('\n') + tr("Muted: checked, but nothing of it is announced");
        if (!states.checkFailure(task).isEmpty())
            tip += QLatin1Char('\n') + failureToolTip(task);
        if (needsLook(task))
            tip += QLatin1Char('\n') + tr("Needs a look: %1").arg(health->reason(task));
        else if (task->regionMatchedNothing() && states.checkFailure(task).isEmpty())
            tip += QLatin1Char('\n') +
                   tr("The region \"%1\" matched nothing on the page at the last check: no links were read")
                       .arg(task->region());
        if (news && !news->failureOf(task->taskId()).isEmpty())
            tip += QLatin1Char('\n') + news->failureOf(task->taskId());
        return tip;
    }
    default:
        return {};
    }
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (section == UnreadColumn) {
        if (role == Qt::DisplayRole)
            return tr("New");
        if (role == Qt::ToolTipRole)
            return tr("Unread results");
        return {};
    }
    if (role == Qt::DisplayRole)
        return tr("Task List");
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

bool TaskListModel::needsLook(const Task* task) const
{
    return health && health->needsLook(task);
}

QString TaskListModel::failureToolTip(const Task* task) const
{
    // The reason is the network's or the server's word; request headers never appear in it.
    const int inRow = states.failuresInRow(task);
    const QString checks = inRow == 1 ? tr("The last check failed") : tr("The last %1 checks failed").arg(inRow);
    return tr("%1: %2\nNext try: %3")
        .arg(checks, states.checkFailure(task), QLocale().toString(states.dueTime(task), QLocale::ShortFormat));
}

Task* TaskListModel::task(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= tasks.size())
        return nullptr;
    return tasks.at(index.row());
}

QModelIndex TaskListModel::indexOf(const Task* task) const
{
    const int row = rowOf(task);
    return row < 0 ? QModelIndex() : index(row, NameColumn);
}

int TaskListModel::rowOf(const Task* task) const
{
    // Every check of every task asks: the rows are looked up, made again after a removal.
    if (rows.size() != tasks.size()) {
        rows.clear();
        for (int row = 0; row < int(tasks.size()); ++row)
            rows.insert(tasks.at(row), row);
    }
    return rows.value(task, -1);
}

void TaskListModel::reload()
{
    beginResetModel();
    tasks = core.tasks();
    rows.clear();
    endResetModel();
}

void TaskListModel::append(Task* task)
{
    const int row = int(tasks.size());
    beginInsertRows({}, row, row);
    tasks.append(task);
    if (rows.size() == row)
        rows.insert(task, row);
    endInsertRows();
}

void TaskListModel::remove(Task* task)
{
    const int row = rowOf(task);
    if (row < 0)
        return;
    beginRemoveRows({}, row, row);
    tasks.removeAt(row);
    rows.clear();
    endRemoveRows();
}

void TaskListModel::setNews(const NewsOutbox* outbox)
{
    news = outbox;
    const auto delivery = [this](int taskId) {
        for (Task* task : std::as_const(tasks)) {
            if (task->taskId() == taskId)
                checkStateChanged(task);
        }
    };
    connect(outbox, &NewsOutbox::deliveryFailed, this, delivery);
    connect(outbox, &NewsOutbox::delivered, this, delivery);
}

void TaskListModel::checkStateChanged(Task* task)
{
    const QModelIndex index = indexOf(task);
    if (index.isValid())
        emit dataChanged(index, index, {Qt::DecorationRole, Qt::ToolTipRole});
}

void TaskListModel::taskChanged(Task* task)
{
    const int row = rowOf(task);
    if (row >= 0)
        emit dataChanged(index(row, NameColumn), index(row, UnreadColumn));
}
