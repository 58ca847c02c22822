// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/appsettings.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialognewtask.h"
#include "dialogs/dialogoption.h"
#include "dialogs/dialogprogress.h"
#include "engine/logging.h"
#include "engine/tools.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

namespace {
constexpr int CheckIntervalMs = 60000;
constexpr int BalloonMs = 1000;
constexpr int HideDelayMs = 250;
constexpr int SharedStrokeMs = 1000;
const QString MakerSite = QStringLiteral("http://www.orrimbel-studio.example");
const QString DateFormat = QStringLiteral("MM/dd/yyyy");

// The check timer's interval. VANTREL_CHECK_INTERVAL_MS shortens it for long-run tests only.
int checkInterval()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VANTREL_CHECK_INTERVAL_MS", &ok);
    return ok && ms > 0 ? ms : CheckIntervalMs;
}

// Seconds the check clock moves ahead after every check run. VANTREL_TEST_TIME_WARP_S lets long-run tests
// make tasks fall due without waiting for real minutes; it is 0 otherwise.
int timeWarpSeconds()
{
    return qMax(0, qEnvironmentVariableIntValue("VANTREL_TEST_TIME_WARP_S"));
}

QString resultKey(const Task::TaskResult& result)
{
    return result.link + QChar(0) + result.text;
}
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
    setUpSharedStroke();
    createActions();
    createTrayIcon();
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

    checkTimer = new QTimer(this);
    connect(checkTimer, &QTimer::timeout, this, &MainWindow::checkTask);
    checkTimer->start(checkInterval());
}

MainWindow::~MainWindow()
{
    delete ui;
    // Background checks hold the tasks through guarded pointers, so deleting them here is safe.
    qDeleteAll(tasks);
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
    // Remove Task, any other key means neither. The menus still show both shortcuts.
    ui->action_Remove_Task->setShortcutContext(Qt::WidgetShortcut);
    ui->actionReset_Results->setShortcutContext(Qt::WidgetShortcut);
    strokeTimer = new QTimer(this);
    strokeTimer->setSingleShot(true);
    strokeTimer->setInterval(SharedStrokeMs);
    connect(strokeTimer, &QTimer::timeout, this, [this] {
        if (ui->action_Remove_Task->isEnabled())
            ui->action_Remove_Task->trigger();
    });
    qApp->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Keys are seen before the focused view takes them, so that any key ends a started stroke.
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this && handleSharedStroke(static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::handleSharedStroke(QKeyEvent* event)
{
    if (QKeySequence(event->keyCombination()) == ui->action_Remove_Task->shortcut()) {
        if (!event->isAutoRepeat()) {
            if (strokeTimer->isActive()) {
                strokeTimer->stop();
                if (ui->actionReset_Results->isEnabled())
                    ui->actionReset_Results->trigger();
            } else {
                strokeTimer->start();
            }
        }
        return true;
    }
    const int key = event->key();
    if (key != Qt::Key_Control && key != Qt::Key_Shift && key != Qt::Key_Alt && key != Qt::Key_Meta)
        strokeTimer->stop();
    return false;
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
        QTimer::singleShot(HideDelayMs, this, &QWidget::hide);
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
    if (trayIcon && trayIcon->isVisible())
        trayIcon->showMessage(title, text, QSystemTrayIcon::Information, BalloonMs);
}

// ---- window state ----

void MainWindow::readSettings()
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(QStringLiteral("mainwindow"));
    if (AppSettings::readBool(settings, QStringLiteral("maximized"), false)) {
        showMaximized();
    } else {
        QSize size = settings.value(QStringLiteral("size"), QSize(800, 600)).toSize();
        if (!size.isValid() || size.isEmpty())
            size = QSize(800, 600);
        resize(size);
        // A position on no screen (another monitor set-up, or a hand-edited file) would put the window out
        // of sight; it then opens where it opens on a first start.
        QPoint position = settings.value(QStringLiteral("pos"), QPoint(0, 0)).toPoint();
        if (!QGuiApplication::screenAt(position))
            position = QPoint(0, 0);
        move(position);
    }
    ui->mainToolBar->setVisible(AppSettings::readBool(settings, QStringLiteral("toolbar"), true));
    ui->splitter->restoreState(settings.value(QStringLiteral("splitter")).toByteArray());
    ui->splitter_2->restoreState(settings.value(QStringLiteral("splitter2")).toByteArray());
    settings.endGroup();
}

void MainWindow::writeSettings()
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(QStringLiteral("mainwindow"));
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("size"), size());
    settings.setValue(QStringLiteral("maximized"), isMaximized());
    settings.setValue(QStringLiteral("splitter"), ui->splitter->saveState());
    settings.setValue(QStringLiteral("splitter2"), ui->splitter_2->saveState());
    settings.setValue(QStringLiteral("toolbar"), ui->mainToolBar->isVisible());
    settings.endGroup();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (db.isOpen())
        writeSettings();
    event->accept();
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
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(QStringLiteral("options"));
    if (AppSettings::readBool(settings, QStringLiteral("is_auto_delete"), false)) {
        const int days = AppSettings::readDays(settings, QStringLiteral("delete_days"), 14);
        if (!db.removeOldResults(days))
            reportStorageFailure(tr("delete the old results"));
    }
    settings.endGroup();
}

