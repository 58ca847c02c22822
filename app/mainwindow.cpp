// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/appsettings.h"
#include "app/desktopnotifier.h"
#include "app/resultlink.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialoghelp.h"
#include "dialogs/dialognewtask.h"
#include "dialogs/dialogoption.h"
#include "dialogs/dialogprogress.h"
#include "engine/logging.h"
#include "engine/tools.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {
bool isModifier(int key)
{
    return key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta;
}

constexpr int BalloonMs = 1000;
constexpr int HideDelayMs = 250;
constexpr int SharedStrokeMs = 1000;
const QString MakerSite = QStringLiteral("http://www.orrimbel-studio.example");
const QString DateFormat = QStringLiteral("MM/dd/yyyy");

} // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    // db was constructed with the other members; without a database there is nothing to show.
    if (!db.isOpen()) {
        QMessageBox::critical(nullptr, tr("Cannot open database"),
                              tr("Unable to establish a database connection.\n"
                                 "This program needs SQLite support. \n\n"
                                 "Click Cancel to exit."),
                              QMessageBox::Cancel);
        return;
    }

    ui->setupUi(this);
    createActions();
    createTrayIcon();
    setUpSharedStroke();
    ui->webView->setVisible(false);
    ui->splitter->setSizes({1, 207});
    readSettings();

    connect(ui->treeWidgetTaskList, &QTreeWidget::itemSelectionChanged, this, &MainWindow::showTaskResults);
    connect(ui->treeWidgetTaskList, &QTreeWidget::itemSelectionChanged, this, &MainWindow::showTaskProperties);
    connect(trayIcon, &QSystemTrayIcon::messageClicked, this, &MainWindow::trayMessageClicked);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayIconActivated);
    connect(this, &MainWindow::stateIconChanged, this, &MainWindow::changeStateIcon);

    readOptions();
    loadTaskList();
    showTaskResults();
    showTaskProperties();

    connect(&core, &TaskChecker::resultsFound, this, &MainWindow::announceResults);
    connect(&core, &TaskChecker::storageFailed, this,
            [this](const QString& message) { statusBar()->showMessage(message); });
    connect(&core, &TaskChecker::checkStateChanged, this, &MainWindow::markCheckState);
    connect(&core, &TaskChecker::backgroundCheckFailed, this, [this](Task* task, const QString& reason) {
        statusBar()->showMessage(tr("The page of %1 could not be downloaded (%2).").arg(task->name(), reason));
    });

    checkTimer = new QTimer(this);
    connect(checkTimer, &QTimer::timeout, this, &MainWindow::checkTask);
    checkTimer->start(checkIntervalMs);

    // The session may end the program without closing a window hidden in the tray; its state is kept then too.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!closed)
            writeSettings();
    });
}

MainWindow::~MainWindow()
{
    // The tasks go with the checking core, which aborts their downloads first.
    qApp->removeEventFilter(this);
    delete ui;
}

void MainWindow::setCheckInterval(int ms)
{
    checkIntervalMs = qMax(1, ms);
    if (checkTimer && checkTimer->isActive())
        checkTimer->start(checkIntervalMs);
}

