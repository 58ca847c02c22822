// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// One item of a feed as a link: its address made absolute and its title as plain text.
struct FeedItem
{
    QString link;
    QString title;
};

// Reads RSS 2.0, RSS 1.0 (RDF) and Atom feeds with libxml2. A feed is untrusted input: no network access,
// no external entity or DTD is loaded, entities the feed declares are not expanded, the nesting depth is
// libxml2's default bound, and a read stops when its budget is spent (the reading budget of the thread, else one
// of the default limits).
namespace FeedReader {
constexpr int MaxItems = 100000; // items beyond it are not read
// How far into a body the root element is looked for.
constexpr qsizetype SniffBytes = 16 * 1024;

struct Result
{
    bool ok = false;
    QString error;          // why the feed could not be read; empty when ok
    bool abandoned = false; // the reading was abandoned: its budget was spent, or its entities expand too far
    QList<FeedItem> items;
};

// The local name of the body's root element ("rss", "RDF", "html"), found by looking at no more than its
// first SniffBytes past the XML declaration, comments, processing instructions and the document type;
// empty when none stands there.
QByteArray rootName(const QByteArray& body);
// Whether the body is a feed: by its content type (application/rss+xml or application/atom+xml) or,
// whatever the type, by an rss, RDF or feed root element. Anything else is a page.
bool isFeed(const QByteArray& contentType, const QByteArray& body);

// The feed's items in document order: RSS items and Atom entries. The link is the RSS link, else a guid
// that is a permalink, or the Atom link with rel "alternate" or no rel, resolved against xml:base and the
// feed's address; an item without one is left out. The title has its entities decoded, the markup of
// an HTML title reduced to its text and its white space simplified; attribute values have the entities the feed
// declares expanded, no more than the feed's own size in all. A body that is not well-formed XML, whose root is
// no feed, whose entities expand past that, or that spends its budget fails with the reason.
Result read(const QByteArray& body, const QByteArray& contentType, const QUrl& address);
} // namespace FeedReader
