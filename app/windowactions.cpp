// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's menu actions: help, the commands each runs, pause and mute, the context menus and the removals.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/resultspane.h"
#include "app/sharedstroke.h"
#include "app/taskcommands.h"
#include "app/tasklistmodel.h"
#include "core/taskchecker.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialoghelp.h"

#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>

namespace {
const QString MakerSite = QStringLiteral("http://www.orrimbel-studio.example");
} // namespace

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

// ---- the commands ----

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
        const QString what = watches.undoText();
        ui->actionUndo->setEnabled(!what.isEmpty());
        ui->actionUndo->setText(what.isEmpty() ? tr("&Undo") : tr("&Undo Removal of %1").arg(what));
    };
    connect(&watches, &WatchList::undoChanged, this, showUndo);
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
    if (!watches.tasks().isEmpty() && ui->tableWidget->hasFocus() && !commandRunning())
        results->removeSelected();
}

void MainWindow::on_actionRemove_All_Results_triggered()
{
    commands->removeTaskResults();
}