bool MainWindow::commandRunning() const
{
    return core.isAborting() || const_cast<TaskChecker&>(core).guard().isBusy();
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

// ---- the stroke Remove Task and Reset Results share ----

void MainWindow::setUpSharedStroke()
{
    // Remove Task is Ctrl+R, Reset Results Ctrl+R, Ctrl+R. Left to Qt, the first stroke would run Remove Task
    // at once: Reset could never be reached by keyboard, and reaching for it would remove two tasks without a
    // question. The window tells them apart itself: a second stroke within a second means Reset, none means
    // Remove Task of the task selected at the first stroke, any other input means neither. The menus still
    // show both shortcuts.
    ui->action_Remove_Task->setShortcutContext(Qt::WidgetShortcut);
    ui->actionReset_Results->setShortcutContext(Qt::WidgetShortcut);
    strokeTimer = new QTimer(this);
    strokeTimer->setSingleShot(true);
    strokeTimer->setInterval(SharedStrokeMs);
    connect(strokeTimer, &QTimer::timeout, this, [this] {
        Task* task = pendingRemoval;
        const bool hadTask = pendingHadTask;
        pendingRemoval = nullptr;
        // Never inside a running command; a task removed meanwhile is not looked for again.
        if (commandRunning() || !ui->action_Remove_Task->isEnabled())
            return;
        if (task)
            removeTask(task);
        else if (!hadTask)
            showNoTaskSelected();
    });
    // Any command, from a menu, the toolbar, a shortcut or the tray, ends a started stroke. Called once every
    // action of the window and the tray exists.
    for (QAction* action : findChildren<QAction*>()) {
        if (action != ui->action_Remove_Task)
            connect(action, &QAction::triggered, this, &MainWindow::cancelPendingRemoval);
    }
    qApp->installEventFilter(this);
}

void MainWindow::cancelPendingRemoval()
{
    if (strokeTimer) // none when task.db could not be opened
        strokeTimer->stop();
    pendingRemoval = nullptr;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        // Quit works at any time, also while a command waits with the window disabled.
        if (commandRunning() && QKeySequence(key->keyCombination()) == ui->actionQuit->shortcut()) {
            close();
            return true;
        }
        // A key from the keyboard reaches the window's QWindow first and then the focused widget; only the
        // widget's copy counts, or the second Ctrl+R would cancel its own stroke on the way.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget)
            break;
        // Keys are seen before the focused view takes them, so that any key ends a started stroke.
        if (widget->window() == this && handleSharedStroke(key))
            return true;
        if (strokeTimer->isActive() && !isModifier(key->key()))
            cancelPendingRemoval();
        break;
    }
    case QEvent::ShortcutOverride:
        // A shortcut's key never arrives as a key press; it ends a started stroke here.
        if (strokeTimer->isActive() && qobject_cast<QWidget*>(watched)) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!isModifier(key->key()) && QKeySequence(key->keyCombination()) != ui->action_Remove_Task->shortcut())
                cancelPendingRemoval();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        cancelPendingRemoval();
        break;
    case QEvent::Show:
        // A dialog opening ends it too.
        if (strokeTimer->isActive() && qobject_cast<QDialog*>(watched))
            cancelPendingRemoval();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::handleSharedStroke(QKeyEvent* event)
{
    if (QKeySequence(event->keyCombination()) != ui->action_Remove_Task->shortcut())
        return false;
    if (!event->isAutoRepeat()) {
        if (strokeTimer->isActive()) {
            cancelPendingRemoval();
            if (ui->actionReset_Results->isEnabled())
                ui->actionReset_Results->trigger();
        } else if (!commandRunning()) {
            pendingRemoval = selectedTask();
            pendingHadTask = pendingRemoval != nullptr;
            strokeTimer->start();
        }
    }
    return true;
}

// ---- tray ----

void MainWindow::createActions()
{
    minimizeAction = new QAction(tr("Mi&nimize"), this);
    connect(minimizeAction, &QAction::triggered, this, &QWidget::hide);
    maximizeAction = new QAction(tr("Ma&ximize"), this);
    connect(maximizeAction, &QAction::triggered, this, &QWidget::showMaximized);
    updateNowAction = new QAction(tr("&Update Now"), this);
    connect(updateNowAction, &QAction::triggered, this, &MainWindow::on_actionUpdate_Tasks_triggered);
    quitAction = new QAction(tr("&Quit"), this);
    connect(quitAction, &QAction::triggered, this, &QWidget::close);

    // The results table's link commands. Ctrl+C belongs to the table, where it copies the selected
    // result's link instead of the one cell Qt would copy.
    openLinkAction = new QAction(tr("Open Link"), this);
    openLinkAction->setObjectName(QStringLiteral("actionOpen_Link"));
    connect(openLinkAction, &QAction::triggered, this, &MainWindow::openCurrentLink);
    copyLinkAction = new QAction(tr("Copy Link"), this);
    copyLinkAction->setObjectName(QStringLiteral("actionCopy_Link"));
    copyLinkAction->setShortcut(QKeySequence::Copy);
    copyLinkAction->setShortcutContext(Qt::WidgetShortcut);
    connect(copyLinkAction, &QAction::triggered, this, &MainWindow::copyCurrentLink);
    ui->tableWidget->addAction(copyLinkAction);
}

