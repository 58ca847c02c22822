// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/linkscanner.h"

#include "engine/matching/readingbudget.h"
#include "engine/tools.h"

#include <QtAlgorithms>

#include <algorithm>
#include <array>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {
// How many steps of a scan loop go between two questions to the reading's budget; a scan abandoned stops where it is.
constexpr unsigned StepsPerQuestion = 4096;

bool carryOn(unsigned& steps)
{
    return ++steps % StepsPerQuestion != 0 || ReadingBudget::carryOnHere();
}

// Names and tags looked for, as constants so their length is not counted at each use.
constexpr QStringView AnchorName = u"a";
constexpr QStringView BaseName = u"base";
constexpr QStringView HrefName = u"href";
constexpr QStringView ScriptName = u"script";
constexpr QStringView StyleName = u"style";
constexpr QStringView AnchorEnd = u"</a>";
constexpr QStringView ScriptEnd = u"</script";
constexpr QStringView StyleEnd = u"</style";
constexpr QStringView CommentStart = u"<!--";
constexpr QStringView CommentEnd = u"-->";

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

// Position of the first c in [from, limit), or limit. Markup holds a '<' every few characters, where
// the set-up of QStringView::indexOf costs more than the search: eight characters are compared at once
// where SSE2 is at hand (every x86-64), one at a time elsewhere.
qsizetype nextOf(QStringView page, qsizetype from, qsizetype limit, char16_t c)
{
    const char16_t* const s = page.utf16();
#ifdef __SSE2__
    const __m128i wanted = _mm_set1_epi16(short(c));
    for (; from + 8 <= limit; from += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + from));
        const uint mask = uint(_mm_movemask_epi8(_mm_cmpeq_epi16(chunk, wanted)));
        if (mask)
            return from + qCountTrailingZeroBits(mask) / 2;
    }
#endif
    while (from < limit && s[from] != c)
        ++from;
    return from;
}

qsizetype nextLt(QStringView page, qsizetype from, qsizetype limit)
{
    return nextOf(page, from, limit, u'<');
}

// Character classes of the tag reading, for the ASCII characters.
enum : unsigned char
{
    Space = 1,   // HTML white space
    NameEnd = 2, // ends an attribute name
    ValueEnd = 4 // ends a bare attribute value
};

constexpr std::array<unsigned char, 128> Classes = [] {
    std::array<unsigned char, 128> classes{};
    for (char c : {' ', '\t', '\n', '\r', '\f'})
        classes[size_t(c)] = Space | NameEnd | ValueEnd;
    classes['/'] = NameEnd;
    classes['='] = NameEnd;
    classes['>'] = NameEnd | ValueEnd;
    return classes;
}();

bool isClass(char16_t c, unsigned char mask)
{
    return c < Classes.size() && (Classes[c] & mask) != 0;
}

bool isHtmlSpace(QChar c)
{
    return isClass(c.unicode(), Space);
}

// Whether the text begins with the tag name given (lower case; the text in any case) followed by white
// space, '/' or '>' or the end.
bool startsWithName(QStringView text, QStringView name)
{
    if (text.size() < name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if ((text[i].unicode() | 0x20) != name[i].unicode()) // folds A-Z only, as name holds letters
            return false;
    }
    return text.size() == name.size() || isClass(text[name.size()].unicode(), Space | NameEnd);
}

// "<a" followed by white space.
bool isAnchorStart(QStringView text)
{
    return text.size() > 2 && (text[1] == u'a' || text[1] == u'A') && isHtmlSpace(text[2]);
}

bool isAnchorEnd(QStringView text)
{
    return text.size() > 2 && text[1] == u'/' && startsWithName(text.sliced(2), AnchorName);
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
    const char16_t* const s = page.utf16();
    const auto skip = [&](unsigned char mask) {
        while (pos < limit && isClass(s[pos], mask))
            ++pos;
    };
    Tag tag;
    while (true) {
        while (pos < limit && (isClass(s[pos], Space) || s[pos] == u'/'))
            ++pos;
        if (pos >= limit)
            break;
        if (s[pos] == u'>') {
            tag.closed = true;
            tag.end = pos + 1;
            return tag;
        }
        const qsizetype name = pos++;
        while (pos < limit && !isClass(s[pos], NameEnd))
            ++pos;
        const bool href = pos - name == 4 && startsWithName(page.sliced(name, 4), HrefName);
        skip(Space);
        if (pos >= limit || s[pos] != u'=')
            continue;
        ++pos;
        skip(Space);
        const qsizetype value = pos;
        if (pos < limit && (s[pos] == u'"' || s[pos] == u'\'')) {
            const char16_t quote = s[pos++];
            while (pos < limit && s[pos] != quote)
                ++pos;
            if (pos >= limit)
                break;
            ++pos;
        } else {
            while (pos < limit && !isClass(s[pos], ValueEnd))
                ++pos;
        }
        if (href && tag.hrefPos < 0) {
            tag.hrefPos = name;
            tag.hrefValue = page.sliced(value, pos - value);
        }
    }
    tag.end = limit;
    return tag;
}

