// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/keywordmatch.h"

#include "engine/fetching/fetchrequest.h"
#include "engine/matching/linkscanner.h"
#include "engine/matching/pageregion.h"
#include "engine/matching/readingbudget.h"
#include "engine/tools.h"

#include <algorithm>
#include <optional>

namespace {
// A word looked for in every link text of a page, ignoring case as QString::contains(word, Qt::CaseInsensitive)
// does: that folds each character by Unicode's case folding, a table look-up per character. When the word and
// the text are plain ASCII, folding is A-Z to a-z and is done here inline; any other text is left to Qt, since
// characters beyond ASCII may fold onto ASCII ones (the Kelvin sign onto "k").
class CaselessWord
{
public:
    explicit CaselessWord(const QString& word) : m_word(word)
    {
        m_ascii = !word.isEmpty() && isAscii(word);
        if (m_ascii) {
            for (QChar c : word)
                m_folded.append(char(fold(c.unicode())));
        }
    }

    bool in(QStringView text) const
    {
        if (!m_ascii || !isAscii(text))
            return text.contains(m_word, Qt::CaseInsensitive);
        const qsizetype length = m_folded.size();
        const char first = m_folded.front();
        for (qsizetype at = 0; at + length <= text.size(); ++at) {
            if (fold(text[at].unicode()) != first)
                continue;
            qsizetype i = 1;
            while (i < length && fold(text[at + i].unicode()) == m_folded[i])
                ++i;
            if (i == length)
                return true;
        }
        return false;
    }

private:
    static bool isAscii(QStringView text)
    {
        char16_t any = 0;
        for (QChar c : text)
            any |= c.unicode();
        return any < 0x80;
    }
    static char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c; }

    QString m_word;
    QByteArray m_folded;
    bool m_ascii = false;
};

// A link's text as captured or with its character references decoded, whichever holds the keyword.
bool textMatches(QStringView text, const CaselessWord& keyword)
{
    return keyword.in(text) || (text.contains(u'&') && keyword.in(Tools::displayText(text)));
}

// Every "href=" starts a match of its own, so a run like "href=href=...href=x>text</a>" yields one match per
// "href=", each with an address running to the end of the run: forming their links would cost time and memory
// growing with the square of the run. A real anchor holds one "href=", sometimes two ("data-href="), and no
// page address is anywhere near 64 Ki characters, so the matches beyond these bounds are skipped.
constexpr int MaxMatchesPerAnchor = 4;                         // matches ending at the same "</a>"
constexpr qsizetype MaxHrefLength = 64 * 1024;                 // characters of the address part
constexpr int MaxMatchingLinksPerPage = Task::MaxLinksPerPage; // against pages of millions of tiny anchors

// What a link must pass besides the bounds: its text holds the keyword and none of the excluded words, and
// it stands inside the region, when the task names one.
struct LinkFilter
{
    CaselessWord keyword;
    QList<CaselessWord> excluded;
    QString region;
    bool* regionMissed; // set when the region selected nothing on a page
};

LinkFilter filterOf(const LinkRule& rule, bool* regionMissed)
{
    QList<CaselessWord> excluded;
    for (const QString& word : rule.excluded)
        excluded.append(CaselessWord(word));
    return {CaselessWord(rule.keyword), excluded, rule.region, regionMissed};
}

bool kept(QStringView text, const LinkFilter& filter)
{
    return textMatches(text, filter.keyword) &&
           std::none_of(filter.excluded.cbegin(), filter.excluded.cend(),
                        [&](const CaselessWord& word) { return textMatches(text, word); });
}

