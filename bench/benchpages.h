// SPDX-License-Identifier: GPL-3.0-or-later
// The pages the update-all benchmarks serve: 75 KB, 1,000 links, every third with the keyword "item".
#pragma once

#include <QByteArray>
#include <QString>

namespace BenchPages {
constexpr int Links = 1000;

inline bool hasKeyword(int link)
{
    return link % 3 == 0 || link >= Links; // 334 of 1,000, and every link added after them
}

inline QString linkPath(int task, int link)
{
    return QStringLiteral("/t%1/story/%2.html").arg(task).arg(link);
}

inline QString text(int task, int link, int version)
{
    return QStringLiteral("%1 %2 of page %3, v%4")
        .arg(hasKeyword(link) ? QStringLiteral("Item") : QStringLiteral("Story"))
        .arg(link)
        .arg(task)
        .arg(link == 0 ? version : 1); // the one link whose text changes
}

// With extra links, the page ends with that many keyword links it did not show before.
inline QByteArray page(int task, int version, int extra = 0)
{
    QByteArray html = "<html><head><meta charset=\"utf-8\"><title>Page</title></head><body>\n";
    for (int link = 0; link < Links + extra; ++link)
        html += "<li><a href=\"" + linkPath(task, link).toUtf8() + "\">" + text(task, link, version).toUtf8() +
                "</a></li>\n";
    return html + "</body></html>\n";
}
} // namespace BenchPages
