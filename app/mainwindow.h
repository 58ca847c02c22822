// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/resultspane.h"
#include "engine/definition/task.h"

#include <QList>
#include <QMainWindow>

class DesktopNotifier;
class QLabel;
class QModelIndex;
class Settings;
class SharedStroke;
class TaskChecker;
class WatchList;
class TaskCommands;
class TaskListModel;
class TrayAnnouncer;
class TrayIcon;

namespace Ui {
class MainWindow;
}

// The window over the checking core: the task list and the results table show the core's tasks through
// their models, the commands hand their work to the core, and the status bar, balloons and boxes tell
// the user what came of it. The core and the settings are built by the caller and outlive the window.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(TaskChecker& core, Settings& settings, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The box shown when task.db cannot be opened, naming the file and SQLite's reason; the program then ends
    // without a window.
    static void showDatabaseFailure(const QString& fileName, const QString& reason);
    // A check frequency as shown in the property table: 2(Day), 3(Hour), 90(Minute).
    static QString frequencyText(int seconds);
    // The tasks in the order of the task list's rows.
    const QList<Task*>& taskList() const;
    // The checking core the window hands its work to.
    TaskChecker& checker() { return core; }
    // Shown beside the status bar's messages at start-up: the old results could not be deleted.
    void showOldResultsKept(const QString& reason);
    // A message in the status bar (it stays until the next one).
    void showMessage(const QString& text);
    // Beside the status bar's messages while task.db is prepared after the window shows: what is being done
    // (the indexes built, or the results counted), until showPrepared() tells what failed, if anything.
    void showPreparing(bool buildingIndexes);
    // The same while the tasks themselves are read beside the window.
    void showReadingTasks();
    // Selects the task selected when the window last closed (else the first) and shows it; at start, and once
    // tasks read beside the window are there.
    void showStartTask();
    void showPrepared(const QString& indexFailure, const QString& countFailure);

    // Hands a link to the browser; false when no browser took it. Unless set, links are opened with the
    // desktop's browser.
    using LinkOpener = ResultsPane::LinkOpener;
    void setLinkOpener(LinkOpener opener);
    // See TrayIcon: whether there is a tray, and where announcements go without one.
    void setTrayAvailable(bool available);
    void setNotifier(DesktopNotifier* sink);

public slots:
    // Shows, raises and activates the window, wherever it was: minimised, hidden in the tray, behind others.
    void bringToFront();

private slots:
    void on_tableWidget_pressed(const QModelIndex& index);
    void on_tableWidget_clicked(const QModelIndex& index);
    void on_tableWidget_activated(const QModelIndex& index);
    void on_tableWidget_doubleClicked(const QModelIndex& index);
    void on_tableWidget_customContextMenuRequested(const QPoint& pos);
    void on_treeWidgetTaskList_customContextMenuRequested(const QPoint& pos);
    void on_actionReset_Results_triggered();
    void on_actionUpdate_Tasks_triggered();
    void on_actionShow_grid_triggered();
    void on_actionHomepage_triggered();
    void on_actionRemove_All_Tasks_triggered();
    void on_actionRemove_All_Results_triggered();
    void on_actionRemove_Result_triggered();
    void on_action_Remove_Task_triggered();
    void on_actionUndo_triggered();
    void on_actionAbout_triggered();
    void on_actionHelp_triggered();
    void on_action_Options_triggered();
    void on_actionQuit_triggered();
    void on_action_New_Task_triggered();
    void on_actionEdit_Task_triggered();
    void on_actionMark_All_Read_triggered();
    void on_actionFind_triggered();
    void on_actionExport_Tasks_triggered();
    void on_actionImport_Tasks_triggered();
    void on_actionPause_Task_triggered();
    void on_actionMute_Task_triggered();
    void showTask();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* preparingLabel();
    void setUpViews();
    void setUpCommands();
    void setUpTray();
    // Shows the window as it was before it went to the tray: maximised stays maximised.
    void showFromTray();
    void selectTask(Task* task);
    void announceResults(Task* task, const Task::ResultList& found);
    bool commandRunning() const;
    void readSettings();
    void writeSettings();
    void showNoTaskSelected();
    void showAfterRemoval();
    Task* selectedTask() const;
    void showTaskProperties();
    // Pause Task and Mute Task show the selected task's switches.
    void showTaskSwitches();
    // Pause Task (paused) or Mute Task turns its switch of the selected task over.
    void toggleSwitch(bool paused);
    void showTaskResults();

    Ui::MainWindow* ui;
    TaskChecker& core;
    WatchList& watches; // the core's tasks
    Settings& settings;
    TaskListModel* taskModel = nullptr;
    ResultsPane* results = nullptr;
    TaskCommands* commands = nullptr;
    TrayIcon* tray = nullptr;
    TrayAnnouncer* announcer = nullptr;
    SharedStroke* stroke = nullptr;
    bool closed = false; // the window state was written by closing
};