// Calls fn(link, text) for the links (of a page or of a region) that pass the filter, within the bounds above,
// with the link formed against the page's own base element where it names one, else against base.
template <typename Links>
void forEachMatchingLinkOf(const Links& links, const QUrl& base, const LinkFilter& filter,
                           const KeywordMatch::OnLink& fn)
{
    const std::optional<QStringView> pageBase = links.baseHref();
    const Tools::LinkResolver resolve(pageBase ? base.resolved(QUrl(Tools::hrefValue(*pageBase))) : base);
    const QChar* anchorEnd = nullptr; // where the text of the previous match ends
    int inAnchor = 0;
    int matching = 0;
    links.scan([&](const LinkScanner::Match& match) {
        if (!match.markup && !match.alone) {
            // Matches ending at the same "</a>" come one after another, so the previous end tells them apart.
            const QChar* end = match.text.data() + match.text.size();
            inAnchor = end == anchorEnd ? inAnchor + 1 : 1;
            anchorEnd = end;
            if (inAnchor > MaxMatchesPerAnchor)
                return;
        }
        if (match.href.size() > MaxHrefLength || matching >= MaxMatchingLinksPerPage || !kept(match.text, filter))
            return;
        ++matching;
        fn(resolve(match.href), match.text);
    });
}

// The same over the whole page, or over the region when the task names one.
void forEachMatchingLink(QStringView page, const QUrl& base, const LinkFilter& filter, const KeywordMatch::OnLink& fn)
{
    if (filter.region.isEmpty()) {
        if (filter.regionMissed)
            *filter.regionMissed = false;
        forEachMatchingLinkOf(LinkScanner::PageLinks(page), base, filter, fn);
        return;
    }
    const PageRegion::Links region(page, filter.region);
    if (filter.regionMissed)
        *filter.regionMissed = !region.matched();
    forEachMatchingLinkOf(region, base, filter, fn);
}

// The same for a downloaded page: a feed's items (their titles through the same keyword and excluded words; a
// region names elements of a page, not of a feed), or the links of the page.
void forEachMatchingLink(const FetchedPage& page, const QString& address, const LinkFilter& filter,
                         const KeywordMatch::OnLink& fn)
{
    if (!page.feed) {
        forEachMatchingLink(PageFetch::decode(page.body, page.contentType), PageFetch::baseOf(page, address), filter,
                            fn);
        return;
    }
    if (filter.regionMissed)
        *filter.regionMissed = false;
    int matching = 0;
    for (const FeedItem& item : page.feedItems) {
        if (matching >= MaxMatchingLinksPerPage)
            return;
        if (item.link.size() > MaxHrefLength || !kept(item.title, filter))
            continue;
        ++matching;
        fn(item.link, QStringView(item.title));
    }
}
} // namespace

void KeywordMatch::forEachLink(QStringView page, const QUrl& base, const LinkRule& rule, bool* regionMissed,
                               const OnLink& onLink)
{
    forEachMatchingLink(page, base, filterOf(rule, regionMissed), onLink);
}

PageReading KeywordMatch::readPage(const FetchedPage& page, const LinkRule& rule)
{
    const ReadingBudget::Here budget;
    PageReading reading;
    reading.rule = rule;
    const FetchedPage* read = &page;
    FetchedPage feed;
    if (!page.feed && page.ok && !page.notModified && FeedReader::isFeed(page.contentType, page.body)) {
        feed = page;
        PageFetch::readFeed(feed, rule.address);
        if (!feed.ok) {
            reading.error = feed.error;
            return reading;
        }
        reading.feed = true;
        reading.feedItems = feed.feedItems;
        read = &feed;
    }
    forEachMatchingLink(*read, rule.address, filterOf(rule, &reading.regionMissed),
                        [&](const QString& link, QStringView text) {
                            reading.links.append({link, text.toString()});
                        });
    if (budget->spent() != ReadingBudget::Spent::No) {
        reading.error = rule.region.isEmpty() || reading.feed
                            ? budget->reason(QStringLiteral("page"), QStringLiteral("read"))
                            : budget->reason(QStringLiteral("region"), QStringLiteral("evaluate"));
        reading.links.clear();
        return reading;
    }
    // A later link with the same address replaces the earlier text in found, as the comparison keys by link. Filled
    // once the links are known, so it is sized once.
    reading.found.reserve(reading.links.size());
    for (const PageLink& link : std::as_const(reading.links))
        reading.found.insert(link.link, link.text);
    return reading;
}
