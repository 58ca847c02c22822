// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/definition/task.h"

#include "engine/definition/checkhours.h"
#include "engine/matching/linkscanner.h"
#include "engine/logging.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/matching/readingresult.h"
#include "engine/matching/pageregion.h"
#include "engine/matching/readingbudget.h"
#include "engine/matching/seenlinks.h"
#include "engine/tools.h"

#include <algorithm>
#include <atomic>
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
constexpr int MaxMatchesPerAnchor = 4;          // matches ending at the same "</a>"
constexpr qsizetype MaxHrefLength = 64 * 1024;  // characters of the address part
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
template <typename Links, typename Fn>
void forEachMatchingLinkOf(const Links& links, const QUrl& base, const LinkFilter& filter, Fn fn)
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
template <typename Fn> void forEachMatchingLink(QStringView page, const QUrl& base, const LinkFilter& filter, Fn fn)
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
template <typename Fn>
void forEachMatchingLink(const FetchedPage& page, const QString& address, const LinkFilter& filter, Fn fn)
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

Task::Task(int taskId, const QString& name, const QString& address, const QString& grabText, int frequency,
           const QDateTime& created)
    : m_taskId(taskId), m_lastUpdate(created.toLocalTime()), m_taskDate(m_lastUpdate.date()), m_name(name),
      m_address(address), m_grabText(grabText), m_frequency(frequency)
{
    m_lastUpdateMs = m_lastUpdate.isValid() ? m_lastUpdate.toMSecsSinceEpoch() : NoTime;
}

// The id is chosen when the task is stored, from what the file holds at that moment.
void Task::setTaskId(int id)
{
    m_taskId = id;
}

void Task::setDefinition(const QString& name, const QString& address, const QString& grabText, int frequency)
{
    m_name = name;
    m_address = address;
    m_grabText = grabText;
    m_frequency = frequency;
}

void Task::forgetKnownLinks()
{
    m_knownLinks.clear();
    m_updateResults.clear();
}

int Task::unreadCount() const
{
    if (m_source)
        return m_sourceUnread;
    int count = 0;
    for (const ResultPtr& result : m_results)
        count += result->state == StateNew ? 1 : 0;
    return count;
}

void Task::setRunsScripts(bool on)
{
    if (on)
        m_options.insert(scriptsOption(), QStringLiteral("1"));
    else
        m_options.remove(scriptsOption());
}

Task::~Task() = default;

QString Task::taskDateText() const
{
    return m_taskDate.toString(TaskDateFormat);
}

