// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/matching/feedreader.h"
#include "engine/matching/seenlinks.h"

#include <QList>
#include <QString>
#include <QStringList>

// What decides which links of a page a task keeps, as values: a page can be read with them on any thread,
// and a reading made for a task that has changed since is told apart from a current one.
struct LinkRule
{
    QString address; // the task's address: the base of the page's links when the reply names no other
    QString keyword;
    QStringList excluded;
    QString region; // trimmed; empty: the whole page

    bool operator==(const LinkRule& other) const
    {
        return address == other.address && keyword == other.keyword && excluded == other.excluded &&
               region == other.region;
    }
    bool operator!=(const LinkRule& other) const { return !(*this == other); }
};

// A downloaded page read by a rule: its keyword links in page order, and the same links keyed by link with
// the text of the last one of each, as an update check compares them with the stored results.
struct PageReading
{
    LinkRule rule;
    QList<PageLink> links;
    Task::LinkTexts found;
    bool regionMissed = false; // the rule's region selected nothing on the page
    // The body was a feed, read with the page: its items, as FetchedPage keeps them.
    bool feed = false;
    QList<FeedItem> feedItems;
    QString error; // why the page could not be read (its feed, its budget spent); then no links
};