void MainWindow::createTrayIcon()
{
    trayIconMenu = new QMenu(this);
    trayIconMenu->addAction(minimizeAction);
    trayIconMenu->addAction(maximizeAction);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(updateNowAction);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(quitAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayIconMenu);
    trayIcon->setIcon(QIcon(QStringLiteral(":/64vantrel_robot.png")));
    trayIcon->setVisible(true);
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // Without a tray a hidden window could never be brought back: it stays minimised and the window
        // manager's task bar or window list restores it.
        if (!trayAvailable())
            return QMainWindow::event(event);
        // Restored (or the tray gone) within the delay: nothing to hide any more.
        QTimer::singleShot(HideDelayMs, this, [this] {
            if ((windowState() & Qt::WindowMinimized) && trayAvailable())
                hide();
        });
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::trayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger)
        trayMessageClicked();
}

void MainWindow::trayMessageClicked()
{
    show();
    if (windowState() & Qt::WindowMaximized)
        setWindowState(Qt::WindowMaximized);
    else
        setWindowState(Qt::WindowActive);
}

void MainWindow::showTrayMessage() {}

void MainWindow::showBalloon(const QString& title, const QString& text)
{
    if (trayAvailable()) {
        if (trayIcon && trayIcon->isVisible())
            trayIcon->showMessage(title, text, QSystemTrayIcon::Information, BalloonMs);
        return;
    }
    if (!notifier)
        notifier = new DesktopNotifier(DesktopNotifier::sessionBus(), this);
    notifier->notify(title, text, BalloonMs);
}

bool MainWindow::trayAvailable() const
{
    return trayOverride.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::bringToFront()
{
    trayMessageClicked();
    raise();
    activateWindow();
}

// ---- window state ----

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
    ui->splitter->restoreState(state.splitter);
    ui->splitter_2->restoreState(state.splitter2);
}