namespace {
// The number of count digits at text[from], or -1 when one of them is no digit.
int digits(QStringView text, qsizetype from, int count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

// The forms every copy of the program writes, read without Qt's general parser (a file of 100,000 tasks is
// read at every start); another text is left to it.
std::optional<QDate> quickDate(QStringView text)
{
    if (text.size() != 10 || text[2] != u'/' || text[5] != u'/')
        return std::nullopt;
    const int month = digits(text, 0, 2);
    const int day = digits(text, 3, 2);
    const int year = digits(text, 6, 4);
    if (month < 0 || day < 0 || year < 0)
        return std::nullopt;
    return QDate(year, month, day); // invalid when the numbers name no day, as the parser gives
}

std::optional<QDateTime> quickLocalTime(QStringView text)
{
    if (text.size() != 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':' ||
        text[16] != u':')
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}
} // namespace

void Task::setTaskDate(const QString& text)
{
    const std::optional<QDate> quick = quickDate(text);
    m_taskDate = quick ? *quick : QDate::fromString(text, TaskDateFormat);
}

QString Task::lastUpdateText() const
{
    return m_lastUpdate.toString(Qt::ISODate);
}

void Task::setLastUpdate(const QString& text)
{
    const std::optional<QDateTime> quick = quickLocalTime(text);
    m_lastUpdate = quick ? *quick : QDateTime::fromString(text, Qt::ISODate);
    m_lastUpdateMs = m_lastUpdate.isValid() ? m_lastUpdate.toMSecsSinceEpoch() : NoTime;
}

Task::ResultList Task::results() const
{
    loadResults();
    return m_results;
}

void Task::setResultSource(ResultSource source, int unread)
{
    m_results.clear();
    m_source = std::move(source);
    m_sourceUnread = unread;
}

bool Task::loadResults() const
{
    if (!m_source)
        return true;
    std::optional<ResultList> read = m_source(m_taskId);
    if (!read)
        return false;
    m_results = std::move(*read);
    m_source = nullptr;
    return true;
}

void Task::setResults(const ResultList& list)
{
    m_source = nullptr;
    m_results = list;
}

void Task::appendResults(const ResultList& list)
{
    // Results are stored before they are appended, so a source that could not be read now gives them later.
    if (!loadResults()) {
        for (const ResultPtr& result : list)
            m_sourceUnread += result->state == StateNew && m_sourceUnread != UncountedResults ? 1 : 0;
        return;
    }
    m_results += list;
}

void Task::clearResults()
{
    m_source = nullptr;
    m_results.clear();
}

void Task::setResultState(int index, int state)
{
    loadResults();
    if (index < 0 || index >= m_results.size())
        return;
    m_results.at(index)->state = state;
}

QStringList Task::excludedWords(const QString& text)
{
    QStringList words;
    const QStringList pieces = text.split(u',');
    for (const QString& piece : pieces) {
        const QString word = piece.simplified();
        if (!word.isEmpty())
            words.append(word);
    }
    return words;
}

void Task::setOption(const QString& name, const QString& value)
{
    if (value.isEmpty())
        m_options.remove(name);
    else
        m_options.insert(name, value);
    // The marks of the checks are options too, set by the thousand: only the kept flags' own names look again.
    if (name == QLatin1String(PausedOption) || name == QLatin1String(MutedOption) ||
        name == QLatin1String(CheckHours::VaryOption))
        optionsChanged();
}

void Task::setOptions(const QHash<QString, QString>& options)
{
    m_options = options;
    optionsChanged();
}

void Task::optionsChanged()
{
    const auto on = [this](const char* name) { return m_options.value(QLatin1String(name)) == QLatin1String("1"); };
    m_paused = on(PausedOption);
    m_muted = on(MutedOption);
    m_varies = on(CheckHours::VaryOption);
}

RequestHeaders::List Task::requestHeaders() const
{
    RequestHeaders::List headers;
    const QString agent = userAgent().trimmed();
    if (!agent.isEmpty() && RequestHeaders::problem(QStringLiteral("User-Agent"), agent).isEmpty())
        headers.append({"User-Agent", agent.toLatin1()});
    // A line that does not pass is left out alone: the others (a session cookie) still go.
    headers += RequestHeaders::parseEach(requestHeadersText());
    return headers;
}

FetchRequest Task::fetchRequest(bool conditional) const
{
    FetchRequest request;
    request.address = m_address;
    request.headers = requestHeaders();
    if (conditional) {
        // task.db may hold anything: a validator that could not be sent back as it is is not sent.
        const auto validator = [this](const char* option) {
            const QString text = m_options.value(QLatin1String(option));
            const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 256; });
            const QByteArray bytes = text.toLatin1();
            return latin1 && RequestHeaders::isValidator(bytes) ? bytes : QByteArray();
        };
        request.etag = validator(EtagOption);
        request.lastModified = validator(LastModifiedOption);
    }
    return request;
}

void Task::removeResult(int index)
{
    loadResults();
    if (index < 0 || index >= m_results.size())
        return;
    m_results.removeAt(index);
    qCDebug(lcEngine).nospace().noquote() << "remove " << index;
    // A removed result may be found again by a later check; forget what was seen so it is judged afresh.
    m_knownLinks.clear();
}

Task::ResultList Task::scanResults(const QString& page, const QUrl& base, const QDate& today) const
{
    ResultList found;
    forEachMatchingLink(page, base, filterOf(linkRule(), &m_regionMissed), [&](const QString& link, QStringView text) {
        found.append(ResultPtr::create(TaskResult{m_taskId, today, text.toString(), link, StateNew}));
    });
    return found;
}