// Whether the page holds text, exactly, at pos.
bool holdsAt(QStringView page, qsizetype pos, QStringView text)
{
    if (pos + text.size() > page.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (page[pos + i] != text[i])
            return false;
    }
    return true;
}

// The most common anchor needs no reading: its text holds no markup (the first '<' after "<a" begins
// "</a>") and "href=" stands before the first '>', in its start tag. The pattern of scan() matches at that
// "href=", so the anchor is found already. Returns the position of that "</a>", or -1 for any other anchor.
qsizetype plainAnchorEnd(QStringView page, qsizetype from)
{
    const qsizetype lt = nextLt(page, from, page.size());
    if (!holdsAt(page, lt, AnchorEnd))
        return -1;
    const qsizetype gt = nextOf(page, from, lt, u'>');
    for (qsizetype eq = nextOf(page, from, gt, u'='); eq < gt; eq = nextOf(page, eq + 1, gt, u'=')) {
        if (eq - 4 >= from && holdsAt(page, eq - 4, HrefName))
            return lt;
    }
    return -1;
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
        const qsizetype lt = nextLt(page, pos, limit);
        if (text && lt > pos)
            LinkScanner::appendText(text, page.sliced(pos, lt - pos));
        if (lt == limit)
            return limit;
        const QStringView rest = page.sliced(lt, limit - lt);
        if (isAnchorStart(rest) || isAnchorEnd(rest))
            return lt;
        qsizetype next = -1;
        const bool script = startsWithName(rest.sliced(1), ScriptName);
        if (script || startsWithName(rest.sliced(1), StyleName)) {
            // Their content is no text: skip to the end tag, then past its '>'.
            next = after(page, lt, limit, script ? ScriptEnd : StyleEnd);
            if (next >= 0) {
                const Tag end = readTag(page, next, limit);
                next = end.closed ? end.end : -1;
            }
        } else if (holdsAt(rest, 0, CommentStart)) {
            next = after(page, lt + 4, limit, CommentEnd);
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
    unsigned steps = 0;
    while (carryOn(steps)) {
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

void LinkScanner::appendText(QString* text, QStringView piece)
{
    // Most pieces hold no reference and are appended without a decoded copy in between.
    if (piece.contains(u'&'))
        text->append(Tools::displayText(piece));
    else
        text->append(piece);
}

QString LinkScanner::visibleText(QString&& text)
{
    return std::move(text).simplified();
}

QList<LinkScanner::Match> LinkScanner::matches(QStringView page)
{
    QList<Match> found;
    scan(page, [&found](const Match& m) { found.append(m); });
    return found;
}

// One walk over the page's '<' finds the base element and the anchors. Each stretch of the page is looked
// at by one anchor only: the walk goes on where the previous anchor's tag or content ended.
LinkScanner::PageLinks::PageLinks(QStringView page) : m_page(page)
{
    const qsizetype size = page.size();
    qsizetype pos = 0;
    unsigned steps = 0;
    while ((pos = nextLt(page, pos, size)) < size && carryOn(steps)) {
        const QStringView rest = page.sliced(pos);
        const char16_t first = pos + 1 < size ? char16_t(rest[1].unicode() | 0x20) : u'\0';
        if (first == u'b' && !m_base && startsWithName(rest.sliced(1), BaseName)) {
            const Tag tag = readTag(page, pos + 5, std::min(size, pos + 5 + MaxTagLength));
            if (tag.hrefPos >= 0)
                m_base = tag.hrefValue;
            pos = tag.end;
            continue;
        }
        if (first != u'a' || !isAnchorStart(rest)) {
            ++pos;
            continue;
        }
        if (const qsizetype end = plainAnchorEnd(page, pos + 2); end >= 0) {
            pos = end + AnchorEnd.size();
            continue;
        }
        const Tag tag = readTag(page, pos + 2, std::min(size, pos + 2 + MaxTagLength));
        if (!tag.closed || tag.hrefPos < 0) {
            pos = tag.end;
            continue;
        }
        const qsizetype contentEnd = walkContent(page, tag.end, nullptr);
        m_anchors.append({pos, tag.hrefPos, tag.hrefValue, tag.end});
        pos = contentEnd;
    }
}

void LinkScanner::PageLinks::scan(const std::function<void(const Match&)>& onLink) const
{
    qsizetype next = 0;
    QString text;
    // Hands on the anchors whose start tag ends at or before position end.
    const auto anchorsBefore = [&](qsizetype end) {
        for (; next < m_anchors.size() && m_anchors[next].contentBegin <= end; ++next) {
            const Anchor& anchor = m_anchors[next];
            text.clear();
            walkContent(m_page, anchor.contentBegin, &text);
            text = visibleText(std::move(text));
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
    LinkScanner::scan(m_page, [&](const Match& m) {
        anchorsBefore(m.start);
        if (next < m_anchors.size() && m_anchors[next].tagStart <= m.start)
            ++next; // the pattern matched an "href=" of this anchor's start tag: it found the anchor
        onLink(m);
    });
    anchorsBefore(m_page.size());
}

void LinkScanner::scanLinks(QStringView page, const std::function<void(const Match&)>& onLink)
{
    PageLinks(page).scan(onLink);
}
