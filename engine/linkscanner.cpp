// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/linkscanner.h"

#include "engine/tools.h"

#include <algorithm>

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

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// Whether the text begins with the tag name given (any case) followed by white space, '/' or '>' or the end.
bool startsWithName(QStringView text, QStringView name)
{
    if (!text.startsWith(name, Qt::CaseInsensitive))
        return false;
    return text.size() == name.size() || isHtmlSpace(text[name.size()]) || text[name.size()] == u'/' ||
           text[name.size()] == u'>';
}

// "<a" followed by white space.
bool isAnchorStart(QStringView text)
{
    return text.size() > 2 && (text[1] == u'a' || text[1] == u'A') && isHtmlSpace(text[2]);
}

bool isAnchorEnd(QStringView text)
{
    return text.startsWith(u"</") && startsWithName(text.sliced(2), u"a");
}

struct Tag
{
    bool closed = false;    // its '>' stands before the bound
    qsizetype end = 0;      // after its '>', or the bound
    qsizetype hrefPos = -1; // position of the name of its first href attribute
    QStringView hrefValue;  // that attribute's value as written
};

// Reads the attributes of a start tag from pos (after "<" and the tag name, or on the name, which reads as
// an attribute without value) up to its '>', as a browser does: values quoted with " or ' or bare. Looks
// no further than limit.
Tag readTag(QStringView page, qsizetype pos, qsizetype limit)
{
    Tag tag;
    const auto skipSpace = [&] {
        while (pos < limit && isHtmlSpace(page[pos]))
            ++pos;
    };
    while (true) {
        while (pos < limit && (isHtmlSpace(page[pos]) || page[pos] == u'/'))
            ++pos;
        if (pos >= limit)
            break;
        if (page[pos] == u'>') {
            tag.closed = true;
            tag.end = pos + 1;
            return tag;
        }
        const qsizetype name = pos++;
        while (pos < limit && !isHtmlSpace(page[pos]) && page[pos] != u'/' && page[pos] != u'>' && page[pos] != u'=')
            ++pos;
        const QStringView attribute = page.sliced(name, pos - name);
        skipSpace();
        if (pos >= limit || page[pos] != u'=')
            continue;
        ++pos;
        skipSpace();
        const qsizetype value = pos;
        if (pos < limit && (page[pos] == u'"' || page[pos] == u'\'')) {
            const qsizetype closing = page.sliced(pos + 1, limit - pos - 1).indexOf(page[pos]);
            if (closing < 0)
                break;
            pos += closing + 2;
        } else {
            while (pos < limit && !isHtmlSpace(page[pos]) && page[pos] != u'>')
                ++pos;
        }
        if (tag.hrefPos < 0 && attribute.compare(u"href", Qt::CaseInsensitive) == 0) {
            tag.hrefPos = name;
            tag.hrefValue = page.sliced(value, pos - value);
        }
    }
    tag.end = limit;
    return tag;
}

// Position just after the first occurrence of what (any case) in [from, limit), or -1.
qsizetype after(QStringView page, qsizetype from, qsizetype limit, QStringView what)
{
    const qsizetype at = page.sliced(from, limit - from).indexOf(what, 0, Qt::CaseInsensitive);
    return at < 0 ? -1 : from + at + what.size();
}