void MainWindow::on_action_Options_triggered()
{
    DialogOption dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    {
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        settings.beginGroup(QStringLiteral("options"));
        settings.setValue(QStringLiteral("is_auto_run"), dialog.isAutoRun());
        settings.setValue(QStringLiteral("is_auto_delete"), dialog.isAutoDelete());
        settings.setValue(QStringLiteral("delete_days"), dialog.deleteDays());
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError)
            statusBar()->showMessage(tr("The options could not be saved."));
    }
    updateAutoRun();
}

void MainWindow::updateAutoRun()
{
    QSettings settings(AppSettings::Organization, AppSettings::Application);
    settings.beginGroup(QStringLiteral("options"));
    const bool autoRun = AppSettings::readBool(settings, QStringLiteral("is_auto_run"), false);
    settings.endGroup();
    const bool ok = autoRun ? AutoStart::install(QCoreApplication::applicationFilePath()) : AutoStart::remove();
    if (!ok)
        statusBar()->showMessage(tr("The log-on start entry %1 could not be changed.").arg(AutoStart::entryPath()));
}

// ---- help ----

void MainWindow::on_actionHelp_triggered()
{
    QDesktopServices::openUrl(QUrl(MakerSite + QStringLiteral("/Vantrel_monitor.html")));
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
    return row >= 0 && row < tasks.size() ? tasks.at(row) : nullptr;
}