void MainWindow::writeSettings()
{
    // The toolbar as the user chose it, not whether it happens to be visible (the window may be hidden in
    // the tray).
    settings.setWindowState(WindowState{pos(), size(), isMaximized(), !ui->mainToolBar->isHidden(),
                                        ui->splitter->saveState(), ui->splitter_2->saveState()});
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    cancelPendingRemoval();
    if (db.isOpen())
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

// ---- options ----

void MainWindow::readOptions()
{
    const Options options = settings.options();
    if (options.autoDelete && !core.removeOldResults(options.deleteDays))
        showStartupFailure(
            tr("Could not delete the old results: %1. They are kept until the next start.").arg(core.lastError()));
    core.setReportNewLinks(options.reportNewLinks);
}

void MainWindow::showStartupFailure(const QString& message)
{
    // Kept beside the status bar's messages, so the results count shown next does not cover it.
    auto* label = new QLabel(message, this);
    label->setObjectName(QStringLiteral("startupFailure"));
    label->setToolTip(message);
    statusBar()->addPermanentWidget(label);
}

void MainWindow::on_action_Options_triggered()
{
    if (commandRunning())
        return;
    DialogOption dialog(settings.options(), this);
    if (dialog.exec() != QDialog::Accepted || commandRunning())
        return;
    Options options = dialog.options();
    // Turned on, new links are reported from each task's next check on; it first records what is there.
    QString failure;
    if (!core.setReportNewLinks(options.reportNewLinks, options.reportNewLinks && !core.reportNewLinks())) {
        failure = tr("Could not turn on reporting new links: %1").arg(core.lastError());
        options.reportNewLinks = false;
    }
    if (!settings.setOptions(options))
        statusBar()->showMessage(tr("The options could not be saved."));
    updateAutoRun(options.autoRun);
    if (!failure.isEmpty())
        statusBar()->showMessage(failure);
}

void MainWindow::updateAutoRun(bool autoRun)
{
    // task.db is opened from the folder the program was started in: the log-on start must use the same one.
    const bool ok = autoRun ? AutoStart::install(QCoreApplication::applicationFilePath(), QDir::currentPath())
                            : AutoStart::remove();
    if (!ok)
        statusBar()->showMessage(tr("The log-on start entry %1 could not be changed.").arg(AutoStart::entryPath()));
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

// ---- task list and property table ----

Task* MainWindow::selectedTask() const
{
    QTreeWidgetItem* current = ui->treeWidgetTaskList->currentItem();
    const int row = current ? ui->treeWidgetTaskList->indexOfTopLevelItem(current) : -1;
    const QList<Task*>& tasks = core.tasks();
    return row >= 0 && row < tasks.size() ? tasks.at(row) : nullptr;
}

void MainWindow::loadTaskList()
{
    core.loadTasks();
    const QList<Task*>& tasks = core.tasks();
    if (tasks.isEmpty())
        return;
    qCDebug(lcVantrel) << "tasks loaded:" << tasks.size();
    for (const Task* task : tasks) {
        auto* item = new QTreeWidgetItem(ui->treeWidgetTaskList);
        item->setText(0, task->name());
    }
    if (ui->treeWidgetTaskList->topLevelItemCount() > 0) {
        QTreeWidgetItem* first = ui->treeWidgetTaskList->itemAt(0, 0);
        if (!first)
            first = ui->treeWidgetTaskList->topLevelItem(0);
        ui->treeWidgetTaskList->setCurrentItem(first);
    }
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
    const QStringList labels{QStringLiteral("Date"), QStringLiteral("Keyword"), QStringLiteral("Url"),
                             QStringLiteral("Frequency")};
    const QStringList values{task->taskDateText(), task->grabText(), task->address(), frequencyText(task->frequency())};
    for (int row = 0; row < labels.size(); ++row) {
        table->setItem(row, 0, new QTableWidgetItem(labels.at(row)));
        table->setItem(row, 1, new QTableWidgetItem(values.at(row)));
    }
    table->resizeColumnsToContents();
}

// ---- results table ----

void MainWindow::fillResultRow(int row, int index, const Task::TaskResult& result, const QIcon& stateIcon)
{
    QTableWidget* table = ui->tableWidget;
    table->insertRow(row);
    // Every cell remembers the result's position in the task's list, so a row acts on the result it
    // shows even after the rows were sorted.
    const auto cell = [index](const QString& text) {
        auto* item = new QTableWidgetItem(text);
        item->setData(ResultIndexRole, index);
        return item;
    };
    table->setItem(row, 0, cell(result.date.toString(DateFormat)));
    QTableWidgetItem* state = cell(QString());
    state->setData(Qt::DecorationRole, stateIcon);
    table->setItem(row, 1, state);
    table->setItem(row, 2, cell(Tools::displayText(result.text))); // stored as captured, shown decoded
    table->setItem(row, 3, cell(result.link));
}

QIcon MainWindow::stateIcon(int state)
{
    if (state == StateNew)
        return QIcon(QStringLiteral(":/state_new.png"));
    if (state == StateRead)
        return QIcon(QStringLiteral(":/state_read.png"));
    return QIcon();
}

int MainWindow::resultIndexOfRow(int row) const
{
    const QTableWidgetItem* item = ui->tableWidget->item(row, 0);
    return item ? item->data(ResultIndexRole).toInt() : -1;
}

void MainWindow::showTaskResults()
{
    QTableWidget* table = ui->tableWidget;
    table->setRowCount(0);
    const Task* task = selectedTask();
    if (!task)
        return;
    const Task::ResultList results = task->results();
    if (results.isEmpty())
        return;

    // Filling thousands of rows repaints and re-sorts nothing until the table is complete.
    table->setUpdatesEnabled(false);
    const QIcon icons[] = {stateIcon(StateNew), stateIcon(StateRead)};
    for (int i = 0; i < results.size(); ++i) {
        const Task::TaskResult& result = *results.at(i);
        const QIcon icon = result.state == StateNew || result.state == StateRead ? icons[result.state] : QIcon();
        fillResultRow(i, i, result, icon);
    }
    table->sortItems(0, Qt::DescendingOrder);
    table->resizeColumnsToContents();
    table->setUpdatesEnabled(true);
    statusBar()->showMessage(tr("Results Count: %1").arg(results.size()));
}

void MainWindow::appendTaskRow(Task* task)
{
    if (!task || task->name().isEmpty())
        return;
    QTableWidget* table = ui->tableWidget;
    table->clearContents();
    table->setRowCount(0);
    const QIcon icon = stateIcon(StateNew);
    const Task::ResultList results = task->results();
    for (int i = 0; i < results.size(); ++i)
        fillResultRow(i, i, *results.at(i), icon);
}

void MainWindow::on_tableWidget_itemPressed(QTableWidgetItem* item)
{
    emit stateIconChanged(item);
}

void MainWindow::on_tableWidget_itemClicked(QTableWidgetItem* item)
{
    emit stateIconChanged(item);
}

void MainWindow::on_tableWidget_itemActivated(QTableWidgetItem* item)
{
    emit stateIconChanged(item);
}

void MainWindow::changeStateIcon(QTableWidgetItem* item)
{
    Task* task = selectedTask();
    if (!task || !item)
        return;
    const Task::ResultList results = task->results();
    if (results.isEmpty())
        return;
    const int row = ui->tableWidget->row(item);
    const int index = row >= 0 ? resultIndexOfRow(row) : -1;
    if (index < 0 || index >= results.size())
        return;
    if (!db.updateResultState(*results.at(index), StateRead)) {
        reportStorageFailure(tr("mark the result read"));
        return;
    }
    if (QTableWidgetItem* stateCell = ui->tableWidget->item(row, 1))
        stateCell->setData(Qt::DecorationRole, stateIcon(StateRead));
    task->setResultState(index, StateRead);
    ui->tableWidget->update();
}

void MainWindow::on_tableWidget_itemDoubleClicked(QTableWidgetItem* item)
{
    if (!item)
        return;
    // Read first, as a click marks it, then opened.
    emit stateIconChanged(item);
    openLinkOfRow(ui->tableWidget->row(item));
}

void MainWindow::openCurrentLink()
{
    openLinkOfRow(ui->tableWidget->currentRow());
}

void MainWindow::copyCurrentLink()
{
    const QString link = linkOfRow(ui->tableWidget->currentRow());
    if (link.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(link);
    statusBar()->showMessage(tr("Link copied: %1").arg(link));
}

QString MainWindow::linkOfRow(int row) const
{
    const Task* task = selectedTask();
    const int index = row >= 0 ? resultIndexOfRow(row) : -1;
    if (!task || index < 0 || index >= task->results().size())
        return {};
    return task->results().at(index)->link;
}

void MainWindow::openLinkOfRow(int row)
{
    const QString link = linkOfRow(row);
    if (link.isEmpty())
        return;
    const QUrl url(link);
    if (!ResultLink::isBrowsable(url)) {
        statusBar()->showMessage(
            tr("Not opened: %1 is not a web address (only http and https links are opened).").arg(link));
        return;
    }
    const bool opened = linkOpener ? linkOpener(url) : ResultLink::openInBrowser(url);
    if (!opened)
        statusBar()->showMessage(tr("Could not open %1 in a browser.").arg(link));
}

// ---- periodic checks, update-all, reset ----

void MainWindow::checkTask()
{
    if (core.tasks().isEmpty())
        return;
    qCDebug(lcVantrel) << "timer test";
    checkTimer->stop();
    core.checkDueTasks();
    checkTimer->start(checkIntervalMs);
}

void MainWindow::announceResults(Task* task, const Task::ResultList& results)
{
    latestResults = results;
    // The table shows the selected task only.
    if (task == selectedTask())
        showTaskResults();
    showBalloon(tr("New Results"), tr("There are new results now."));
}

void MainWindow::on_actionUpdate_Tasks_triggered()
{
    if (core.tasks().isEmpty() || commandRunning())
        return;
    setDisabled(true);
    DialogProgress dialog(this);
    dialog.setMessage(tr("Updating all tasks right now..."));
    dialog.show();

    const TaskChecker::UpdateRun run = core.updateAll();
    if (run.aborted)
        return; // quitting: nothing to report
    if (!run.ran) {
        dialog.close(); // the command that runs already enables the window when it ends
        return;
    }
    // Refilled once for all tasks: the table shows the selected task only.
    if (run.anyNew)
        showTaskResults();
    dialog.close();
    setDisabled(false);
    // A result that could not be stored, or a page that could not be read, is not passed off as a
    // finished update.
    QString message = tr("Update for all tasks finished!");
    if (!run.storageFailure.isEmpty())
        message = run.storageFailure;
    else if (core.hasUnstored())
        message = core.lastError();
    else if (run.failedPages > 0)
        message = run.failedPages == 1
                      ? tr("Update for all tasks finished! 1 page could not be downloaded.")
                      : tr("Update for all tasks finished! %1 pages could not be downloaded.").arg(run.failedPages);
    statusBar()->showMessage(message);
    if (run.anyNew)
        showBalloon(tr("New Results"), tr("There are new results for tasks now."));
    else if (run.unstoredNew)
        showBalloon(tr("New Results"),
                    tr("New results were found but could not be stored yet; they are stored at the next check."));
    else
        showBalloon(tr("No New Results"), tr("There are not new results now."));
}

void MainWindow::on_actionReset_Results_triggered()
{
    if (commandRunning())
        return;
    const auto answer = QMessageBox::information(
        this, tr("Reset Results"),
        tr("<b>Reset Results</b> will remove all the results in the task and reinitialize the task results back "
           "to original.\nClick <b>\"Yes\"</b> to reset results, or click <b>\"Cancel\"</b> to cancel it"),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes || commandRunning())
        return;
    Task* task = selectedTask();
    if (!task)
        return;

    setDisabled(true);
    DialogProgress dialog(this);
    dialog.setMessage(tr("Resetting <b>%1</b> results right now...").arg(task->name().toHtmlEscaped()));
    dialog.show();
    const QString name = task->name();
    const QString address = task->address();
    const TaskChecker::Outcome outcome = core.resetResults(task);
    if (outcome == TaskChecker::Outcome::Aborted || outcome == TaskChecker::Outcome::Dropped)
        return;

    QString message = tr("Reset results finished!");
    if (outcome == TaskChecker::Outcome::StoreFailed)
        message = tr("Could not save the reset results of %1: %2").arg(name, core.lastError());
    else if (outcome == TaskChecker::Outcome::FetchFailed)
        message = tr("Reset failed: %1 could not be downloaded. The results were kept.").arg(address);
    else if (outcome == TaskChecker::Outcome::TaskGone)
        message = tr("Reset failed: task %1 was removed.").arg(name);
    showTaskResults();

    dialog.close();
    setDisabled(false);
    statusBar()->showMessage(message);
}

// ---- creating tasks ----

void MainWindow::on_action_New_Task_triggered()
{
    if (commandRunning())
        return;
    DialogNewTask dialog(this);
    // Whether the page renderer's engine starts here is learnt once, while the dialog shows.
    PageRenderRunner& renderer = core.renderer();
    dialog.setScriptsAvailable(renderer.isAvailable(), renderer.unavailableReason());
    connect(&renderer, &PageRenderRunner::engineChecked, &dialog,
            [&dialog](bool works, const QString& why) { dialog.setScriptsAvailable(works, why); });
    renderer.probeEngine();
    if (dialog.exec() != QDialog::Accepted || commandRunning())
        return;
    QHash<QString, QString> options = dialog.taskOptions();
    if (dialog.runScripts())
        options.insert(Task::scriptsOption(), QStringLiteral("1"));
    DialogProgress progress(this);
    progress.show();
    setDisabled(true);
    if (!createTask(dialog.taskName(), dialog.webAddress(), dialog.grabText(), dialog.frequency(), options))
        return; // quitting
    setDisabled(false);
    progress.close();
}

bool MainWindow::createTask(const QString& name, const QString& address, const QString& grabText, int frequency,
                            const QHash<QString, QString>& options)
{
    const TaskChecker::Created created = core.createTask(name, address, grabText, frequency, options);
    switch (created.outcome) {
    case TaskChecker::Outcome::Exists:
        // The progress popup grabs the input while it shows; the question must get it instead.
        for (DialogProgress* progress : findChildren<DialogProgress*>())
            progress->hide();
        QMessageBox::information(this, tr("New Task"), tr("This task already exists!"), QMessageBox::Ok);
        return true;
    case TaskChecker::Outcome::StoreFailed:
        statusBar()->showMessage(tr("Could not %1: %2").arg(tr("store task %1").arg(name), core.lastError()));
        return true;
    case TaskChecker::Outcome::Done:
    case TaskChecker::Outcome::FetchFailed:
        break;
    case TaskChecker::Outcome::Aborted:
        return false;
    default:
        return true;
    }
    auto* item = new QTreeWidgetItem(ui->treeWidgetTaskList);
    item->setText(0, name);
    markCheckState(created.task);
    ui->treeWidgetTaskList->setCurrentItem(item);
    appendTaskRow(created.task);
    if (created.outcome == TaskChecker::Outcome::FetchFailed)
        statusBar()->showMessage(tr("Task %1 created, but its page could not be downloaded (%2). Use Reset Results "
                                    "when it is reachable.")
                                     .arg(name, created.failureReason));
    else
        statusBar()->showMessage(tr("Task %1 created!").arg(name));
    return true;
}

void MainWindow::markCheckState(Task* task)
{
    const int row = int(core.tasks().indexOf(task));
    QTreeWidgetItem* item = row >= 0 ? ui->treeWidgetTaskList->topLevelItem(row) : nullptr;
    if (!item)
        return;
    const QString failure = core.checkFailure(task);
    if (failure.isEmpty()) {
        item->setIcon(0, QIcon());
        item->setToolTip(0, QString());
    } else {
        item->setIcon(0, style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(0, failureToolTip(task));
    }
}

QString MainWindow::failureToolTip(const Task* task) const
{
    // The reason is the network's or the server's word; request headers never appear in it.
    const int inRow = core.failuresInRow(task);
    const QString checks = inRow == 1 ? tr("The last check failed") : tr("The last %1 checks failed").arg(inRow);
    return tr("%1: %2\nNext try: %3")
        .arg(checks, core.checkFailure(task), QLocale().toString(core.dueTime(task), QLocale::ShortFormat));
}

// ---- removing ----

void MainWindow::on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->action_Remove_Task);
    menu.addAction(ui->actionRemove_All_Tasks);
    ui->action_Remove_Task->setEnabled(ui->treeWidgetTaskList->indexAt(pos).row() >= 0);
    menu.exec(QCursor::pos());
}

void MainWindow::on_tableWidget_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->actionRemove_Result);
    menu.addAction(ui->actionRemove_All_Results);
    menu.addSeparator();
    menu.addAction(openLinkAction);
    menu.addAction(copyLinkAction);
    const bool onRow = ui->tableWidget->indexAt(pos).row() >= 0;
    ui->actionRemove_Result->setEnabled(onRow);
    openLinkAction->setEnabled(onRow);
    copyLinkAction->setEnabled(onRow);
    menu.exec(QCursor::pos());
    // Ctrl+C must keep working after a menu that was opened beside the rows.
    copyLinkAction->setEnabled(true);
}

