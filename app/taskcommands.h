// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/taskdefinition.h"

#include <QHash>
#include <QObject>

#include <functional>

class DialogProgress;
class QWidget;
class Settings;
class Task;
class TaskChecker;
class WatchList;

// The window's commands on tasks and options: update-all, reset, creating, changing, importing, exporting and
// removing tasks, read marking and the options. Each asks what it needs through the window's dialogs, keeps the
// window disabled while the core waits, and tells the window what came of it by the signals below; every change
// of tasks and results goes through the core, every option through the settings.
class TaskCommands : public QObject
{
    Q_OBJECT

public:
    // The window is the parent of the dialogs and is disabled while a command waits; selectedTask is the
    // task list's current task, asked when a command needs one.
    TaskCommands(QWidget* window, TaskChecker& core, Settings& settings, std::function<Task*()> selectedTask);

    // A command waits, or the program is quitting: no other command may start.
    bool busy() const;

public slots:
    void updateAll();
    void resetResults();
    void newTask();
    void editTask();
    void exportTasks();
    void importTasks();
    void markAllRead();
    void removeSelectedTask();
    // Removes the task unless it is gone already.
    void removeTask(Task* task);
    void removeAllTasks();
    // Every result of the selected task.
    void removeTaskResults();
    // Puts back what the latest removal took.
    void undoRemoval();
    void changeOptions();

signals:
    // A line for the status bar.
    void message(const QString& text);
    // The task is to be selected in the task list (a new or imported task).
    void selectTask(Task* task);
    // Results were rebuilt: the selected task's are to be shown afresh, newest first.
    void resultsReplaced();
    // The task's name, address, keyword or frequency changed.
    void taskEdited(Task* task);
    // A balloon of this kind; task is the one a click on it selects (none when nothing is new).
    void announce(const QString& kind, const QString& title, const QString& text, Task* task);
    // The task was removed from the list.
    void taskRemoved();
    void allTasksRemoved();
    // A command that needs a task found none selected.
    void noTaskSelected();

private:
    // False when the program is quitting.
    bool createTask(const TaskDefinition& entered, QWidget* progress);
    // Disables the window and shows the command's wait box, which can end the wait.
    void showWait(DialogProgress& box);
    void reportFailure(const QString& what, const QString& why);
    // A count of pages, one in the singular.
    static QString pagesText(int pages);
    void showPlain(const QString& title, const QString& text);

    QWidget* window;
    TaskChecker& core;
    WatchList& watches; // the core's tasks
    Settings& settings;
    std::function<Task*()> selectedTask;
};
