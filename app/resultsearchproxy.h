// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/resultfilter.h"

#include <QSortFilterProxyModel>

// Sorts the results table and keeps only the rows the search field lets through (see ResultFilter),
// reading each row's shown text and link from the given columns of the source model.
class ResultSearchProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    ResultSearchProxy(int textColumn, int linkColumn, QObject* parent = nullptr);

    void setSearch(const QString& typed);
    bool isSearching() const { return !filter.isEmpty(); }
    // Rows are numbered as they are shown (1, 2, 3, ...), whatever their place in the source.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    int textColumn;
    int linkColumn;
    ResultFilter filter;
};