void MainWindow::on_action_Remove_Task_triggered()
{
    if (commandRunning())
        return;
    Task* task = selectedTask();
    if (!task) {
        showNoTaskSelected();
        return;
    }
    removeTask(task);
}

void MainWindow::showNoTaskSelected()
{
    QMessageBox::information(this, tr("No Task Selected"), tr("Please select a task first"), QMessageBox::Ok);
}

void MainWindow::removeTask(Task* task)
{
    const int index = int(core.tasks().indexOf(task));
    if (index < 0)
        return;
    const QString name = task->name();
    if (!core.removeTask(task)) {
        statusBar()->showMessage(tr("Could not %1: %2").arg(tr("remove task %1").arg(name), core.lastError()));
        return;
    }
    // The task has left the list before its row leaves the tree: taking the row out selects a neighbour,
    // and the views then refill from the list, which must already match the tree.
    delete ui->treeWidgetTaskList->takeTopLevelItem(index);
    // The neighbour that became current is selected too, which refills both views for it through the
    // selection signal; without a neighbour (or one already selected) the views are refilled here.
    QTreeWidgetItem* now = ui->treeWidgetTaskList->currentItem();
    if (now && !now->isSelected()) {
        now->setSelected(true);
    } else {
        showTaskResults();
        showTaskProperties();
    }
    statusBar()->clearMessage();
}

