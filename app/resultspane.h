// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

#include <QObject>

#include <functional>

class QAction;
class QLineEdit;
class QModelIndex;
class QTableView;
class QUrl;
class ResultSearchProxy;
class ResultTableModel;
class WatchList;

// The results table of the selected task: its model and sorting proxy, the search field above it, read
// marking, the link commands (open, copy) and removing the selected rows. Changes go through the core; what
// the user should read is emitted as a status-bar line.
class ResultsPane : public QObject
{
    Q_OBJECT

public:
    // Hands a link to the browser; false when no browser took it.
    using LinkOpener = std::function<bool(const QUrl&)>;

    ResultsPane(QTableView* table, WatchList& core, QObject* parent = nullptr);

    // Shows the task's results in the order the user chose (newest first unless another column was sorted);
    // none clears the table.
    void showTask(Task* task);
    Task* task() const;
    // The status-bar line of the shown task: "Results Count: N", or "(M shown)" beside it while searching.
    void showCount();
    void focusSearch();
    // The column the results are sorted by and the order, as the user left them.
    int sortColumn() const;
    Qt::SortOrder sortOrder() const;
    // Sorts by the column (a missing one: newest first).
    void sortBy(int column, Qt::SortOrder order);

    // Marks the row's result read.
    void markRead(const QModelIndex& index);
    // Opens the row's link in the browser, if it is a web address.
    void openLink(const QModelIndex& index);
    // Removes the results of every selected row (or the current one).
    void removeSelected();
    // Unless set, links are opened with the desktop's browser.
    void setLinkOpener(LinkOpener opener) { linkOpener = std::move(opener); }
    QAction* openLinkAction() const { return openLink_; }
    QAction* copyLinkAction() const { return copyLink_; }

signals:
    void message(const QString& text);

private:
    // "Results Count: 3" of the task shown.
    QString countText() const;
    void setUpSearch();
    void copyCurrentLink();
    Task::ResultPtr resultAt(const QModelIndex& index) const;
    // The results of the selected rows, in the order shown.
    Task::ResultList selectedResults() const;

    QTableView* table;
    WatchList& core;
    ResultTableModel* model;
    ResultSearchProxy* proxy;
    QLineEdit* searchField = nullptr;
    QAction* openLink_;
    QAction* copyLink_;
    LinkOpener linkOpener;
};
