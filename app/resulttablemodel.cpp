// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/resulttablemodel.h"

#include "core/watchlist.h"
#include "engine/definition/task.h"
#include "engine/tools.h"

namespace {
struct Header
{
    const char* text;
    const char* toolTip;
    const char* icon;
};
const Header Headers[ResultTableModel::ColumnCount] = {
    {QT_TRANSLATE_NOOP("ResultTableModel", "Date"), QT_TRANSLATE_NOOP("ResultTableModel", "Date of results."),
     ":/date.png"},
    {"", QT_TRANSLATE_NOOP("ResultTableModel", "Result State"), ":/state_new.png"},
    {QT_TRANSLATE_NOOP("ResultTableModel", "Text"), QT_TRANSLATE_NOOP("ResultTableModel", "Result Text"), ":/text.png"},
    {QT_TRANSLATE_NOOP("ResultTableModel", "Link"), QT_TRANSLATE_NOOP("ResultTableModel", "Result Link"), ":/link.png"},
};
} // namespace

ResultTableModel::ResultTableModel(WatchList& core, QObject* parent)
    : QAbstractTableModel(parent), newIcon(QStringLiteral(":/state_new.png")),
      readIcon(QStringLiteral(":/state_read.png"))
{
    connect(&core, &WatchList::resultsChanged, this, &ResultTableModel::resultsChanged);
    connect(&core, &WatchList::resultStatesChanged, this, &ResultTableModel::statesChanged);
    connect(&core, &WatchList::taskRemoved, this, &ResultTableModel::taskRemoved);
    connect(&core, &WatchList::allTasksRemoved, this, [this] { setTask(nullptr); });
    connect(&core, &WatchList::tasksLoaded, this, [this] { setTask(nullptr); });
}

void ResultTableModel::setTask(Task* task)
{
    beginResetModel();
    shown = task;
    results = task ? task->results() : TaskResultList();
    endResetModel();
}

int ResultTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(results.size());
}

int ResultTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= results.size())
        return {};
    const TaskResult& result = *results.at(index.row());
    switch (index.column()) {
    case DateColumn:
        // The day, and beside it the time of day when it is known.
        if (role == Qt::DisplayRole)
            return result.time.isValid()
                       ? result.date.toString(TaskDateFormat) + QLatin1Char(' ') + result.time.toString(u"HH:mm")
                       : result.date.toString(TaskDateFormat);
        // By the moment found: the date, the time of day (a find of unknown time first on its day), then the order
        // found, so that a descending sort lists the newest first (also for results found while the program
        // runs, which the task's list appends).
        if (role == SortRole) {
            const qint64 day = result.date.isValid() ? result.date.toJulianDay() : 0; // dates of 4 digits
            const qint64 seconds =
                day * 86400 + (result.time.isValid() ? result.time.msecsSinceStartOfDay() / 1000 : 0);
            return (seconds << 24) + (result.found & ((qint64(1) << 24) - 1));
        }
        break;
    case StateColumn:
        if (role == Qt::DecorationRole)
            return stateIcon(result.state);
        if (role == SortRole)
            return (qint64(result.state) << 32) - index.row();
        break;
    case TextColumn:
        // Stored as captured, shown decoded.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == SortRole)
            return Tools::displayText(result.text);
        break;
    case LinkColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole || role == SortRole)
            return result.link;
        break;
    default:
        break;
    }
    return {};
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    const Header& header = Headers[section];
    switch (role) {
    case Qt::DisplayRole:
        return *header.text ? tr(header.text) : QString();
    case Qt::ToolTipRole:
        return tr(header.toolTip);
    case Qt::DecorationRole:
        return QIcon(QString::fromLatin1(header.icon));
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return {};
    }
}

void ResultTableModel::resultsChanged(Task* task)
{
    if (task && task == shown)
        setTask(task);
}

void ResultTableModel::statesChanged(Task* task, const QList<int>& rows)
{
    if (!task || task != shown)
        return;
    // One notice for the whole span: each notice makes the view re-measure its columns and the proxy re-check
    // its rows, which row by row took seconds for a few thousand results.
    int first = int(results.size());
    int last = -1;
    for (int row : rows) {
        if (row >= 0 && row < results.size()) {
            first = qMin(first, row);
            last = qMax(last, row);
        }
    }
    if (first <= last)
        emit dataChanged(index(first, StateColumn), index(last, StateColumn), {Qt::DecorationRole});
}

void ResultTableModel::taskRemoved(Task* task)
{
    if (task == shown)
        setTask(nullptr);
}

QVariant ResultTableModel::stateIcon(int state) const
{
    if (state == StateNew)
        return newIcon;
    if (state == StateRead)
        return readIcon;
    return {};
}
