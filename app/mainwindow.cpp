// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "app/resultsearchproxy.h"
#include "core/announcement.h"
#include "core/taskexchange.h"
#include "ui_mainwindow.h"

#include "app/appsettings.h"
#include "app/logging.h"
#include "app/resultlink.h"
#include "app/resulttablemodel.h"
#include "app/sharedstroke.h"
#include "app/tasklistmodel.h"
#include "app/trayicon.h"
#include "core/settings.h"
#include "core/taskchecker.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialoghelp.h"
#include "dialogs/dialognewtask.h"
#include "dialogs/dialogoption.h"
#include "dialogs/dialogprogress.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int HideDelayMs = 250;

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
const QString MakerSite = QStringLiteral("http://www.orrimbel-studio.example");
} // namespace

MainWindow::MainWindow(TaskChecker& core, Settings& settings, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::MainWindow), core(core), settings(settings)
{
    ui->setupUi(this);
    setUpViews();
    createLinkActions();
    setUpTray();
    updateTrayToolTip();
    ui->webView->setVisible(false);
    ui->splitter->setSizes({1, 207});
    readSettings();

    connect(&core, &TaskChecker::resultsFound, this, &MainWindow::announceResults);
    connect(&core, &TaskChecker::storageFailed, this,
            [this](const QString& message) { statusBar()->showMessage(message); });
    connect(&core, &TaskChecker::backgroundCheckFailed, this, [this](Task* task, const QString& reason) {
        statusBar()->showMessage(tr("The page of %1 could not be downloaded (%2).").arg(task->name(), reason));
    });

    // The first task is shown at start.
    if (taskModel->rowCount() > 0) {
        qCDebug(lcApp) << "tasks loaded:" << taskModel->rowCount();
        ui->treeWidgetTaskList->setCurrentIndex(taskModel->index(0, 0));
    }
    showTask();

    // Every action of the window and the tray exists by now: each of them ends a started stroke.
    stroke = new SharedStroke(
        this, ui->action_Remove_Task, ui->actionReset_Results, ui->actionQuit, [this] { return selectedTask(); },
        [this] { return commandRunning(); });
    connect(stroke, &SharedStroke::removeRequested, this, &MainWindow::removeTask);
    connect(stroke, &SharedStroke::noTaskSelected, this, &MainWindow::showNoTaskSelected);
    connect(stroke, &SharedStroke::quitRequested, this, &QWidget::close);
    connect(stroke, &SharedStroke::resetRequested, this, [this] {
        if (ui->actionReset_Results->isEnabled())
            ui->actionReset_Results->trigger();
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
    // The stroke filter asks the window while it runs: it goes first.
    delete stroke;
    delete ui;
}

void MainWindow::showDatabaseFailure()
{
    QMessageBox::critical(nullptr, tr("Cannot open database"),
                          tr("Unable to establish a database connection.\n"
                             "This program needs SQLite support. \n\n"
                             "Click Cancel to exit."),
                          QMessageBox::Cancel);
}

const QList<Task*>& MainWindow::taskList() const
{
    return core.tasks();
}

void MainWindow::setCheckInterval(int ms)
{
    checkIntervalMs = qMax(1, ms);
    if (checkTimer && checkTimer->isActive())
        checkTimer->start(checkIntervalMs);
}

bool MainWindow::commandRunning() const
{
    return core.isAborting() || core.guard().isBusy();
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
    taskModel = new TaskListModel(core, this);
    ui->treeWidgetTaskList->setModel(taskModel);
    ui->treeWidgetTaskList->header()->setDefaultAlignment(Qt::AlignCenter);
    connect(ui->treeWidgetTaskList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::showTask);

    resultModel = new ResultTableModel(core, this);
    resultProxy = new ResultSearchProxy(ResultTableModel::TextColumn, ResultTableModel::LinkColumn, this);
    resultProxy->setSortRole(ResultTableModel::SortRole);
    resultProxy->setSourceModel(resultModel);
    QTableView* table = ui->tableWidget;
    table->setModel(resultProxy);
    // Date and state as wide as they need, text and link share the rest; one line of text a row, the full
    // text and link in the tooltip.
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(ResultTableModel::DateColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ResultTableModel::StateColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(ResultTableModel::TextColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(ResultTableModel::LinkColumn, QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(qMax(table->fontMetrics().height(), table->iconSize().height()) + 6);
    table->sortByColumn(ResultTableModel::DateColumn, Qt::DescendingOrder);
    setUpSearch();

    // The task list's second, narrow column counts each task's unread results.
    QHeaderView* tasksHeader = ui->treeWidgetTaskList->header();
    tasksHeader->setStretchLastSection(false);
    tasksHeader->setSectionResizeMode(TaskListModel::NameColumn, QHeaderView::Stretch);
    tasksHeader->setSectionResizeMode(TaskListModel::UnreadColumn, QHeaderView::ResizeToContents);
    for (auto signal : {&TaskChecker::resultsChanged, &TaskChecker::taskAdded, &TaskChecker::taskRemoved})
        connect(&core, signal, this, [this] { QTimer::singleShot(0, this, &MainWindow::updateTrayToolTip); });
    connect(&core, &TaskChecker::resultStatesChanged, this, [this] { updateTrayToolTip(); });
    connect(&core, &TaskChecker::allTasksRemoved, this, [this] { updateTrayToolTip(); });
    connect(&core, &TaskChecker::tasksLoaded, this, [this] { updateTrayToolTip(); });
}

void MainWindow::setUpSearch()
{
    // Above the results: a field whose words each row's text or link must all contain.
    searchField = new QLineEdit;
    searchField->setObjectName(QStringLiteral("lineEditSearch"));
    searchField->setPlaceholderText(tr("Search results (Ctrl+F)"));
    searchField->setClearButtonEnabled(true);
    QWidget* table = ui->tableWidget;
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
        resultProxy->setSearch(text);
        showResultsCount();
    });
    // Escape empties the field (and leaves the focus there).
    auto* clear = new QAction(searchField);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetShortcut);
    connect(clear, &QAction::triggered, searchField, &QLineEdit::clear);
    searchField->addAction(clear);
}

void MainWindow::on_actionFind_triggered()
{
    searchField->setFocus(Qt::ShortcutFocusReason);
    searchField->selectAll();
}

void MainWindow::showResultsCount()
{
    const Task* task = resultModel->task();
    if (!task)
        return;
    const int count = int(task->results().size());
    if (resultProxy->isSearching())
        statusBar()->showMessage(tr("Results Count: %1 (%2 shown)").arg(count).arg(resultProxy->rowCount()));
    else if (count > 0)
        statusBar()->showMessage(tr("Results Count: %1").arg(count));
}

void MainWindow::updateTrayToolTip()
{
    tray->setToolTip(Announcement::unreadSummary(core.tasks()));
}

// ---- tray and window state ----

void MainWindow::setUpTray()
{
    tray = new TrayIcon(this);
    connect(tray, &TrayIcon::minimizeRequested, this, &QWidget::hide);
    connect(tray, &TrayIcon::maximizeRequested, this, &QWidget::showMaximized);
    connect(tray, &TrayIcon::updateRequested, this, &MainWindow::on_actionUpdate_Tasks_triggered);
    connect(tray, &TrayIcon::quitRequested, this, &QWidget::close);
    connect(tray, &TrayIcon::announcementClicked, this, &MainWindow::selectAnnounced);
    connect(tray, &TrayIcon::showRequested, this, [this] {
        show();
        if (windowState() & Qt::WindowMaximized)
            setWindowState(Qt::WindowMaximized);
        else
            setWindowState(Qt::WindowActive);
    });
}

void MainWindow::selectAnnounced(const QString& kind)
{
    // The task the announcement named, unless it was removed since.
    const QPointer<Task> task = announcedTasks.value(kind);
    if (!task || !core.contains(task))
        return;
    ui->treeWidgetTaskList->setCurrentIndex(taskModel->indexOf(task));
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
    emit tray->showRequested();
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

// ---- options ----

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

// ---- task list, property table, results table ----

Task* MainWindow::selectedTask() const
{
    return taskModel->task(ui->treeWidgetTaskList->currentIndex());
}

void MainWindow::showTask()
{
    showTaskResults();
    showTaskProperties();
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

void MainWindow::showTaskResults()
{
    Task* task = selectedTask();
    resultModel->setTask(task);
    // A task is always first shown newest first, whatever column was sorted before.
    ui->tableWidget->sortByColumn(ResultTableModel::DateColumn, Qt::DescendingOrder);
    if (task)
        showResultsCount();
}

Task::ResultPtr MainWindow::resultAt(const QModelIndex& index) const
{
    return index.isValid() ? resultModel->result(resultProxy->mapToSource(index).row()) : nullptr;
}

Task::ResultList MainWindow::selectedResults() const
{
    Task::ResultList results;
    for (const QModelIndex& index : ui->tableWidget->selectionModel()->selectedRows()) {
        if (const Task::ResultPtr result = resultAt(index))
            results.append(result);
    }
    if (results.isEmpty()) {
        if (const Task::ResultPtr result = resultAt(ui->tableWidget->currentIndex()))
            results.append(result);
    }
    return results;
}

void MainWindow::on_tableWidget_pressed(const QModelIndex& index)
{
    markRead(index);
}

void MainWindow::on_tableWidget_clicked(const QModelIndex& index)
{
    markRead(index);
}

void MainWindow::on_tableWidget_activated(const QModelIndex& index)
{
    markRead(index);
}

void MainWindow::markRead(const QModelIndex& index)
{
    Task* task = resultModel->task();
    const Task::ResultPtr result = resultAt(index);
    if (task && result && result->state != StateRead && !core.markRead(task, {result}))
        reportFailure(tr("mark the result read"));
}

void MainWindow::on_tableWidget_doubleClicked(const QModelIndex& index)
{
    // Read first, as a click marks it, then opened.
    markRead(index);
    openLink(index);
}

void MainWindow::createLinkActions()
{
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

void MainWindow::openCurrentLink()
{
    openLink(ui->tableWidget->currentIndex());
}

void MainWindow::copyCurrentLink()
{
    const Task::ResultPtr result = resultAt(ui->tableWidget->currentIndex());
    if (!result || result->link.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(result->link);
    statusBar()->showMessage(tr("Link copied: %1").arg(result->link));
}

void MainWindow::openLink(const QModelIndex& index)
{
    const Task::ResultPtr result = resultAt(index);
    if (!result || result->link.isEmpty())
        return;
    const QString link = result->link;
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
    qCDebug(lcApp) << "timer test";
    checkTimer->stop();
    core.checkDueTasks();
    checkTimer->start(checkIntervalMs);
}

void MainWindow::announceResults(Task* task, const Task::ResultList& results)
{
    // The results table follows the core by itself; the count is of the task shown.
    if (task == selectedTask())
        showResultsCount();
    announcedTasks.insert(QStringLiteral("periodic"), task);
    tray->announce(QStringLiteral("periodic"), tr("New Results"), Announcement::periodicText(task->name(), results));
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
    const QString kind = QStringLiteral("update-all");
    announcedTasks.insert(kind, run.news.isEmpty() ? nullptr : run.news.first().task);
    if (run.anyNew)
        tray->announce(kind, tr("New Results"), Announcement::updateAllText(run.news));
    else if (run.unstoredNew)
        tray->announce(kind, tr("New Results"),
                       tr("New results were found but could not be stored yet; they are stored at the next check."));
    else
        tray->announce(kind, tr("No New Results"), tr("There are not new results now."));
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
    // The task list has its row already; selecting it shows its results.
    ui->treeWidgetTaskList->setCurrentIndex(taskModel->indexOf(created.task));
    if (created.outcome == TaskChecker::Outcome::FetchFailed)
        statusBar()->showMessage(tr("Task %1 created, but its page could not be downloaded (%2). Use Reset Results "
                                    "when it is reachable.")
                                     .arg(name, created.failureReason));
    else
        statusBar()->showMessage(tr("Task %1 created!").arg(name));
    return true;
}

// ---- changing tasks ----

void MainWindow::on_actionEdit_Task_triggered()
{
    if (commandRunning())
        return;
    QPointer<Task> task = selectedTask();
    if (!task) {
        showNoTaskSelected();
        return;
    }
    DialogNewTask dialog(this);
    dialog.setTask(task->name(), task->address(), task->grabText(), task->frequency(), task->options());
    PageRenderRunner& renderer = core.renderer();
    dialog.setScriptsAvailable(renderer.isAvailable(), renderer.unavailableReason());
    connect(&renderer, &PageRenderRunner::engineChecked, &dialog,
            [&dialog](bool works, const QString& why) { dialog.setScriptsAvailable(works, why); });
    dialog.setDuplicateCheck([this, task](const QString& address, const QString& keyword) {
        return core.duplicateOf(address, keyword, task) != nullptr;
    });
    // The dialog waits for the user: the task may be removed, or a command started, meanwhile.
    if (dialog.exec() != QDialog::Accepted || !task)
        return;
    const QString oldAddress = task->address();
    const QString oldKeyword = task->grabText();
    QHash<QString, QString> options = dialog.taskOptions();
    if (dialog.runScripts())
        options.insert(Task::scriptsOption(), QStringLiteral("1"));
    const QString name = dialog.taskName();
    switch (core.editTask(task, name, dialog.webAddress(), dialog.grabText(), dialog.frequency(), options)) {
    case TaskChecker::Outcome::Done:
        break;
    case TaskChecker::Outcome::Exists:
        QMessageBox::information(this, tr("Edit Task"), tr("This task already exists!"), QMessageBox::Ok);
        return;
    case TaskChecker::Outcome::StoreFailed:
        reportFailure(tr("change task %1").arg(name));
        return;
    default:
        statusBar()->showMessage(
            tr("Task %1 was not changed: another command was running or it was removed.").arg(name));
        return;
    }
    showTaskProperties();
    if (task->address() != oldAddress || task->grabText() != oldKeyword)
        statusBar()->showMessage(
            tr("Task %1 changed. Use Reset Results to rebuild its results from the new page.").arg(name));
    else
        statusBar()->showMessage(tr("Task %1 changed.").arg(name));
}

void MainWindow::on_actionMark_All_Read_triggered()
{
    Task* task = selectedTask();
    if (!task) {
        showNoTaskSelected();
        return;
    }
    if (!core.markAllRead(task))
        reportFailure(tr("mark the results of %1 read").arg(task->name()));
    else
        statusBar()->showMessage(tr("All results of %1 marked read.").arg(task->name()));
}

void MainWindow::on_actionExport_Tasks_triggered()
{
    if (core.tasks().isEmpty()) {
        statusBar()->showMessage(tr("There are no tasks to export."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Tasks"), QStringLiteral("vantrel-tasks.json"),
                                                      tr("Exported tasks (*.json)"));
    if (path.isEmpty())
        return;
    const auto answer = QMessageBox::question(this, tr("Export Tasks"),
                                              tr("Export the results of the tasks too (date, text, link, state)?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QString error;
    if (!TaskExchange::writeFile(path, core.tasks(), answer == QMessageBox::Yes, &error))
        QMessageBox::information(this, tr("Export Tasks"), error, QMessageBox::Ok);
    else
        statusBar()->showMessage(tr("%1 tasks exported to %2.").arg(core.tasks().size()).arg(path));
}

void MainWindow::on_actionImport_Tasks_triggered()
{
    if (commandRunning())
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Import Tasks"), QString(),
                                                      tr("Exported tasks or addresses (*.json *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    TaskExchange::Read read = TaskExchange::readFile(path);
    if (!read.error.isEmpty()) {
        QMessageBox::information(this, tr("Import Tasks"), read.error.toHtmlEscaped(), QMessageBox::Ok);
        return;
    }
    if (read.kind == TaskExchange::Kind::AddressList) {
        // Asked once for every address of the list.
        bool ok = false;
        const QString keyword =
            QInputDialog::getText(this, tr("Import Tasks"),
                                  tr("%1 addresses. The keyword their links must contain:").arg(read.tasks.size()),
                                  QLineEdit::Normal, QString(), &ok)
                .simplified();
        if (!ok || keyword.isEmpty())
            return;
        const int minutes = QInputDialog::getInt(this, tr("Import Tasks"), tr("Check every (minutes):"), 60, 1,
                                                 TaskExchange::MaxFrequency / 60, 1, &ok);
        if (!ok)
            return;
        TaskExchange::setKeyword(read, keyword, minutes * 60);
    }
    if (commandRunning())
        return;
    setDisabled(true);
    DialogProgress progress(this);
    progress.setMessage(tr("Importing %1 tasks...").arg(read.tasks.size()));
    progress.show();
    const TaskChecker::ImportRun run = core.importTasks(read.tasks);
    if (run.aborted || !run.ran)
        return; // quitting, or the command that runs enables the window when it ends
    progress.close();
    setDisabled(false);
    if (!run.storageFailure.isEmpty()) {
        statusBar()->showMessage(tr("Nothing was imported: %1").arg(run.storageFailure));
        return;
    }
    if (!run.created.isEmpty())
        ui->treeWidgetTaskList->setCurrentIndex(taskModel->indexOf(run.created.first()));
    statusBar()->showMessage(tr("Imported %1 tasks, %2 skipped as duplicates, %3 pages could not be downloaded.")
                                 .arg(run.imported)
                                 .arg(run.duplicates)
                                 .arg(run.failedPages));
}

// ---- removing ----

void MainWindow::on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->actionEdit_Task);
    menu.addAction(ui->actionMark_All_Read);
    menu.addSeparator();
    menu.addAction(ui->action_Remove_Task);
    menu.addAction(ui->actionRemove_All_Tasks);
    const bool onRow = ui->treeWidgetTaskList->indexAt(pos).row() >= 0;
    ui->action_Remove_Task->setEnabled(onRow);
    ui->actionEdit_Task->setEnabled(onRow);
    ui->actionMark_All_Read->setEnabled(onRow);
    menu.exec(QCursor::pos());
    // Their shortcuts work wherever the menu was opened.
    ui->actionEdit_Task->setEnabled(true);
    ui->actionMark_All_Read->setEnabled(true);
}

void MainWindow::on_tableWidget_customContextMenuRequested(const QPoint& pos)
{
    QMenu menu;
    menu.addAction(ui->actionMark_All_Read);
    menu.addSeparator();
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
    if (!core.contains(task))
        return;
    const QString name = task->name();
    if (!core.removeTask(task)) {
        statusBar()->showMessage(tr("Could not %1: %2").arg(tr("remove task %1").arg(name), core.lastError()));
        return;
    }
    // Its row has left the list, and the neighbour became current; it is selected and shown too.
    const QModelIndex now = ui->treeWidgetTaskList->currentIndex();
    if (now.isValid())
        ui->treeWidgetTaskList->selectionModel()->select(now, QItemSelectionModel::ClearAndSelect);
    showTask();
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
    ui->tableWidgetTaskInfo->clearContents();
    statusBar()->showMessage(tr("All tasks removed!"));
}

void MainWindow::on_actionRemove_Result_triggered()
{
    // Acts on every selected row of the results table, when the table has the focus.
    if (core.tasks().isEmpty() || !ui->tableWidget->hasFocus() || commandRunning())
        return;
    Task* task = resultModel->task();
    const Task::ResultList results = selectedResults();
    if (!task || results.isEmpty())
        return;
    if (!core.removeResults(task, results))
        reportFailure(results.size() == 1 ? tr("remove the result") : tr("remove the results"));
    else
        showResultsCount();
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
    if (!core.removeTaskResults(task)) {
        reportFailure(tr("remove the results of %1").arg(task->name()));
        return;
    }
    statusBar()->showMessage(tr("All results removed from task %1!").arg(task->name()));
}

void MainWindow::reportFailure(const QString& what)
{
    statusBar()->showMessage(tr("Could not %1: %2").arg(what, core.lastError()));
}
