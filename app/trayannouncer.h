// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/announcement.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class Task;
class TaskChecker;
class WatchList;
class TrayIcon;

// What the tray tells about the checking core: its tooltip counts the unread results, and its balloons (or
// desktop notifications) announce what the checks found. A click on an announcement asks for the task it
// named, unless that task was removed since.
class TrayAnnouncer : public QObject
{
    Q_OBJECT

public:
    TrayAnnouncer(TaskChecker& core, TrayIcon* tray, QObject* parent = nullptr);

    // An announcement of this kind naming the task.
    void announce(const QString& kind, const QString& title, const QString& text, Task* task);
    // One announcement for a periodic run's news, naming as well the news of earlier runs not seen yet.
    void announceRun(const QList<TaskNews>& news);
    // The one announcement that a task needs a look: once when it breaks, again only after it recovered.
    void announceNeedsLook(Task* task, const QString& reason);
    void updateToolTip();

signals:
    void selectTask(Task* task);

private:
    void announcementClicked(const QString& kind);

    TaskChecker& core;
    WatchList& watches; // the core's tasks
    TrayIcon* tray;
    bool toolTipDue = false; // an update of the tooltip waits for the event loop
    // The task each kind of announcement named last ("periodic", "update-all"), for a click on it.
    QHash<QString, QPointer<Task>> announcedTasks;
    // The news of periodic runs announced and not yet seen: the user has neither clicked nor closed their
    // announcement, nor read the results.
    QList<TaskNews> unseenNews;
};
