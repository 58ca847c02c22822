// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/logging.h"
#include "app/resultspane.h"
#include "app/sharedstroke.h"
#include "app/taskcommands.h"
#include "app/tasklistmodel.h"
#include "app/trayannouncer.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "engine/fetching/fetchrequest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QStyledItemDelegate>

namespace {
// Draws the status bar's message cut with "..." to the room it has; the whole text is its tooltip.
class FittingMessage : public QObject
{
public:
    explicit FittingMessage(QStatusBar* bar) : QObject(bar), bar(bar)
    {
        bar->installEventFilter(this);
        connect(bar, &QStatusBar::messageChanged, this, [bar](const QString& text) { bar->setToolTip(text); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != bar || event->type() != QEvent::Paint || bar->currentMessage().isEmpty())
            return false;
        // Left of the widgets kept beside the messages and of the size grip.
        const int margin = 6;
        int right = bar->width() - margin;
        for (const QWidget* child : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible())
                right = qMin(right, child->x() - margin);
        }
        const QRect room(margin, 0, qMax(0, right - margin), bar->height());
        QPainter painter(bar);
        painter.setPen(bar->palette().windowText().color());
        painter.drawText(room, Qt::AlignLeading | Qt::AlignVCenter | Qt::TextSingleLine,
                         bar->fontMetrics().elidedText(bar->currentMessage(), Qt::ElideRight, room.width()));
        return true;
    }

private:
    QStatusBar* bar;
};

// Gives every row of the task list the height of a row that shows an icon, so a list of any length can tell
// its rows' places without asking each row its height (see setUniformRowHeights), and a row whose icon comes
// or goes keeps its height.
class TaskRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem withIcon(option);
        initStyleOption(&withIcon, index);
        withIcon.features |= QStyleOptionViewItem::HasDecoration;
        const QStyle* style = withIcon.widget ? withIcon.widget->style() : QApplication::style();
        if (withIcon.decorationSize.isEmpty()) {
            const int side = style->pixelMetric(QStyle::PM_SmallIconSize, &withIcon, withIcon.widget);
            withIcon.decorationSize = QSize(side, side);
        }
        const QSize tallest = style->sizeFromContents(QStyle::CT_ItemViewItem, &withIcon, QSize(), withIcon.widget);
        const QSize own = QStyledItemDelegate::sizeHint(option, index);
        return {own.width(), qMax(own.height(), tallest.height())};
    }
};
} // namespace

MainWindow::MainWindow(TaskChecker& core, Settings& settings, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), core(core), watches(core.watches()), settings(settings)
{
    ui->setupUi(this);
    setUpViews();
    setUpCommands();
    setUpTray();
    new FittingMessage(statusBar());
    ui->webView->setVisible(false);
    readSettings();

    connect(&core.periodic(), &PeriodicChecks::resultsFound, this, &MainWindow::announceResults);
    connect(&core.periodic(), &PeriodicChecks::storageFailed, this, &MainWindow::showMessage);
    // The counts made after the window showed: the tray and the task shown follow.
    connect(&watches, &WatchList::countsArrived, this, [this] {
        announcer->updateToolTip();
        showTask();
    });
    connect(&core.periodic(), &PeriodicChecks::backgroundCheckFailed, this, [this](Task* task, const QString& reason) {
        showMessage(PageFetch::isReadingFailure(reason)
                        ? tr("The page of %1 was downloaded but could not be read (%2).").arg(task->name(), reason)
                        : tr("The page of %1 could not be downloaded (%2).").arg(task->name(), reason));
    });
    // News that did not reach its destination, and news pushed out of a full outbox, are said at once.
    connect(&core.news(), &NewsOutbox::deliveryFailed, this,
            [this](int, const QString& message) { statusBar()->showMessage(message); });
    connect(&core.news(), &NewsOutbox::newsDropped, this, [this](int count) {
        statusBar()->showMessage(
            tr("%n piece(s) of news waited too long for delivery and were dropped, the oldest first.", "", count));
    });
    connect(&watches, &WatchList::checkStateChanged, this, [this](Task* task) {
        if (task == selectedTask())
            showTaskProperties();
    });
    connect(&core.health(), &TaskHealth::lookNeeded, this, [this](Task* task, const QString& reason) {
        statusBar()->showMessage(Announcement::needsLookText(task->name(), reason));
    });

    showStartTask();

    // Every action of the window and the tray exists by now: each of them ends a started stroke.
    stroke = new SharedStroke(
        this, ui->action_Remove_Task, ui->actionReset_Results, ui->actionQuit, [this] { return selectedTask(); },
        [this] { return commandRunning(); });
    connect(stroke, &SharedStroke::removeRequested, commands, &TaskCommands::removeTask);
    connect(stroke, &SharedStroke::noTaskSelected, this, &MainWindow::showNoTaskSelected);
    connect(stroke, &SharedStroke::quitRequested, this, &QWidget::close);
    connect(stroke, &SharedStroke::resetRequested, this, [this] {
        if (ui->actionReset_Results->isEnabled())
            ui->actionReset_Results->trigger();
    });

    // The session may end the program without closing a window hidden in the tray; its state is kept then too.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!closed)
            writeSettings();
    });
}

MainWindow::~MainWindow()
{
    // The stroke filter asks the window while it runs: it goes first.
    delete stroke;
    delete ui;
}

