// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QString>

// The new results one task got from one check or update-all run.
struct TaskNews
{
    QPointer<Task> task;
    QString name; // the task's name when the news was found
    Task::ResultList results;
};

// The texts of the balloons and desktop notifications that announce new results: the title and first
// sentence as always, then what was found, so the user knows which task to open without looking through
// all of them. Link texts appear as the browser shows them (character references decoded, white space
// made single), each shortened to a readable length.
class Announcement
{
    Q_DECLARE_TR_FUNCTIONS(Announcement)

public:
    static constexpr int MaxTexts = 3;       // link texts named for a periodic check
    static constexpr int MaxTasks = 5;       // tasks named for update-all
    static constexpr int TextsPerTask = 2;   // link texts named per task for update-all
    static constexpr int MaxTextLength = 60; // characters of one link text, ellipsis included

    // A periodic check found new results for one task. earlier counts the results announced before and still
    // unread, named apart on a line of their own.
    static QString periodicText(const QString& taskName, const Task::ResultList& results, int earlier = 0);
    // Update-all found new results for these tasks (in the order of the task list).
    static QString updateAllText(const QList<TaskNews>& news, int earlier = 0);
    // A task turned to needing a look, for the reason given.
    static QString needsLookText(const QString& taskName, const QString& reason);
    // The tray icon's tooltip: how many unread results there are in how many tasks.
    static QString unreadSummary(const QList<Task*>& tasks);
    // The link's text as shown, on one line, at most maxLength characters (an ellipsis marks a cut).
    static QString shortText(const QString& text, int maxLength = MaxTextLength);

private:
    static QString earlierLine(int earlier);
    static QString quotedTexts(const Task::ResultList& results, int count);
};
