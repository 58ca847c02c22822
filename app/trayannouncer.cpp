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
    : QObject(parent), core(core), watches(core.watches()), tray(tray)
{
    // Counted once the event loop is free: update-all changes the results of every task at once, and each count
    // goes over every task's results.
    for (auto signal : {&WatchList::resultsChanged, &WatchList::taskAdded, &WatchList::taskRemoved}) {
        connect(&watches, signal, this, [this] {
            if (!std::exchange(toolTipDue, true))
                QTimer::singleShot(0, this, &TrayAnnouncer::updateToolTip);
        });
    }
    connect(&watches, &WatchList::resultStatesChanged, this, [this] { updateToolTip(); });
    connect(&watches, &WatchList::allTasksRemoved, this, [this] { updateToolTip(); });
    connect(&watches, &WatchList::tasksLoaded, this, [this] { updateToolTip(); });
    connect(&core.periodic(), &PeriodicChecks::runNewsFound, this, &TrayAnnouncer::announceRun);
    connect(&core.health(), &TaskHealth::lookNeeded, this, &TrayAnnouncer::announceNeedsLook);

    connect(tray, &TrayIcon::announcementClicked, this, &TrayAnnouncer::announcementClicked);
    connect(tray, &TrayIcon::announcementDismissed, this, [this](const QString& kind) {
        if (kind == PeriodicKind)
            unseenNews.clear();
    });
}

void TrayAnnouncer::updateToolTip()
{
    toolTipDue = false;
    tray->setToolTip(Announcement::unreadSummary(watches.tasks()));
}

void TrayAnnouncer::announcementClicked(const QString& kind)
{
    if (kind == PeriodicKind)
        unseenNews.clear();
    // The task the announcement named, unless it was removed since.
    const QPointer<Task> task = announcedTasks.value(kind);
    if (task && watches.contains(task))
        emit selectTask(task);
}

void TrayAnnouncer::announceRun(const QList<TaskNews>& news)
{
    // What was announced before and is still unread stays known, and is counted apart: the new announcement
    // takes the place of the old one (one balloon at a time, one notification of a kind) and calls new only what
    // no announcement named yet. Each result is counted once, found in one pass over each list, so the news kept
    // while the user is away cost no more than their number.
    QHash<const Task*, Task::ResultList> earlier;
    QHash<const Task*, Task::ResultList> fresh;
    QSet<const TaskResult*> named;
    int earlierCount = 0;
    for (const QList<TaskNews>* source : std::initializer_list<const QList<TaskNews>*>{&unseenNews, &news}) {
        const bool announced = source == &unseenNews;
        for (const TaskNews& entry : *source) {
            if (!entry.task || !watches.contains(entry.task))
                continue;
            for (const Task::ResultPtr& result : entry.results) {
                if (result->state == StateNew && !named.contains(result.get())) {
                    named.insert(result.get());
                    (announced ? earlier : fresh)[entry.task.data()].append(result);
                    earlierCount += announced ? 1 : 0;
                }
            }
        }
    }
    QList<TaskNews> unseen;
    QList<TaskNews> shown;
    for (Task* task : watches.tasks()) {
        const Task::ResultList found = fresh.value(task);
        if (!found.isEmpty())
            shown.append(TaskNews{task, task->name(), found});
        if (!found.isEmpty() || earlier.contains(task))
            unseen.append(TaskNews{task, task->name(), earlier.value(task) + found});
    }
    unseenNews = unseen;
    if (shown.isEmpty())
        return;
    const QString text = shown.size() == 1
                             ? Announcement::periodicText(shown.first().name, shown.first().results, earlierCount)
                             : Announcement::updateAllText(shown, earlierCount);
    announce(PeriodicKind, tr("New Results"), text, shown.first().task);
}

void TrayAnnouncer::announce(const QString& kind, const QString& title, const QString& text, Task* task)
{
    announcedTasks.insert(kind, task);
    tray->announce(kind, title, text);
}

void TrayAnnouncer::announceNeedsLook(Task* task, const QString& reason)
{
    if (!task || !watches.contains(task))
        return;
    announce(QStringLiteral("needs-look"), tr("Task Needs a Look"), Announcement::needsLookText(task->name(), reason),
             task);
}