// Walks an anchor's content from pos and returns where it ends: at "</a", at the next "<a" start tag, at
// the bound of MaxAnchorContent or at the end of the page. When text is given, appends the pieces of
// text outside tags, comments, script and style elements to it, character references decoded.
qsizetype walkContent(QStringView page, qsizetype pos, QString* text)
{
    const qsizetype limit = std::min(page.size(), pos + LinkScanner::MaxAnchorContent);
    while (pos < limit) {
        qsizetype lt = page.sliced(pos, limit - pos).indexOf(u'<');
        lt = lt < 0 ? limit : pos + lt;
        if (text && lt > pos)
            text->append(Tools::displayText(page.sliced(pos, lt - pos)));
        if (lt == limit)
            return limit;
        const QStringView rest = page.sliced(lt, limit - lt);
        if (isAnchorStart(rest) || isAnchorEnd(rest))
            return lt;
        qsizetype next = -1;
        const bool script = startsWithName(rest.sliced(1), u"script");
        if (script || startsWithName(rest.sliced(1), u"style")) {
            // Their content is no text: skip to the end tag, then past its '>'.
            next = after(page, lt, limit, script ? QStringView(u"</script") : QStringView(u"</style"));
            if (next >= 0) {
                const Tag end = readTag(page, next, limit);
                next = end.closed ? end.end : -1;
            }
        } else if (rest.startsWith(u"<!--")) {
            next = after(page, lt + 4, limit, u"-->");
        } else if (rest.size() > 1 && (rest[1].isLetter() || rest[1] == u'/' || rest[1] == u'!' || rest[1] == u'?')) {
            const Tag tag = readTag(page, lt + 1, limit);
            next = tag.closed ? tag.end : -1;
        } else {
            if (text)
                text->append(u'<'); // a '<' that begins no tag is text
            pos = lt + 1;
            continue;
        }
        if (next < 0)
            return limit;
        pos = next;
    }
    return limit;
}

// An "<a" start tag with an href attribute and where its content ends.
struct Anchor
{
    qsizetype hrefPos;
    QStringView hrefValue;
    qsizetype contentBegin;
    qsizetype contentEnd;
};

// The anchors of the page in page order. Each stretch of the page is looked at by one anchor only: the
// search goes on where the previous anchor's tag or content ended.
QList<Anchor> anchors(QStringView page)
{
    QList<Anchor> found;
    qsizetype pos = 0;
    while ((pos = page.indexOf(u'<', pos)) >= 0) {
        if (!isAnchorStart(page.sliced(pos))) {
            ++pos;
            continue;
        }
        const Tag tag = readTag(page, pos + 2, std::min(page.size(), pos + 2 + LinkScanner::MaxTagLength));
        if (!tag.closed || tag.hrefPos < 0) {
            pos = tag.end;
            continue;
        }
        const qsizetype contentEnd = walkContent(page, tag.end, nullptr);
        found.append({tag.hrefPos, tag.hrefValue, tag.end, contentEnd});
        pos = contentEnd;
    }
    return found;
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

void LinkScanner::scanLinks(QStringView page, const std::function<void(const Match&)>& onLink)
{
    const QList<Anchor> found = anchors(page);
    qsizetype next = 0;
    QString text;
    // Hands on the anchors before position end whose "href=" gave no match.
    const auto anchorsBefore = [&](qsizetype end) {
        for (; next < found.size() && found[next].hrefPos < end; ++next) {
            const Anchor& anchor = found[next];
            text.clear();
            walkContent(page, anchor.contentBegin, &text);
            text = std::move(text).simplified();
            if (text.isEmpty())
                continue;
            Match m;
            m.start = anchor.hrefPos;
            m.href = anchor.hrefValue;
            m.text = text;
            m.markup = true;
            onLink(m);
        }
    };
    scan(page, [&](const Match& m) {
        anchorsBefore(m.start);
        if (next < found.size() && found[next].hrefPos == m.start)
            ++next; // the pattern matched this anchor's "href="
        onLink(m);
    });
    anchorsBefore(page.size());
}

std::optional<QStringView> LinkScanner::baseHref(QStringView page)
{
    qsizetype pos = 0;
    while ((pos = page.indexOf(u'<', pos)) >= 0) {
        if (!startsWithName(page.sliced(pos + 1), u"base")) {
            ++pos;
            continue;
        }
        const Tag tag = readTag(page, pos + 5, std::min(page.size(), pos + 5 + MaxTagLength));
        if (tag.hrefPos >= 0)
            return tag.hrefValue;
        pos = tag.end;
    }
    return std::nullopt;
}
