// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/trayannouncer.h"

#include "app/trayicon.h"
#include "core/taskchecker.h"

#include <QSet>
#include <QTimer>

#include <utility>

namespace {
const QString PeriodicKind = QStringLiteral("periodic");
} // namespace

TrayAnnouncer::TrayAnnouncer(TaskChecker& core, TrayIcon* tray, QObject* parent)
    : QObject(parent), core(core), tray(tray)
{
    // Counted once the event loop is free: update-all changes the results of every task at once, and each count
    // goes over every task's results.
    for (auto signal : {&TaskChecker::resultsChanged, &TaskChecker::taskAdded, &TaskChecker::taskRemoved}) {
        connect(&core, signal, this, [this] {
            if (!std::exchange(toolTipDue, true))
                QTimer::singleShot(0, this, &TrayAnnouncer::updateToolTip);
        });
    }
    connect(&core, &TaskChecker::resultStatesChanged, this, [this] { updateToolTip(); });
    connect(&core, &TaskChecker::allTasksRemoved, this, [this] { updateToolTip(); });
    connect(&core, &TaskChecker::tasksLoaded, this, [this] { updateToolTip(); });
    connect(&core, &TaskChecker::runNewsFound, this, &TrayAnnouncer::announceRun);
    connect(&core, &TaskChecker::taskNeedsLook, this, &TrayAnnouncer::announceNeedsLook);

    connect(tray, &TrayIcon::announcementClicked, this, &TrayAnnouncer::announcementClicked);
    connect(tray, &TrayIcon::announcementDismissed, this, [this](const QString& kind) {
        if (kind == PeriodicKind)
            unseenNews.clear();
    });
}

void TrayAnnouncer::updateToolTip()
{
    toolTipDue = false;
    tray->setToolTip(Announcement::unreadSummary(core.tasks()));
}

void TrayAnnouncer::announcementClicked(const QString& kind)
{
    if (kind == PeriodicKind)
        unseenNews.clear();
    // The task the announcement named, unless it was removed since.
    const QPointer<Task> task = announcedTasks.value(kind);
    if (task && core.contains(task))
        emit selectTask(task);
}

void TrayAnnouncer::announceRun(const QList<TaskNews>& news)
{
    // What was announced before and is still unread stays named: the new announcement takes the place of
    // the old one (one balloon at a time, one notification of a kind). Each result is named once, found in one
    // pass over each list, so the news kept while the user is away cost no more than their number.
    QHash<const Task*, Task::ResultList> unread;
    QSet<const TaskResult*> named;
    for (const QList<TaskNews>* source : std::initializer_list<const QList<TaskNews>*>{&unseenNews, &news}) {
        for (const TaskNews& entry : *source) {
            if (!entry.task)
                continue;
            for (const Task::ResultPtr& result : entry.results) {
                if (result->state == StateNew && !named.contains(result.get())) {
                    named.insert(result.get());
                    unread[entry.task.data()].append(result);
                }
            }
        }
    }
    QList<TaskNews> merged;
    for (Task* task : core.tasks()) {
        const auto found = unread.constFind(task);
        if (found != unread.constEnd())
            merged.append(TaskNews{task, task->name(), *found});
    }
    unseenNews = merged;
    if (merged.isEmpty())
        return;
    const QString text = merged.size() == 1 ? Announcement::periodicText(merged.first().name, merged.first().results)
                                            : Announcement::updateAllText(merged);
    announce(PeriodicKind, tr("New Results"), text, merged.first().task);
}

void TrayAnnouncer::announce(const QString& kind, const QString& title, const QString& text, Task* task)
{
    announcedTasks.insert(kind, task);
    tray->announce(kind, title, text);
}

void TrayAnnouncer::announceNeedsLook(Task* task, const QString& reason)
{
    if (!task || !core.contains(task))
        return;
    announce(QStringLiteral("needs-look"), tr("Task Needs a Look"), Announcement::needsLookText(task->name(), reason),
             task);
}
