// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QKeyEvent;
class QTimer;
class QWidget;
class Task;

// Remove Task is Ctrl+R, Reset Results Ctrl+R, Ctrl+R. Left to Qt, the first stroke would run Remove Task
// at once: Reset could never be reached by keyboard, and reaching for it would remove two tasks without a
// question. This filter tells them apart: a second stroke within a second means Reset, none means Remove
// Task of the task selected at the first stroke, any other input means neither. It watches every event of
// the application (a key pressed anywhere, a click, a dialog opening and any command of the window end a
// started stroke) and reads only widget key events of its window.
class SharedStroke : public QObject
{
    Q_OBJECT

public:
    // The actions are the window's; both keep their shortcuts for the menus, but only this filter acts on
    // the keys. selectedTask and busy are asked at the first stroke and when it runs out.
    SharedStroke(QWidget* window, QAction* removeTask, QAction* resetResults, QAction* quit,
                 std::function<Task*()> selectedTask, std::function<bool()> busy);
    ~SharedStroke() override;

    bool isPending() const;

public slots:
    // Ends a started stroke: nothing is removed.
    void cancel();

signals:
    // The stroke ran out with a task selected at its first stroke; the task still exists.
    void removeRequested(Task* task);
    // The stroke ran out with no task selected at its first stroke.
    void noTaskSelected();
    // A second stroke came within the time.
    void resetRequested();
    // Quit was pressed while a command waits.
    void quitRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handleStroke(QKeyEvent* event);
    void runOut();

    QWidget* window;
    QAction* removeTask;
    QAction* resetResults;
    QAction* quit;
    std::function<Task*()> selectedTask;
    std::function<bool()> busy;
    QTimer* timer;
    QPointer<Task> pending; // the task selected at the first stroke
    bool pendingHadTask = false;
};