void MainWindow::loadTaskList()
{
    const QList<Task*> loaded = db.loadTasks();
    if (loaded.isEmpty())
        return;
    tasks = loaded;
    qCDebug(lcVantrel) << "tasks loaded:" << tasks.size();
    for (const Task* task : std::as_const(tasks)) {
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

// ---- periodic checks, update-all, reset ----

Task::ResultList MainWindow::takeOver(Task* task, const Task::ResultList& delivered)
{
    // A delivered list is taken once: the same list seen again (nothing newer has replaced it) gives
    // nothing, and records whose link and text the task already holds are left out, so an update
    // found twice (by update-all and by a background check that overlapped it) is not appended twice.
    if (delivered.isEmpty() || takenOver.value(task) == delivered)
        return {};
    takenOver.insert(task, delivered);

    QSet<QString> known;
    const Task::ResultList results = task->results();
    known.reserve(results.size());
    for (const Task::ResultPtr& result : results)
        known.insert(resultKey(*result));
    Task::ResultList fresh;
    for (const Task::ResultPtr& result : delivered) {
        const QString key = resultKey(*result);
        if (known.contains(key))
            continue;
        known.insert(key);
        fresh.append(result);
    }
    if (fresh.isEmpty())
        return {};
    // Stored first: what did not reach task.db is not shown as found. The list stays untaken, so the
    // task's next due check tries again.
    if (!db.insertResults(fresh)) {
        takenOver.remove(task);
        storageFailure = tr("Could not store the new results of %1: %2").arg(task->name(), db.lastError());
        statusBar()->showMessage(storageFailure);
        return {};
    }
    task->appendResults(fresh);
    return fresh;
}

void MainWindow::checkTask()
{
    if (tasks.isEmpty())
        return;
    qCDebug(lcVantrel) << "timer test";
    checkTimer->stop();

    const QDateTime now = QDateTime::currentDateTime().addSecs(clockOffset);
    bool anyFound = false;
    const QList<Task*> snapshot = tasks;
    for (Task* task : snapshot) {
        bool found = false;
        QDateTime due = QDateTime::fromString(task->lastUpdateText(), Qt::ISODate).addSecs(task->frequency());
        // An unreadable last-update time counts as due.
        if (due.isValid() && now < due)
            continue;

        if (task->startBackgroundCheck()) {
            const Task::ResultList fresh = takeOver(task, task->updateResults());
            if (!fresh.isEmpty()) {
                latestResults = fresh;
                qCDebug(lcVantrel) << "in check task->fectchRe";
                found = true;
                anyFound = true;
            }
        }

        task->setLastUpdate(due.addSecs(task->frequency()).toString(Qt::ISODate));
        if (!db.updateLastUpdate(task))
            reportStorageFailure(tr("store the check time of %1").arg(task->name()));
        qCDebug(lcVantrel).noquote() << "time is out " << '"' + task->name() + '"'
                                     << '"' + task->lastUpdateText() + '"';

        if (found)
            showBalloon(tr("New Results"), tr("There are new results now."));
    }
    // The table shows the selected task only: one refill after the run shows the same as one per task.
    if (anyFound)
        showTaskResults();
    clockOffset += timeWarpSeconds();
    checkTimer->start(checkInterval());
}

void MainWindow::on_actionUpdate_Tasks_triggered()
{
    if (tasks.isEmpty())
        return;
    bool anyNew = false;
    storageFailure.clear();
    setDisabled(true);
    DialogProgress dialog(this);
    dialog.setMessage(tr("Updating all tasks right now..."));
    dialog.show();

    const QList<Task*> snapshot = tasks;
    for (Task* task : snapshot) {
        if (!task->checkForUpdates())
            continue;
        if (!takeOver(task, task->updateResults()).isEmpty())
            anyNew = true;
        qCDebug(lcVantrel) << "in task-fecth updatetask";
    }

    // Refilled once for all tasks: the table shows the selected task only.
    if (anyNew)
        showTaskResults();
    dialog.close();
    setDisabled(false);
    // A result that could not be stored is not passed off as a finished update.
    statusBar()->showMessage(storageFailure.isEmpty() ? tr("Update for all tasks finished!") : storageFailure);
    if (anyNew)
        showBalloon(tr("New Results"), tr("There are new results for tasks now."));
    else
        showBalloon(tr("No New Results"), tr("There are not new results now."));
}

void MainWindow::on_actionReset_Results_triggered()
{
    const auto answer = QMessageBox::information(
        this, tr("Reset Results"),
        tr("<b>Reset Results</b> will remove all the results in the task and reinitialize the task results back "
           "to original.\nClick <b>\"Yes\"</b> to reset results, or click <b>\"Cancel\"</b> to cancel it"),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Yes)
        return;
    Task* task = selectedTask();
    if (!task)
        return;

    // The page is fetched before anything is deleted: when it cannot be downloaded the old results stay,
    // in memory and in task.db, instead of being replaced by nothing.
    const Task::ResultList previous = task->results();
    setDisabled(true);
    DialogProgress dialog(this);
    dialog.setMessage(tr("Resetting <b>%1</b> results right now...").arg(task->name().toHtmlEscaped()));
    dialog.show();

    QString message = tr("Reset results finished!");
    if (task->fetchAllResults()) {
        // Old rows out and new rows in as one change: a failed write leaves the old results, in the file
        // and in memory.
        if (db.replaceTaskResults(task->taskId(), task->results())) {
            takenOver.remove(task);
            qCDebug(lcVantrel) << "ok";
        } else {
            task->setResults(previous);
            message = tr("Could not save the reset results of %1: %2").arg(task->name(), db.lastError());
        }
    } else {
        task->setResults(previous);
        message = tr("Reset failed: %1 could not be downloaded. The results were kept.").arg(task->address());
    }
    showTaskResults();

    dialog.close();
    setDisabled(false);
    statusBar()->showMessage(message);
}

// ---- creating tasks ----

int MainWindow::nextTaskId() const
{
    // The number of listed tasks, unless a remaining task already carries that id (possible after a
    // removal); then one more than the largest id, so the results of two tasks never mix.
    const int count = ui->treeWidgetTaskList->topLevelItemCount();
    int largest = -1;
    bool taken = false;
    for (const Task* task : tasks) {
        largest = qMax(largest, task->taskId());
        taken = taken || task->taskId() == count;
    }
    return taken ? largest + 1 : count;
}

void MainWindow::on_action_New_Task_triggered()
{
    DialogNewTask dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int id = nextTaskId();
    DialogProgress progress(this);
    progress.show();
    setDisabled(true);
    createTask(id, dialog.taskName(), dialog.webAddress(), dialog.grabText(), dialog.frequency());
    setDisabled(false);
    progress.close();
}

void MainWindow::createTask(int id, const QString& name, const QString& address, const QString& grabText, int frequency)
{
    if (address.isEmpty() || grabText.isEmpty())
        return;
    auto task = std::make_unique<Task>(id, name, address, grabText, frequency);
    if (db.taskExists(task.get())) {
        // The progress popup grabs the input while it shows; the question must get it instead.
        for (DialogProgress* progress : findChildren<DialogProgress*>())
            progress->hide();
        QMessageBox::information(this, tr("New Task"), tr("This task already exists!"), QMessageBox::Ok);
        return;
    }
    task->fetchAllResults();

    // Stored first: a task that did not reach task.db is not shown as if it had.
    if (!db.insertTask(task.get())) {
        reportStorageFailure(tr("store task %1").arg(name));
        return;
    }
    Task* created = task.release();
    tasks.append(created);
    auto* item = new QTreeWidgetItem(ui->treeWidgetTaskList);
    item->setText(0, name);
    ui->treeWidgetTaskList->setCurrentItem(item);
    appendTaskRow(created);
    statusBar()->showMessage(tr("Task %1 created!").arg(name));
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
    ui->actionRemove_Result->setEnabled(ui->tableWidget->indexAt(pos).row() >= 0);
    menu.exec(QCursor::pos());
}

void MainWindow::on_action_Remove_Task_triggered()
{
    QTreeWidgetItem* current = ui->treeWidgetTaskList->currentItem();
    const int index = current ? ui->treeWidgetTaskList->indexOfTopLevelItem(current) : -1;
    if (index < 0 || index >= tasks.size()) {
        QMessageBox::information(this, tr("No Task Selected"), tr("Please select a task first"), QMessageBox::Ok);
        return;
    }
    Task* task = tasks.at(index);
    if (!db.removeTask(task)) {
        reportStorageFailure(tr("remove task %1").arg(task->name()));
        return;
    }
    // The task leaves the list before its row leaves the tree: taking the row out selects a neighbour,
    // and the views then refill from the list, which must already match the tree.
    tasks.removeAt(index);
    takenOver.remove(task);
    delete ui->treeWidgetTaskList->takeTopLevelItem(index);
    delete task;
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
    if (tasks.isEmpty())
        return;
    const auto answer = QMessageBox::information(
        this, tr("Remove All Tasks"),
        tr("All the tasks and results will be delete forever.\nDo you want to remove all tasks?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!db.removeAllTasks()) {
        reportStorageFailure(tr("remove all tasks"));
        return;
    }
    const QList<Task*> removed = tasks;
    tasks.clear();
    takenOver.clear();
    ui->treeWidgetTaskList->clear();
    ui->tableWidgetTaskInfo->clearContents();
    ui->tableWidget->setRowCount(0);
    qDeleteAll(removed);
    statusBar()->showMessage(tr("All tasks removed!"));
}

void MainWindow::on_actionRemove_Result_triggered()
{
    if (tasks.isEmpty() || !ui->tableWidget->hasFocus())
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
    if (tasks.isEmpty() || !ui->treeWidgetTaskList->hasFocus())
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
