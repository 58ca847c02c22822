// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/sharedstroke.h"

#include "engine/definition/task.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int SharedStrokeMs = 1000;

bool isModifier(int key)
{
    return key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta;
}
} // namespace

SharedStroke::SharedStroke(QWidget* window, QAction* removeTask, QAction* resetResults, QAction* quit,
                           std::function<Task*()> selectedTask, std::function<bool()> busy)
    : QObject(window), window(window), removeTask(removeTask), resetResults(resetResults), quit(quit),
      selectedTask(std::move(selectedTask)), busy(std::move(busy)), timer(new QTimer(this))
{
    removeTask->setShortcutContext(Qt::WidgetShortcut);
    resetResults->setShortcutContext(Qt::WidgetShortcut);
    timer->setSingleShot(true);
    timer->setInterval(SharedStrokeMs);
    connect(timer, &QTimer::timeout, this, &SharedStroke::runOut);
    // Any command, from a menu, the toolbar, a shortcut or the tray, ends a started stroke: every action of
    // the window exists by now.
    for (QAction* action : window->findChildren<QAction*>()) {
        if (action != removeTask)
            connect(action, &QAction::triggered, this, &SharedStroke::cancel);
    }
    qApp->installEventFilter(this);
}

SharedStroke::~SharedStroke()
{
    qApp->removeEventFilter(this);
}

bool SharedStroke::isPending() const
{
    return timer->isActive();
}

void SharedStroke::cancel()
{
    timer->stop();
    pending = nullptr;
}

void SharedStroke::runOut()
{
    Task* task = pending;
    const bool hadTask = pendingHadTask;
    pending = nullptr;
    // Never inside a running command; a task removed meanwhile is not looked for again.
    if (busy() || !removeTask->isEnabled())
        return;
    if (task)
        emit removeRequested(task);
    else if (!hadTask)
        emit noTaskSelected();
}

bool SharedStroke::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        // Quit works at any time, also while a command waits with the window disabled.
        if (busy() && QKeySequence(key->keyCombination()) == quit->shortcut()) {
            emit quitRequested();
            return true;
        }
        // A key from the keyboard reaches the window's QWindow first and then the focused widget; only the
        // widget's copy counts, or the second Ctrl+R would cancel its own stroke on the way.
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget)
            break;
        // Keys are seen before the focused view takes them, so that any key ends a started stroke.
        if (widget->window() == window && handleStroke(key))
            return true;
        if (timer->isActive() && !isModifier(key->key()))
            cancel();
        break;
    }
    case QEvent::ShortcutOverride:
        // A shortcut's key never arrives as a key press; it ends a started stroke here.
        if (timer->isActive() && qobject_cast<QWidget*>(watched)) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!isModifier(key->key()) && QKeySequence(key->keyCombination()) != removeTask->shortcut())
                cancel();
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        cancel();
        break;
    case QEvent::Show:
        // A dialog opening ends it too.
        if (timer->isActive() && qobject_cast<QDialog*>(watched))
            cancel();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool SharedStroke::handleStroke(QKeyEvent* event)
{
    if (QKeySequence(event->keyCombination()) != removeTask->shortcut())
        return false;
    if (!event->isAutoRepeat()) {
        if (timer->isActive()) {
            cancel();
            emit resetRequested();
        } else if (!busy()) {
            pending = selectedTask();
            pendingHadTask = pending != nullptr;
            timer->start();
        }
    }
    return true;
}
