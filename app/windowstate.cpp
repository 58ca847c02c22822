// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's tray, its state across starts (geometry, columns, the task shown), closing, and the notices of
// the start-up: what is prepared beside the window and what could not be done.
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

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {
// How long a minimised window waits before it hides in the tray.
constexpr int HideDelayMs = 250;
} // namespace

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
        watches.tasks().isEmpty() && watches.isPreparing() ? settings.windowState().selectedTaskRow : 0;
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
        for (Task* task : watches.tasks()) {
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
