// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/resultsearchproxy.h"

ResultSearchProxy::ResultSearchProxy(int textColumn, int linkColumn, QObject* parent)
    : QSortFilterProxyModel(parent), textColumn(textColumn), linkColumn(linkColumn)
{
}

void ResultSearchProxy::setSearch(const QString& typed)
{
    filter = ResultFilter(typed);
    invalidateFilter();
}

bool ResultSearchProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (filter.isEmpty())
        return true;
    const QAbstractItemModel* source = sourceModel();
    return filter.matches(source->index(sourceRow, textColumn, sourceParent).data().toString(),
                          source->index(sourceRow, linkColumn, sourceParent).data().toString());
}

QVariant ResultSearchProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + 1;
    return QSortFilterProxyModel::headerData(section, orientation, role);
}
