// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

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

// A loopback port that nothing listens on.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
} // namespace ResultLinks
