// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/resultspane.h"

#include "app/resultlink.h"
#include "app/resultsearchproxy.h"
#include "app/resulttablemodel.h"
#include "core/watchlist.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSplitter>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

namespace {
// Qt's header asks the style for an "up" indicator when sorted descending (and "down" for ascending), which
// the styles draw as arrows pointing the other way than the order shown; the arrow here points the way the
// values grow: down for newest first.
class SortArrowStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element != PE_IndicatorHeaderArrow || !header) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        QStyleOptionHeader turned(*header);
        if (header->sortIndicator == QStyleOptionHeader::SortUp)
            turned.sortIndicator = QStyleOptionHeader::SortDown;
        else if (header->sortIndicator == QStyleOptionHeader::SortDown)
            turned.sortIndicator = QStyleOptionHeader::SortUp;
        QProxyStyle::drawPrimitive(element, &turned, painter, widget);
    }
};

// The search field would take Ctrl+E, Ctrl+U and the like as line-editing keys; there the window's
// commands come first, and the field keeps the keys of editing text (Ctrl+A, Ctrl+C, Ctrl+V, ...).
class WindowShortcutsFirst : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            static const QList<int> commands{Qt::Key_E, Qt::Key_U, Qt::Key_M, Qt::Key_N, Qt::Key_R,
                                             Qt::Key_D, Qt::Key_K, Qt::Key_Q, Qt::Key_F};
            if (key->modifiers() == Qt::ControlModifier && commands.contains(key->key()))
                return true; // not taken by the field: the shortcut runs
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

ResultsPane::ResultsPane(QTableView* table, WatchList& core, QObject* parent)
    : QObject(parent), table(table), core(core), model(new ResultTableModel(core, this)),
      proxy(new ResultSearchProxy(ResultTableModel::TextColumn, ResultTableModel::LinkColumn, this))
{
    proxy->setSortRole(ResultTableModel::SortRole);
    proxy->setSourceModel(model);
    table->setModel(proxy);
    // Date and state as wide as they need, text and link share the rest; one line of text a row, the full
    // text and link in the tooltip.
    QHeaderView* header = table->horizontalHeader();
    auto* arrows = new SortArrowStyle;
    arrows->setParent(header);
    header->setStyle(arrows);
    header->setSectionResizeMode(ResultTableModel::DateColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ResultTableModel::StateColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ResultTableModel::TextColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ResultTableModel::LinkColumn, QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(qMax(table->fontMetrics().height(), table->iconSize().height()) + 6);
    table->sortByColumn(ResultTableModel::DateColumn, Qt::DescendingOrder);
    setUpSearch();

    // Ctrl+C belongs to the table, where it copies the selected result's link instead of the one cell Qt
    // would copy.
    openLink_ = new QAction(tr("Open Link"), table);
    openLink_->setObjectName(QStringLiteral("actionOpen_Link"));
    connect(openLink_, &QAction::triggered, this, [this] { openLink(this->table->currentIndex()); });
    copyLink_ = new QAction(tr("Copy Link"), table);
    copyLink_->setObjectName(QStringLiteral("actionCopy_Link"));
    copyLink_->setShortcut(QKeySequence::Copy);
    copyLink_->setShortcutContext(Qt::WidgetShortcut);
    connect(copyLink_, &QAction::triggered, this, &ResultsPane::copyCurrentLink);
    table->addAction(copyLink_);
}

void ResultsPane::setUpSearch()
{
    // Above the results: a field whose words each row's text or link must all contain.
    searchField = new QLineEdit;
    searchField->setObjectName(QStringLiteral("lineEditSearch"));
    searchField->setPlaceholderText(tr("Search results (Ctrl+F)"));
    searchField->setClearButtonEnabled(true);
    auto* splitter = qobject_cast<QSplitter*>(table->parentWidget());
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    if (splitter) {
        const int at = splitter->indexOf(table);
        layout->addWidget(searchField);
        layout->addWidget(table);
        splitter->insertWidget(at, holder);
    } else if (auto* parentLayout = table->parentWidget() ? table->parentWidget()->layout() : nullptr) {
        parentLayout->replaceWidget(table, holder);
        layout->addWidget(searchField);
        layout->addWidget(table);
    }
    searchField->installEventFilter(new WindowShortcutsFirst(searchField));
    connect(searchField, &QLineEdit::textChanged, this, [this](const QString& text) {
        proxy->setSearch(text);
        showCount();
    });
    // Escape empties the field (and leaves the focus there).
    auto* clear = new QAction(searchField);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetShortcut);
    connect(clear, &QAction::triggered, searchField, &QLineEdit::clear);
    searchField->addAction(clear);
}

