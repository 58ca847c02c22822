// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// Finds the links of a page. scan() yields, for every occurrence of "href=", in page order, the address
// part (capture 1) and the text (capture 2) exactly as a minimal-matching QRegExp of
//     href=\s*([^<]* ?) *\s*>([^<]* ?)</a>
// divides them. scanLinks() adds the anchors that pattern misses (those whose text holds markup) with
// their visible text. Both take time linear in the page size.
namespace LinkScanner {
struct Match
{
    qsizetype start = 0; // position of "href=" (of a markup anchor: of its href attribute)
    QStringView href;    // capture 1 (of a markup anchor: its href value as written, quotes included)
    QStringView text;    // capture 2 (of a markup anchor: its visible text)
    bool markup = false; // a markup anchor, missed by the pattern
    bool alone = false;  // the only link of its anchor (one read from a parsed tree), so never one of a run
};

// Bounds of the markup anchors: a longer start tag is passed over, and no more content than this is
// looked at for one anchor's text.
constexpr qsizetype MaxTagLength = 80 * 1024;
constexpr qsizetype MaxAnchorContent = 32 * 1024;

void scan(QStringView page, const std::function<void(const Match&)>& onMatch);

// A markup anchor's text, built from the pieces of text between its tags in page order: appendText() adds one
// piece as written (character references decoded), visibleText() gives the text with white space collapsed
// and trimmed (empty: the anchor is left out).
void appendText(QString* text, QStringView piece);
QString visibleText(QString&& text);
QList<Match> matches(QStringView page);

// Every match of scan(), and in page order between them every "<a" start tag with an href attribute
// in which no "href=" gave a match: its text is its content up to "</a>" or the next "<a" start tag, tags
// and the content of script and style elements removed, character references decoded, white space
// collapsed and trimmed. Anchors whose text is empty are left out. A markup anchor's text lives only
// during the call.
void scanLinks(QStringView page, const std::function<void(const Match&)>& onLink);

// The same in two steps, for a caller that needs the page's base element before the links: the
// constructor finds the base and the anchors, scan() merges them with the matches of the pattern.
class PageLinks
{
public:
    explicit PageLinks(QStringView page);
    // The href value, as written, of the first "base" element that has one.
    std::optional<QStringView> baseHref() const { return m_base; }
    void scan(const std::function<void(const Match&)>& onLink) const;

private:
    struct Anchor
    {
        qsizetype tagStart;
        qsizetype hrefPos;
        QStringView hrefValue;
        qsizetype contentBegin; // where the start tag ends
    };
    QStringView m_page;
    std::optional<QStringView> m_base;
    QList<Anchor> m_anchors;
};
} // namespace LinkScanner