void MainWindow::showDatabaseFailure(const QString& fileName, const QString& reason)
{
    QMessageBox::critical(nullptr, tr("Cannot open database"),
                          tr("Unable to establish a database connection.\n"
                             "This program needs SQLite support. \n\n"
                             "Click Cancel to exit.") +
                              QStringLiteral("\n\n") +
                              tr("%1: %2").arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath()),
                                               reason.isEmpty() ? tr("unknown reason") : reason),
                          QMessageBox::Cancel);
}

const QList<Task*>& MainWindow::taskList() const
{
    return watches.tasks();
}

bool MainWindow::commandRunning() const
{
    return commands->busy();
}

QString MainWindow::frequencyText(int seconds)
{
    if (seconds % 86400 == 0)
        return QString::number(seconds / 86400) + QStringLiteral("(Day)");
    if (seconds % 3600 == 0)
        return QString::number(seconds / 3600) + QStringLiteral("(Hour)");
    if (seconds % 60 == 0)
        return QString::number(seconds / 60) + QStringLiteral("(Minute)");
    return QStringLiteral("0");
}

void MainWindow::setUpViews()
{
    taskModel = new TaskListModel(watches, core.checks(), &core.health(), this);
    taskModel->setNews(&core.news());
    ui->treeWidgetTaskList->setModel(taskModel);
    // Without one height for all rows the view sums every row's height whenever one changes: seconds of a
    // frozen window on 100,000 tasks when their counts arrive.
    ui->treeWidgetTaskList->setItemDelegate(new TaskRowDelegate(ui->treeWidgetTaskList));
    ui->treeWidgetTaskList->setUniformRowHeights(true);
    ui->treeWidgetTaskList->header()->setDefaultAlignment(Qt::AlignCenter);
    connect(ui->treeWidgetTaskList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::showTask);
    // The task list's second, narrow column counts each task's unread results.
    QHeaderView* tasksHeader = ui->treeWidgetTaskList->header();
    tasksHeader->setStretchLastSection(false);
    tasksHeader->setSectionResizeMode(TaskListModel::NameColumn, QHeaderView::Stretch);
    tasksHeader->setSectionResizeMode(TaskListModel::UnreadColumn, QHeaderView::ResizeToContents);

    // The property column as wide as its labels, the values take the rest of the width.
    ui->tableWidgetTaskInfo->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ui->tableWidgetTaskInfo->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

    results = new ResultsPane(ui->tableWidget, watches, this);
    connect(results, &ResultsPane::message, this, &MainWindow::showMessage);
}

void MainWindow::on_actionFind_triggered()
{
    results->focusSearch();
}

void MainWindow::showMessage(const QString& text)
{
    statusBar()->showMessage(text);
}

// ---- task list, property table, results table ----

Task* MainWindow::selectedTask() const
{
    return taskModel->task(ui->treeWidgetTaskList->currentIndex());
}

void MainWindow::showTask()
{
    showTaskResults();
    showTaskProperties();
    showTaskSwitches();
}

void MainWindow::showTaskProperties()
{
    QTableWidget* table = ui->tableWidgetTaskInfo;
    table->clear();
    table->setHorizontalHeaderLabels({QStringLiteral("Property"), QStringLiteral("Value")});
    table->horizontalHeader()->setVisible(true);

    const Task* task = selectedTask();
    if (!task)
        return;
    QStringList labels{QStringLiteral("Date"), QStringLiteral("Keyword"), QStringLiteral("Url"),
                       QStringLiteral("Frequency")};
    QStringList values{task->taskDateText(), task->keyword(), task->address(), frequencyText(task->frequency())};
    // Pause and mute, when on, and why the task needs a look.
    QStringList state;
    if (task->isPaused())
        state << tr("Paused: not checked");
    if (task->isMuted())
        state << tr("Muted: checked, not announced");
    if (core.health().needsLook(task))
        state << tr("Needs a look: %1").arg(core.health().reason(task));
    if (!state.isEmpty()) {
        labels << QStringLiteral("State");
        values << state.join(QStringLiteral("; "));
    }
    table->setRowCount(int(labels.size()));
    for (int row = 0; row < labels.size(); ++row) {
        table->setItem(row, 0, new QTableWidgetItem(labels.at(row)));
        auto* value = new QTableWidgetItem(values.at(row));
        // The full value, however narrow the column.
        value->setToolTip(values.at(row));
        table->setItem(row, 1, value);
    }
    // The columns size themselves: the labels to their contents, the values to the rest (resizing them to
    // their contents would push the values past the table's edge).
}

void MainWindow::showTaskResults()
{
    results->showTask(selectedTask());
}

void MainWindow::on_tableWidget_pressed(const QModelIndex& index)
{
    results->markRead(index);
}

void MainWindow::on_tableWidget_clicked(const QModelIndex& index)
{
    results->markRead(index);
}

void MainWindow::on_tableWidget_activated(const QModelIndex& index)
{
    results->markRead(index);
}

void MainWindow::on_tableWidget_doubleClicked(const QModelIndex& index)
{
    // Read first, as a click marks it, then opened.
    results->markRead(index);
    results->openLink(index);
}

void MainWindow::setLinkOpener(ResultsPane::LinkOpener opener)
{
    results->setLinkOpener(std::move(opener));
}