int ResultsPane::sortColumn() const
{
    return table->horizontalHeader()->sortIndicatorSection();
}

Qt::SortOrder ResultsPane::sortOrder() const
{
    return table->horizontalHeader()->sortIndicatorOrder();
}

void ResultsPane::sortBy(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ResultTableModel::ColumnCount)
        table->sortByColumn(ResultTableModel::DateColumn, Qt::DescendingOrder);
    else
        table->sortByColumn(column, order == Qt::AscendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void ResultsPane::focusSearch()
{
    searchField->setFocus(Qt::ShortcutFocusReason);
    searchField->selectAll();
}

void ResultsPane::showTask(Task* task)
{
    model->setTask(task);
    const QHeaderView* header = table->horizontalHeader();
    table->sortByColumn(header->sortIndicatorSection(), header->sortIndicatorOrder());
    if (task)
        showCount();
}

Task* ResultsPane::task() const
{
    return model->task();
}

void ResultsPane::showCount()
{
    if (model->task())
        emit message(countText());
}

QString ResultsPane::countText() const
{
    const Task* shown = model->task();
    if (!shown)
        return {};
    if (shown->unreadCount() == Task::UncountedResults)
        return tr("Results Count: counting\u2026");
    const int count = int(shown->results().size());
    if (proxy->isSearching())
        return tr("Results Count: %1 (%2 shown)").arg(count).arg(proxy->rowCount());
    return tr("Results Count: %1").arg(count);
}

Task::ResultPtr ResultsPane::resultAt(const QModelIndex& index) const
{
    return index.isValid() ? model->result(proxy->mapToSource(index).row()) : nullptr;
}

Task::ResultList ResultsPane::selectedResults() const
{
    Task::ResultList results;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
        if (const Task::ResultPtr result = resultAt(index))
            results.append(result);
    }
    if (results.isEmpty()) {
        if (const Task::ResultPtr result = resultAt(table->currentIndex()))
            results.append(result);
    }
    return results;
}

void ResultsPane::markRead(const QModelIndex& index)
{
    Task* shown = model->task();
    const Task::ResultPtr result = resultAt(index);
    if (shown && result && result->state != StateRead && !core.markRead(shown, {result}))
        emit message(tr("Could not %1: %2").arg(tr("mark the result read"), core.lastError()));
}

void ResultsPane::removeSelected()
{
    Task* shown = model->task();
    const Task::ResultList results = selectedResults();
    if (!shown || results.isEmpty())
        return;
    if (!core.removeResults(shown, results))
        emit message(
            tr("Could not %1: %2")
                .arg(results.size() == 1 ? tr("remove the result") : tr("remove the results"), core.lastError()));
    else
        emit message(tr("%1 removed. %2").arg(core.undoText(), countText()));
}

void ResultsPane::copyCurrentLink()
{
    const Task::ResultPtr result = resultAt(table->currentIndex());
    if (!result || result->link.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(result->link);
    emit message(tr("Link copied: %1").arg(result->link));
}

void ResultsPane::openLink(const QModelIndex& index)
{
    const Task::ResultPtr result = resultAt(index);
    if (!result || result->link.isEmpty())
        return;
    const QString link = result->link;
    const QUrl url(link);
    if (!ResultLink::isBrowsable(url)) {
        emit message(tr("Not opened: %1 is not a web address (only http and https links are opened).").arg(link));
        return;
    }
    const bool opened = linkOpener ? linkOpener(url) : ResultLink::openInBrowser(url);
    if (!opened)
        emit message(tr("Could not open %1 in a browser.").arg(link));
}