void MainWindow::on_actionRemove_All_Tasks_triggered()
{
    if (core.tasks().isEmpty() || commandRunning())
        return;
    const auto answer = QMessageBox::information(
        this, tr("Remove All Tasks"),
        tr("All the tasks and results will be delete forever.\nDo you want to remove all tasks?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || commandRunning())
        return;
    if (!core.removeAllTasks()) {
        statusBar()->showMessage(tr("Could not %1: %2").arg(tr("remove all tasks"), core.lastError()));
        return;
    }
    ui->treeWidgetTaskList->clear();
    ui->tableWidgetTaskInfo->clearContents();
    ui->tableWidget->setRowCount(0);
    statusBar()->showMessage(tr("All tasks removed!"));
}

void MainWindow::on_actionRemove_Result_triggered()
{
    if (core.tasks().isEmpty() || !ui->tableWidget->hasFocus() || commandRunning())
        return;
    Task* task = selectedTask();
    const int row = ui->tableWidget->currentRow();
    if (!task || row < 0)
        return;
    const Task::ResultList results = task->results();
    const int index = resultIndexOfRow(row);
    if (index < 0 || index >= results.size())
        return;
    if (!db.removeResult(*results.at(index))) {
        reportStorageFailure(tr("remove the result"));
        return;
    }
    ui->tableWidget->removeRow(row);
    task->removeResult(index);
    // The results after the removed one moved up by one place in the list.
    for (int r = 0; r < ui->tableWidget->rowCount(); ++r) {
        const int shown = resultIndexOfRow(r);
        if (shown > index) {
            for (int column = 0; column < ui->tableWidget->columnCount(); ++column) {
                if (QTableWidgetItem* cell = ui->tableWidget->item(r, column))
                    cell->setData(ResultIndexRole, shown - 1);
            }
        }
    }
}

void MainWindow::on_actionRemove_All_Results_triggered()
{
    // Offered by the task list's and the results table's menus: it acts on the selected task wherever the
    // focus is.
    if (core.tasks().isEmpty() || commandRunning())
        return;
    Task* task = selectedTask();
    if (!task)
        return;
    if (!db.removeTaskResults(task->taskId())) {
        reportStorageFailure(tr("remove the results of %1").arg(task->name()));
        return;
    }
    ui->tableWidget->clearContents();
    ui->tableWidget->setRowCount(0);
    task->clearResults();
    statusBar()->showMessage(tr("All results removed from task %1!").arg(task->name()));
}

void MainWindow::reportStorageFailure(const QString& what)
{
    statusBar()->showMessage(tr("Could not %1: %2").arg(what, db.lastError()));
}
