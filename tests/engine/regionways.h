// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A region's links both ways: read from the parsed tree (PageRegion::Links) and from the region written back as
// HTML and scanned (PageRegion::select, LinkScanner::PageLinks), each link formed as a check forms it.
#include "engine/matching/linkscanner.h"
#include "engine/matching/pageregion.h"
#include "engine/tools.h"

#include <QStringList>
#include <QTest>
#include <QUrl>

namespace RegionWays {
// "+link|text" for a markup anchor, "=link|text" for a match of the pattern, in the order given.
template <typename Links> QStringList describe(const Links& links)
{
    const QUrl page(QStringLiteral("http://h.test:8080/d/index.html"));
    const std::optional<QStringView> base = links.baseHref();
    const Tools::LinkResolver resolve(base ? page.resolved(QUrl(Tools::hrefValue(*base))) : page);
    QStringList found;
    links.scan([&](const LinkScanner::Match& m) {
        found.append((m.markup ? u'+' : u'=') + resolve(m.href) + u'|' + m.text.toString());
    });
    return found;
}

// Fails the test where the two ways differ; counts the regions read from the tree in *fromTree.
inline void compare(const QString& page, const QString& region, int* fromTree = nullptr)
{
    const PageRegion::Selection written = PageRegion::select(page, region);
    const PageRegion::Links links(page, region);
    QCOMPARE(links.matched(), written.matched);
    QCOMPARE(links.error(), written.error);
    QCOMPARE(describe(links), describe(LinkScanner::PageLinks(written.html)));
    if (fromTree)
        *fromTree += links.fromTree() && links.matched() ? 1 : 0;
}
} // namespace RegionWays
