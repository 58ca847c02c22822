// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// What one check of a task has to write: its new results and how its set of seen links changed.
// Storing applies exactly these differences, so an unchanged page writes nothing.
struct TaskChange
{
    int taskId = 0;
    Task::ResultList results;
    QStringList seenAdded;
    QStringList seenRemoved;
};

// One keyword link of a page: the formed address and the link's text as captured.
struct PageLink
{
    QString link;
    QString text;
};

namespace SeenLinks {
// Compares the keyword links of a page, in page order, with the links seen at the task's previous check.
// `previous` is nullopt or empty when nothing was recorded yet: that first check reports nothing and
// records every link. Otherwise a link is reported (a new record dated `today`, state new, with the text of
// its first occurrence) when it was not seen before and no record of `results` has that link. Every link
// not seen before is added, every seen link no longer on the page removed; each at most once.
TaskChange compare(int taskId, const QList<PageLink>& pageLinks, const std::optional<QSet<QString>>& previous,
                   const Task::ResultList& results, const QDate& today);
} // namespace SeenLinks
