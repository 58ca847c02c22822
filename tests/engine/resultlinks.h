// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"

#include <QHostAddress>
#include <QPair>
#include <QTcpServer>

// Helpers of the engine tests: pages and result lists written as (address, text) pairs.
namespace ResultLinks {
using Link = QPair<QString, QString>; // link (or href as written in the page), text
using Links = QList<Link>;

// A page with one anchor per entry, the href written exactly as given.
inline QByteArray anchors(const Links& links)
{
    QString page = QStringLiteral("<html><body>\n");
    for (const Link& link : links)
        page += QStringLiteral("<p><a href=%1>%2</a></p>\n").arg(link.first, link.second);
    return page.toUtf8() + "</body></html>\n";
}

inline Task::ResultList records(const Links& links)
{
    Task::ResultList list;
    for (const Link& link : links) {
        auto record = Task::ResultPtr::create();
        record->link = link.first;
        record->text = link.second;
        list.append(record);
    }
    return list;
}

inline Links linksOf(const Task::ResultList& list)
{
    Links links;
    for (const Task::ResultPtr& record : list)
        links.append({record->link, record->text});
    return links;
}

// `count` anchors "<a href=N>text</a>", N counting from 0.
inline QString tinyAnchors(int count, const QString& text)
{
    QString page;
    page.reserve(count * (16 + text.size()));
    for (int i = 0; i < count; ++i)
        page += QStringLiteral("<a href=%1>%2</a>").arg(i).arg(text);
    return page;
}

// A page as a download of `address` would give it.
inline FetchedPage pageAt(const QString& address, const QByteArray& body)
{
    FetchedPage page;
    page.ok = true;
    page.body = body;
    page.url = QUrl(address);
    page.status = 200;
    return page;
}

// A loopback port that nothing listens on.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
} // namespace ResultLinks
