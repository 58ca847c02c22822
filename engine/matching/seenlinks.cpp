// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/seenlinks.h"

namespace SeenLinks {

TaskChange compare(int taskId, const QList<PageLink>& pageLinks, const std::optional<QSet<QString>>& previous,
                   const Task::ResultList& results, const QDate& today)
{
    TaskChange change;
    change.taskId = taskId;
    const bool firstCheck = !previous || previous->isEmpty();

    QSet<QString> resultLinks;
    if (!firstCheck) {
        for (const Task::ResultPtr& result : results) {
            if (result)
                resultLinks.insert(result->link);
        }
    }

    QSet<QString> onPage;
    onPage.reserve(pageLinks.size());
    for (const PageLink& found : pageLinks) {
        if (onPage.contains(found.link))
            continue; // a link repeated on the page counts once, with its first text
        onPage.insert(found.link);
        if (!firstCheck && previous->contains(found.link))
            continue;
        change.seenAdded.append(found.link);
        if (!firstCheck && !resultLinks.contains(found.link))
            change.results.append(
                Task::ResultPtr::create(Task::TaskResult{taskId, today, found.text, found.link, StateNew}));
    }

    if (!firstCheck) {
        for (const QString& link : *previous) {
            if (!onPage.contains(link))
                change.seenRemoved.append(link);
        }
        // A set has no order of its own; a sorted list keeps the writes and their tests repeatable.
        change.seenRemoved.sort();
    }
    return change;
}

} // namespace SeenLinks
