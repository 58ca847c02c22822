// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "task.h"
#include "taskdatabase.h"

#include <QList>
#include <QMainWindow>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QTableWidgetItem;
class QTimer;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // False when task.db could not be opened; the program must then end without showing the window.
    bool databaseOk() const { return db.isOpen(); }

signals:
    void stateIconChanged(QTableWidgetItem* item);

public slots:
    void checkTask();
    void showTrayMessage();
    void trayMessageClicked();
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_tableWidget_itemPressed(QTableWidgetItem* item);
    void on_tableWidget_itemClicked(QTableWidgetItem* item);
    void on_tableWidget_itemActivated(QTableWidgetItem* item);
    void on_actionReset_Results_triggered();
    void on_actionUpdate_Tasks_triggered();
    void on_tableWidget_customContextMenuRequested(const QPoint& pos);
    void on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos);
    void on_actionShow_grid_triggered();
    void on_actionHomepage_triggered();
    void on_actionRemove_All_Tasks_triggered();
    void on_actionRemove_All_Results_triggered();
    void on_actionRemove_Result_triggered();
    void on_action_Remove_Task_triggered();
    void on_actionAbout_triggered();
    void on_actionHelp_triggered();
    void on_action_Options_triggered();
    void on_actionQuit_triggered();
    void on_action_New_Task_triggered();
    void changeStateIcon(QTableWidgetItem* item);
    void appendTaskRow(Task* task);
    void showTaskResults();
    void showTaskProperties();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createTrayIcon();
    void readSettings();
    void writeSettings();
    void readOptions();
    void updateAutoRun();
    void loadTaskList();
    void createTask(int id, const QString& name, const QString& address, const QString& grabText, int frequency);
    Task* selectedTask() const;
    int nextTaskId() const;
    void reportStorageFailure(const QString& what);

    Ui::MainWindow* ui;
    QSystemTrayIcon* trayIcon = nullptr;
    QAction* minimizeAction = nullptr;
    QAction* maximizeAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* updateNowAction = nullptr;
    QMenu* trayIconMenu = nullptr;
    QTimer* checkTimer = nullptr;
    TaskDatabase db;
    QList<Task*> tasks;
    Task::ResultList latestResults;
};