QList<PageLink> Task::linksOfPage(const FetchedPage& fetched) const
{
    return readingOf(fetched)->links;
}

Task::ResultList Task::compareWithResults(const QString& page, const QUrl& base, LinkTexts& knownLinks,
                                          const QDate& today) const
{
    // Keyed by the link as a browser would follow it, so a stored result meets its link on the page
    // however the page writes it. A later link with the same address replaces the earlier text.
    LinkTexts found;
    forEachMatchingLink(page, base, filterOf(linkRule(), &m_regionMissed),
                        [&](const QString& link, QStringView text) { found.insert(link, text.toString()); });
    return compareFound(found, knownLinks, today);
}

Task::ResultList Task::compareFound(const LinkTexts& found, LinkTexts& knownLinks, const QDate& today) const
{
    // For each link both the page and the results have, in the order of the results: whether a stored
    // result already holds the text found.
    QHash<QString, bool> held;
    held.reserve(found.size()); // no more links than the page's, and no rehashing on the way
    QStringList order;
    const ResultList results = this->results();
    for (const ResultPtr& stored : results) {
        const auto it = found.constFind(stored->link);
        if (it == found.constEnd())
            continue;
        auto heldIt = held.find(stored->link);
        if (heldIt == held.end()) {
            order.append(stored->link);
            heldIt = held.insert(stored->link, false);
        }
        *heldIt = *heldIt || *it == stored->text;
    }

    // A text is new unless a stored result holds it or it is the one last seen or reported for the link.
    ResultList fresh;
    for (const QString& link : std::as_const(order)) {
        const QString text = found.value(link);
        const auto known = knownLinks.constFind(link);
        if (!held.value(link) && (known == knownLinks.constEnd() || *known != text)) {
            fresh.append(ResultPtr::create(TaskResult{m_taskId, today, text, link, StateNew}));
        }
        // A text a stored result holds is never reported, so only other texts need remembering: 200 tasks of
        // a thousand unchanged links would otherwise keep every link and text of every page in memory.
        if (held.value(link))
            knownLinks.remove(link);
        else
            knownLinks.insert(link, text);
    }
    return fresh;
}

Task::ResultList Task::compareWithKnownLinks(const QString& page, const QUrl& base, const QDate& today)
{
    return compareWithResults(page, base, m_knownLinks, today);
}

Task::ResultList Task::resultsOfPage(const FetchedPage& page, const QDate& today) const
{
    const std::shared_ptr<const PageReading> reading = readingOf(page);
    ResultList found;
    found.reserve(reading->links.size());
    for (const PageLink& link : reading->links)
        found.append(ResultPtr::create(TaskResult{m_taskId, today, link.text, link.link, StateNew}));
    return found;
}

bool Task::takeUpdatePage(const FetchedPage& page, const QDate& today)
{
    m_updateResults = compareFound(readingOf(page)->found, m_knownLinks, today);
    return !m_updateResults.isEmpty();
}

LinkRule Task::linkRule() const
{
    return {m_address, m_grabText, excludedWords(), region().trimmed()};
}

PageReading Task::readPage(const FetchedPage& page, const LinkRule& rule)
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

std::shared_ptr<const PageReading> Task::readingOf(const FetchedPage& page) const
{
    const LinkRule rule = linkRule();
    std::shared_ptr<const PageReading> reading = page.reading;
    if (!reading || reading->rule != rule)
        reading = std::make_shared<const PageReading>(readPage(page, rule));
    m_regionMissed = reading->regionMissed;
    return reading;
}

namespace {
std::atomic<qint64> g_nextFound{1};
} // namespace

qint64 nextFoundOrder()
{
    return g_nextFound.fetch_add(1, std::memory_order_relaxed);
}

void noteFoundOrder(qint64 order)
{
    qint64 next = g_nextFound.load(std::memory_order_relaxed);
    while (next <= order && !g_nextFound.compare_exchange_weak(next, order + 1, std::memory_order_relaxed)) {
    }
}
