// SPDX-License-Identifier: GPL-3.0-or-later
// PLACEHOLDER: to be written.
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include <QCloseEvent>
MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) { ui->setupUi(this); }
MainWindow::~MainWindow() { delete ui; }
void MainWindow::checkTask() {}
void MainWindow::showTrayMessage() {}
void MainWindow::trayMessageClicked() {}
void MainWindow::on_actionReset_Results_triggered() {}
void MainWindow::on_actionUpdate_Tasks_triggered() {}
void MainWindow::on_actionShow_grid_triggered() {}
void MainWindow::on_actionHomepage_triggered() {}
void MainWindow::on_actionRemove_All_Tasks_triggered() {}
void MainWindow::on_actionRemove_All_Results_triggered() {}
void MainWindow::on_actionRemove_Result_triggered() {}
void MainWindow::on_action_Remove_Task_triggered() {}
void MainWindow::on_actionAbout_triggered() {}
void MainWindow::on_actionHelp_triggered() {}
void MainWindow::on_action_Options_triggered() {}
void MainWindow::on_actionQuit_triggered() {}
void MainWindow::on_action_New_Task_triggered() {}
void MainWindow::showTaskResults() {}
void MainWindow::showTaskProperties() {}
void MainWindow::createActions() {}
void MainWindow::createTrayIcon() {}
void MainWindow::readSettings() {}
void MainWindow::writeSettings() {}
void MainWindow::readOptions() {}
void MainWindow::updateAutoRun() {}
void MainWindow::loadTaskList() {}
void MainWindow::trayIconActivated(QSystemTrayIcon::ActivationReason) {}
void MainWindow::on_tableWidget_itemPressed(QTableWidgetItem*) {}
void MainWindow::on_tableWidget_itemClicked(QTableWidgetItem*) {}
void MainWindow::on_tableWidget_itemActivated(QTableWidgetItem*) {}
void MainWindow::on_tableWidget_customContextMenuRequested(const QPoint&) {}
void MainWindow::on_treeWidgetTaskList_customContextMenuRequested(const QPoint&) {}
void MainWindow::changeStateIcon(QTableWidgetItem*) {}
void MainWindow::appendTaskRow(Task*) {}
bool MainWindow::event(QEvent* e) { return QMainWindow::event(e); }
void MainWindow::closeEvent(QCloseEvent* e) { e->accept(); }
void MainWindow::createTask(int, const QString&, const QString&, const QString&, int) {}
Task* MainWindow::selectedTask() const { return nullptr; }
int MainWindow::nextTaskId() const { return 0; }
void MainWindow::reportStorageFailure(const QString&) {}
