// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/linkscanner.h"

namespace {
// Position of the next "href=" at or after from, or -1. Looks for its '=' with the vectorised
// single-character search and checks the four characters before it, which on a page is faster than
// a search for the whole word; every '=' is looked at once.
qsizetype nextHref(QStringView page, qsizetype from)
{
    static constexpr QStringView name = u"href";
    qsizetype eq = from + name.size();
    while ((eq = page.indexOf(u'=', eq)) >= 0) {
        if (page.sliced(eq - name.size(), name.size()) == name)
            return eq - name.size();
        ++eq;
    }
    return -1;
}
} // namespace

// A minimal-matching QRegExp of  href=\s*([^<]* ?) *\s*>([^<]* ?)</a>  matches at an occurrence of
// "href=" exactly when the first '<' after it begins "</a>" and at least one '>' stands between;
// capture 1 then runs up to the last such '>', capture 2 from there to the "</a>". Each occurrence is
// judged on its own, overlapping ones included.
//
// Linear time: the occurrences come in increasing order, so the first '<' after each of them is found
// by a cursor that only moves forward, and the last '>' before that '<' is looked for once per '<',
// between the occurrence that first reached it and it (a later occurrence before the same '<' only
// checks that this '>' stands after it). The stretches looked at never overlap.
void LinkScanner::scan(QStringView page, const std::function<void(const Match&)>& onMatch)
{
    static constexpr QStringView hrefTag = u"href=";
    static constexpr QStringView closeTag = u"</a>";

    qsizetype lt = -1;     // first '<' at or after the current occurrence's end, -1 before the first look
    qsizetype lastGt = -1; // last '>' before lt (and after the occurrence that found lt), or -1
    qsizetype from = 0;
    while (true) {
        const qsizetype start = nextHref(page, from);
        if (start < 0)
            return;
        const qsizetype afterTag = start + hrefTag.size();
        if (lt < afterTag) {
            lt = page.indexOf(u'<', afterTag);
            if (lt < 0)
                return; // no '<' left: no later occurrence can match either
            lastGt = page.sliced(afterTag, lt - afterTag).lastIndexOf(u'>');
            if (lastGt >= 0)
                lastGt += afterTag;
        }
        if (lastGt >= afterTag && page.sliced(lt).startsWith(closeTag)) {
            Match m;
            m.start = start;
            m.href = page.sliced(afterTag, lastGt - afterTag);
            m.text = page.sliced(lastGt + 1, lt - lastGt - 1);
            onMatch(m);
        }
        from = start + 1;
    }
}

QList<LinkScanner::Match> LinkScanner::matches(QStringView page)
{
    QList<Match> found;
    scan(page, [&found](const Match& m) { found.append(m); });
    return found;
}
