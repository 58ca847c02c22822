// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/logging.h"
#include "app/resultspane.h"
#include "app/sharedstroke.h"
#include "app/taskcommands.h"
#include "app/tasklistmodel.h"
#include "app/trayannouncer.h"
#include "app/trayicon.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialoghelp.h"
#include "engine/fetching/fetchrequest.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QUrl>

namespace {
constexpr int HideDelayMs = 250;
const QString MakerSite = QStringLiteral("http://www.orrimbel-studio.example");

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
    : QMainWindow(parent), ui(new Ui::MainWindow), core(core), registry(core.registry()), settings(settings)
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
    connect(&registry, &TaskRegistry::countsArrived, this, [this] {
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
    connect(&registry, &TaskRegistry::checkStateChanged, this, [this](Task* task) {
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
    return registry.tasks();
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
    taskModel = new TaskListModel(registry, core.checks(), &core.health(), this);
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

    results = new ResultsPane(ui->tableWidget, registry, this);
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

// ---- tray and window state ----

void MainWindow::setUpTray()
{
    tray = new TrayIcon(this);
    connect(tray, &TrayIcon::minimizeRequested, this, &QWidget::hide);
    connect(tray, &TrayIcon::maximizeRequested, this, &QWidget::showMaximized);
    connect(tray, &TrayIcon::updateRequested, this, &MainWindow::on_actionUpdate_Tasks_triggered);
    connect(tray, &TrayIcon::quitRequested, this, &QWidget::close);
    connect(tray, &TrayIcon::showRequested, this, &MainWindow::showFromTray);
    announcer = new TrayAnnouncer(core, tray, this);
    connect(announcer, &TrayAnnouncer::selectTask, this, &MainWindow::selectTask);
    connect(commands, &TaskCommands::announce, announcer, &TrayAnnouncer::announce);
    announcer->updateToolTip();
}

void MainWindow::showFromTray()
{
    show();
    if (windowState() & Qt::WindowMaximized)
        setWindowState(Qt::WindowMaximized);
    else
        setWindowState(Qt::WindowActive);
}

void MainWindow::setTrayAvailable(bool available)
{
    tray->setAvailable(available);
}

void MainWindow::setNotifier(DesktopNotifier* sink)
{
    tray->setNotifier(sink);
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // Without a tray a hidden window could never be brought back: it stays minimised and the window
        // manager's task bar or window list restores it.
        if (!tray->isAvailable())
            return QMainWindow::event(event);
        // Restored (or the tray gone) within the delay: nothing to hide any more.
        QTimer::singleShot(HideDelayMs, this, [this] {
            if ((windowState() & Qt::WindowMinimized) && tray->isAvailable())
                hide();
        });
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::bringToFront()
{
    showFromTray();
    raise();
    activateWindow();
}

void MainWindow::readSettings()
{
    const WindowState state = settings.windowState();
    if (state.maximized) {
        showMaximized();
    } else {
        resize(state.size);
        // A position on no screen (another monitor set-up, or a hand-edited file) would put the window out
        // of sight; it then opens where it opens on a first start.
        move(QGuiApplication::screenAt(state.pos) ? state.pos : QPoint(0, 0));
    }
    ui->mainToolBar->setVisible(state.toolbar);
    // At a first start the task list takes two thirds of the left pane, once the window is laid out; the user's
    // own split is kept from then on.
    if (!ui->splitter->restoreState(state.splitter))
        QTimer::singleShot(0, this, [this] {
            const int total = ui->splitter->sizes().value(0) + ui->splitter->sizes().value(1);
            ui->splitter->setSizes({total - total / 3, total / 3});
        });
    ui->splitter_2->restoreState(state.splitter2);
    results->sortBy(state.resultsSortColumn, state.resultsSortOrder);
}

void MainWindow::writeSettings()
{
    // The toolbar as the user chose it, not whether it happens to be visible (the window may be hidden in
    // the tray). Closed before the tasks were read beside it, the window keeps the task remembered before.
    const int remembered =
        registry.tasks().isEmpty() && registry.isPreparing() ? settings.windowState().selectedTaskRow : 0;
    settings.setWindowState(WindowState{pos(), size(), isMaximized(), !ui->mainToolBar->isHidden(),
                                        ui->splitter->saveState(), ui->splitter_2->saveState(), results->sortColumn(),
                                        results->sortOrder(), selectedTask() ? selectedTask()->rowId() : remembered});
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    stroke->cancel();
    writeSettings();
    closed = true;
    // Quitting ends every wait at once: downloads are aborted and the waiting command returns.
    core.abortWaits();
    event->accept();
    // Qt ends the program by itself only when a visible window closes; hidden in the tray (or closed from a
    // command's wait) the program would run on without a window. Every way out ends the event loop here;
    // without a running event loop this does nothing.
    QCoreApplication::quit();
}

void MainWindow::on_actionQuit_triggered()
{
    close();
}

void MainWindow::on_actionShow_grid_triggered()
{
    ui->tableWidget->setShowGrid(ui->actionShow_grid->isChecked());
}

// ---- start-up notice and options ----

void MainWindow::showStartTask()
{
    // The task selected when the window last closed is shown at start, else the first.
    if (taskModel->rowCount() > 0) {
        qCDebug(lcApp) << "tasks loaded:" << taskModel->rowCount();
        QModelIndex shown = taskModel->index(0, 0);
        const int row = settings.windowState().selectedTaskRow;
        for (Task* task : registry.tasks()) {
            if (row > 0 && task->rowId() == row)
                shown = taskModel->indexOf(task);
        }
        ui->treeWidgetTaskList->setCurrentIndex(shown);
    }
    showTask();
}

void MainWindow::showPreparing(bool buildingIndexes)
{
    preparingLabel()->setText(buildingIndexes ? tr("Building the indexes of task.db (once for this file)\u2026")
                                              : tr("Counting the stored results\u2026"));
}

void MainWindow::showReadingTasks()
{
    preparingLabel()->setText(tr("Reading the tasks of task.db\u2026"));
}

QLabel* MainWindow::preparingLabel()
{
    auto* label = findChild<QLabel*>(QStringLiteral("preparing"));
    if (!label) {
        label = new QLabel(this);
        label->setObjectName(QStringLiteral("preparing"));
        statusBar()->addPermanentWidget(label);
    }
    return label;
}

void MainWindow::showPrepared(const QString& indexFailure, const QString& countFailure)
{
    delete findChild<QLabel*>(QStringLiteral("preparing"));
    if (!indexFailure.isEmpty())
        showMessage(tr("The indexes of task.db could not be built (%1); it is read more slowly.").arg(indexFailure));
    else if (!countFailure.isEmpty())
        showMessage(tr("The stored results could not be counted beside the window (%1).").arg(countFailure));
}

void MainWindow::showOldResultsKept(const QString& reason)
{
    // Kept beside the status bar's messages, so the results count shown next does not cover it.
    const QString message = tr("Could not delete the old results: %1. They are kept until the next start.").arg(reason);
    auto* label = new QLabel(message, this);
    label->setObjectName(QStringLiteral("startupFailure"));
    label->setToolTip(message);
    statusBar()->addPermanentWidget(label);
}

void MainWindow::on_action_Options_triggered()
{
    commands->changeOptions();
}

// ---- help ----

void MainWindow::on_actionHelp_triggered()
{
    // The guide is built into the program: it needs no network and no browser.
    DialogHelp dialog(this);
    dialog.exec();
}

void MainWindow::on_actionHomepage_triggered()
{
    QDesktopServices::openUrl(QUrl(MakerSite + QStringLiteral("/index.html")));
}

void MainWindow::on_actionAbout_triggered()
{
    DialogAbout dialog(this);
    dialog.exec();
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
    QStringList values{task->taskDateText(), task->grabText(), task->address(), frequencyText(task->frequency())};
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

// ---- announcements and the commands ----

void MainWindow::announceResults(Task* task, const Task::ResultList&)
{
    // The results table follows the core by itself; the count is of the task shown.
    if (task == selectedTask())
        results->showCount();
}

void MainWindow::setUpCommands()
{
    commands = new TaskCommands(this, core, settings, [this] { return selectedTask(); });
    connect(commands, &TaskCommands::message, this, &MainWindow::showMessage);
    connect(commands, &TaskCommands::selectTask, this, &MainWindow::selectTask);
    connect(commands, &TaskCommands::resultsReplaced, this, &MainWindow::showTaskResults);
    connect(commands, &TaskCommands::taskEdited, this, &MainWindow::showTaskProperties);
    connect(commands, &TaskCommands::noTaskSelected, this, &MainWindow::showNoTaskSelected);
    connect(commands, &TaskCommands::taskRemoved, this, &MainWindow::showAfterRemoval);
    connect(commands, &TaskCommands::allTasksRemoved, ui->tableWidgetTaskInfo, &QTableWidget::clearContents);
    // The Edit menu names what Undo puts back.
    const auto showUndo = [this] {
        const QString what = registry.undoText();
        ui->actionUndo->setEnabled(!what.isEmpty());
        ui->actionUndo->setText(what.isEmpty() ? tr("&Undo") : tr("&Undo Removal of %1").arg(what));
    };
    connect(&registry, &TaskRegistry::undoChanged, this, showUndo);
    showUndo();
}

void MainWindow::selectTask(Task* task)
{
    ui->treeWidgetTaskList->setCurrentIndex(taskModel->indexOf(task));
}

void MainWindow::on_actionUpdate_Tasks_triggered()
{
    commands->updateAll();
}

void MainWindow::on_actionReset_Results_triggered()
{
    commands->resetResults();
}

void MainWindow::on_action_New_Task_triggered()
{
    commands->newTask();
}

void MainWindow::on_actionEdit_Task_triggered()
{
    commands->editTask();
}

void MainWindow::on_actionExport_Tasks_triggered()
{
    commands->exportTasks();
}

void MainWindow::on_actionImport_Tasks_triggered()
{
    commands->importTasks();
}

void MainWindow::on_actionPause_Task_triggered()
{
    toggleSwitch(true);
}

void MainWindow::on_actionMute_Task_triggered()
{
    toggleSwitch(false);
}

void MainWindow::toggleSwitch(bool paused)
{
    Task* task = selectedTask();
    if (!task) {
        showTaskSwitches();
        showNoTaskSelected();
        return;
    }
    const bool on = !(paused ? task->isPaused() : task->isMuted());
    const TaskChecker::Switch which = paused ? TaskChecker::Switch::Paused : TaskChecker::Switch::Muted;
    if (core.setSwitch(task, which, on) != Commands::Outcome::Done) {
        showMessage(tr("Could not change task %1: %2").arg(task->name(), core.lastError()));
    } else if (paused) {
        showMessage(on ? tr("Task %1 paused: it is not checked until it is resumed.").arg(task->name())
                       : tr("Task %1 resumed.").arg(task->name()));
    } else {
        showMessage(on ? tr("Task %1 muted: it is checked, but nothing of it is announced.").arg(task->name())
                       : tr("Task %1 unmuted.").arg(task->name()));
    }
    showTaskSwitches();
    showTaskProperties();
}

void MainWindow::showTaskSwitches()
{
    const Task* task = selectedTask();
    ui->actionPause_Task->setChecked(task && task->isPaused());
    ui->actionMute_Task->setChecked(task && task->isMuted());
}

void MainWindow::on_actionMark_All_Read_triggered()
{
    commands->markAllRead();
}

// ---- context menus and removal ----

void MainWindow::on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->actionEdit_Task);
    menu.addAction(ui->actionPause_Task);
    menu.addAction(ui->actionMute_Task);
    menu.addAction(ui->actionMark_All_Read);
    menu.addSeparator();
    menu.addAction(ui->action_Remove_Task);
    menu.addAction(ui->actionRemove_All_Results);
    menu.addAction(ui->actionRemove_All_Tasks);
    const bool onRow = ui->treeWidgetTaskList->indexAt(pos).row() >= 0;
    ui->action_Remove_Task->setEnabled(onRow);
    ui->actionEdit_Task->setEnabled(onRow);
    ui->actionPause_Task->setEnabled(onRow);
    ui->actionMute_Task->setEnabled(onRow);
    ui->actionMark_All_Read->setEnabled(onRow);
    ui->actionRemove_All_Results->setEnabled(onRow);
    menu.exec(QCursor::pos());
    // Their shortcuts and the Edit menu work wherever the menu was opened.
    ui->actionEdit_Task->setEnabled(true);
    ui->actionPause_Task->setEnabled(true);
    ui->actionMute_Task->setEnabled(true);
    ui->actionMark_All_Read->setEnabled(true);
    ui->actionRemove_All_Results->setEnabled(true);
}

void MainWindow::on_tableWidget_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->actionMark_All_Read);
    menu.addSeparator();
    menu.addAction(ui->actionRemove_Result);
    menu.addAction(ui->actionRemove_All_Results);
    menu.addSeparator();
    menu.addAction(results->openLinkAction());
    menu.addAction(results->copyLinkAction());
    const bool onRow = ui->tableWidget->indexAt(pos).row() >= 0;
    ui->actionRemove_Result->setEnabled(onRow);
    results->openLinkAction()->setEnabled(onRow);
    results->copyLinkAction()->setEnabled(onRow);
    menu.exec(QCursor::pos());
    // Ctrl+C must keep working after a menu that was opened beside the rows.
    results->copyLinkAction()->setEnabled(true);
}

void MainWindow::on_action_Remove_Task_triggered()
{
    commands->removeSelectedTask();
}

void MainWindow::on_actionUndo_triggered()
{
    commands->undoRemoval();
}

void MainWindow::showNoTaskSelected()
{
    QMessageBox::information(this, tr("No Task Selected"), tr("Please select a task first"), QMessageBox::Ok);
}

void MainWindow::showAfterRemoval()
{
    // The removed row has left the list, and the neighbour became current; it is selected and shown too.
    const QModelIndex now = ui->treeWidgetTaskList->currentIndex();
    if (now.isValid())
        ui->treeWidgetTaskList->selectionModel()->select(now, QItemSelectionModel::ClearAndSelect);
    showTask();
}

void MainWindow::on_actionRemove_All_Tasks_triggered()
{
    commands->removeAllTasks();
}

void MainWindow::on_actionRemove_Result_triggered()
{
    // Acts on every selected row of the results table, when the table has the focus.
    if (!registry.tasks().isEmpty() && ui->tableWidget->hasFocus() && !commandRunning())
        results->removeSelected();
}

void MainWindow::on_actionRemove_All_Results_triggered()
{
    commands->removeTaskResults();
}
