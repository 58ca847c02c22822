// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/definition/task.h"

#include "engine/definition/checkhours.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/logging.h"
#include "engine/matching/keywordmatch.h"
#include "engine/matching/readingresult.h"

#include <algorithm>
#include <optional>
#include <vector>

Task::Task(int taskId, const TaskDefinition& definition, const QDateTime& created)
    : m_taskId(taskId), m_lastUpdate(created.toLocalTime()), m_taskDate(m_lastUpdate.date()), m_name(definition.name),
      m_address(definition.address), m_keyword(definition.keyword), m_frequency(definition.frequency)
{
    m_lastUpdateMs = m_lastUpdate.isValid() ? m_lastUpdate.toMSecsSinceEpoch() : NoTime;
    if (!definition.options.isEmpty())
        setOptions(definition.options);
}

// The id is chosen when the task is stored, from what the file holds at that moment.
void Task::setTaskId(int id)
{
    m_taskId = id;
}

void Task::setDefinition(const TaskDefinition& definition)
{
    m_name = definition.name;
    m_address = definition.address;
    m_keyword = definition.keyword;
    m_frequency = definition.frequency;
    setOptions(definition.options);
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
    if (m_unread < 0) {
        m_unread = 0;
        for (const ResultPtr& result : m_results)
            m_unread += result->state == StateNew ? 1 : 0;
    }
    return m_unread;
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
    m_unread = -1;
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
    m_unread = -1;
    m_source = nullptr;
    return true;
}

void Task::setResults(const ResultList& list)
{
    m_source = nullptr;
    m_results = list;
    m_unread = -1;
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
    m_unread = -1;
}

void Task::clearResults()
{
    m_source = nullptr;
    m_results.clear();
    m_unread = -1;
}

void Task::setResultState(int index, int state)
{
    loadResults();
    if (index < 0 || index >= m_results.size())
        return;
    m_results.at(index)->state = state;
    m_unread = -1;
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
    m_unread = -1;
    qCDebug(lcEngine).nospace().noquote() << "remove " << index;
    // A removed result may be found again by a later check; forget what was seen so it is judged afresh.
    m_knownLinks.clear();
}

Task::ResultList Task::scanResults(const QString& page, const QUrl& base, const QDate& today) const
{
    ResultList found;
    KeywordMatch::forEachLink(page, base, linkRule(), &m_regionMissed, [&](const QString& link, QStringView text) {
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
    KeywordMatch::forEachLink(page, base, linkRule(), &m_regionMissed,
                              [&](const QString& link, QStringView text) { found.insert(link, text.toString()); });
    return compareFound(found, knownLinks, today);
}

Task::ResultList Task::compareFound(const LinkTexts& found, LinkTexts& knownLinks, const QDate& today) const
{
    // For each link both the page and the results have, in the order of the results: the page's entry and whether a
    // stored result already holds its text. A link met again is known by the address of the page's own copy of it,
    // so each stored result costs one look-up of its link.
    struct Met
    {
        LinkTexts::const_iterator found;
        bool held;
    };
    std::vector<Met> order;
    QHash<const QString*, qsizetype> metAt;
    const ResultList results = this->results();
    for (const ResultPtr& stored : results) {
        const auto it = found.constFind(stored->link);
        if (it == found.constEnd())
            continue;
        auto at = metAt.constFind(&it.key());
        if (at == metAt.constEnd()) {
            at = metAt.insert(&it.key(), qsizetype(order.size()));
            order.push_back({it, false});
        }
        Met& met = order[size_t(*at)];
        met.held = met.held || it.value() == stored->text;
    }

    // A text is new unless a stored result holds it or it is the one last seen or reported for the link.
    ResultList fresh;
    for (const Met& met : order) {
        const QString& link = met.found.key();
        const QString& text = met.found.value();
        // A text a stored result holds is never reported, so only other texts need remembering: 200 tasks of
        // a thousand unchanged links would otherwise keep every link and text of every page in memory.
        if (met.held) {
            knownLinks.remove(link);
            continue;
        }
        const auto known = knownLinks.find(link);
        if (known == knownLinks.end()) {
            fresh.append(ResultPtr::create(TaskResult{m_taskId, today, text, link, StateNew}));
            knownLinks.insert(link, text);
        } else if (*known != text) {
            fresh.append(ResultPtr::create(TaskResult{m_taskId, today, text, link, StateNew}));
            *known = text;
        }
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
    return {m_address, m_keyword, excludedWords(), region().trimmed()};
}

PageReading Task::readPage(const FetchedPage& page, const LinkRule& rule)
{
    return KeywordMatch::readPage(page, rule);
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
