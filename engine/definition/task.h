// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/checkmemory.h"
#include "engine/definition/taskdefinition.h"
#include "engine/definition/taskresult.h"
#include "engine/fetching/fetchrequest.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <limits>
#include <optional>

struct FetchedPage;
struct LinkRule;
struct PageLink;
struct PageReading;

// One watched page: where it is, what a link's text must contain, how often it is checked, and the
// links found so far.
class Task : public QObject
{
    Q_OBJECT

public:
    using TaskResult = ::TaskResult;
    using ResultPtr = TaskResultPtr;
    using ResultList = TaskResultList;
    using LinkTexts = QHash<QString, QString>;

    // created: the moment the task is made, by the caller's clock; its date and last update start there
    // (in local time, as task.db holds them). Without one both stay empty until set (a task read from task.db).
    Task(int taskId, const TaskDefinition& definition, const QDateTime& created = {});
    ~Task() override;

    int taskId() const { return m_taskId; }
    void setTaskId(int id);
    // The task's own row in task.db (its `id`), 0 until it is stored.
    int rowId() const { return m_rowId; }
    void setRowId(int id) { m_rowId = id; }
    QString name() const { return m_name; }
    QString address() const { return m_address; }
    QString keyword() const { return m_keyword; }
    int frequency() const { return m_frequency; }
    // Changes what the task watches. Only the GUI thread reads these fields: checks get the address handed
    // over when their request is made.
    void setDefinition(const TaskDefinition& definition);

    QString taskDateText() const;
    void setTaskDate(const QString& text);
    QString lastUpdateText() const;
    void setLastUpdate(const QString& text);
    QDate taskDate() const { return m_taskDate; }
    QDateTime lastUpdate() const { return m_lastUpdate; }
    // The same moment in milliseconds since the epoch, kept beside it: comparing local times costs a look at the
    // time zone each time, and the due checks compare every task's every minute. NoTime when lastUpdate() is invalid.
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();
    qint64 lastUpdateMs() const { return m_lastUpdateMs; }

    // Settings of this task beyond the columns of the tasks table, by name, as task.db keeps them.
    QHash<QString, QString> options() const { return m_options; }
    void setOptions(const QHash<QString, QString>& options);
    // The option "scripts": the page is got through vantrel-render, which runs its scripts first.
    static QString scriptsOption() { return QStringLiteral("scripts"); }
    bool runsScripts() const { return m_options.value(scriptsOption()) == QLatin1String("1"); }
    void setRunsScripts(bool on);
    // Sets one option (an empty value removes it), as TaskDatabase::setTaskOption does in task.db.
    void setOption(const QString& name, const QString& value);

    // The options of the task's requests, by their names in task.db.
    static constexpr const char* UserAgentOption = "user_agent";           // empty: the program's own
    static constexpr const char* RequestHeadersOption = "request_headers"; // "Name: value", one a line
    static constexpr const char* EtagOption = "etag";                      // validators of the page last read
    static constexpr const char* LastModifiedOption = "last_modified";
    // What of a page is read: a CSS selector or XPath expression (empty: the whole page), and words or phrases,
    // separated by commas, that leave a link out when its text holds one (capitals ignored).
    static constexpr const char* RegionOption = "region";
    static constexpr const char* ExcludedWordsOption = "excluded_words";
    // Switches of the user: a paused task is never downloaded, a muted one is checked but not announced.
    static constexpr const char* PausedOption = "paused"; // "1" when on
    static constexpr const char* MutedOption = "muted";
    // Kept beside the options as they change: the due checks ask every task's every minute.
    bool isPaused() const { return m_paused; }
    bool isMuted() const { return m_muted; }
    // Whether the task's check times vary a little around its interval (CheckHours::VaryOption).
    bool variesCheckTimes() const { return m_varies; }
    // Whether links that newly appear on the page are reported: "1" or "0"; a task without it follows Options.
    static constexpr const char* ReportNewLinksOption = "report_new_links";
    std::optional<bool> reportsNewLinks() const
    {
        const QString value = m_options.value(QLatin1String(ReportNewLinksOption));
        return value.isEmpty() ? std::nullopt : std::optional<bool>(value == QLatin1String("1"));
    }
    QString region() const { return m_options.value(QLatin1String(RegionOption)); }
    QStringList excludedWords() const { return excludedWords(m_options.value(QLatin1String(ExcludedWordsOption))); }
    static QStringList excludedWords(const QString& text);
    // Whether the region selected nothing on the page last read (not a feed: a region does not apply to one).
    bool regionMatchedNothing() const { return m_regionMissed; }
    QString userAgent() const { return m_options.value(QLatin1String(UserAgentOption)); }
    QString requestHeadersText() const { return m_options.value(QLatin1String(RequestHeadersOption)); }
    // The headers the task's requests carry besides the program's: its User-Agent first, when set, then
    // its own headers. Stored text that no longer passes the checks is left out.
    RequestHeaders::List requestHeaders() const;
    // A download of the task's page with its headers; conditional: with the validators of the page as
    // last read, so an unchanged page answers 304.
    FetchRequest fetchRequest(bool conditional) const;

    // The task's results, newest first. Those of a task read from task.db without them are read from their source
    // when first needed.
    ResultList results() const;
    // Where the results of a task read without them come from, by task id, and its number of unread results until
    // they are read. The source gives nullopt when it cannot read them; they are asked for again the next time.
    using ResultSource = std::function<std::optional<ResultList>(int taskId)>;
    void setResultSource(ResultSource source, int unread);
    // The unread count of a task whose stored results are not counted yet.
    static constexpr int UncountedResults = -1;
    // Reads the results from their source unless they are held; false when the source could not give them.
    bool loadResults() const;
    bool resultsLoaded() const { return !m_source; }
    void setResults(const ResultList& list);
    void appendResults(const ResultList& list);
    void clearResults();
    void setResultState(int index, int state);
    void removeResult(int index);
    ResultList updateResults() const { return m_updateResults; }
    LinkTexts knownLinks() const { return m_knownLinks; }
    // Forgets the links seen by update checks and the findings waiting to be taken, so the page is judged
    // afresh (its address or keyword changed).
    void forgetKnownLinks();
    // Results in state New; UncountedResults while they are being counted.
    int unreadCount() const;

    // The most keyword links read of one page or feed; those beyond are left out.
    static constexpr int MaxLinksPerPage = 100000;
    // The scan and the comparison of a page. Both look at most at 4 links ending at the same "</a>", none
    // whose address is longer than 64 Ki characters, and at most 100,000 matching links of a page, so a
    // hostile page cannot make their work grow beyond its size. New records carry the date `today`, which the
    // caller reads from its own clock.
    // Every link of the page whose text contains the keyword, as new records.
    ResultList scanResults(const QString& page, const QUrl& base, const QDate& today) const;
    // Compares the page's matching links with results: a text found for a stored link is reported when
    // no stored result with that link holds it and knownLinks does not hold it for the link. knownLinks
    // keeps, for every such link, the text last seen or reported.
    ResultList compareWithResults(const QString& page, const QUrl& base, LinkTexts& knownLinks,
                                  const QDate& today) const;
    // The same against the task's own knownLinks, as they are when the page has arrived.
    ResultList compareWithKnownLinks(const QString& page, const QUrl& base, const QDate& today);

    // The same work on a downloaded page; the links of a feed are its items (see PageFetch::readFeed).
    // Every link of the page whose text contains the keyword; the task is not changed.
    ResultList resultsOfPage(const FetchedPage& page, const QDate& today) const;
    // The same links as formed link and text only, no record built, for comparing a page with the links seen
    // before.
    QList<PageLink> linksOfPage(const FetchedPage& page) const;
    // An update check of a downloaded page: updateResults holds what it reports (see compareWithKnownLinks),
    // knownLinks what it saw. True when it reports anything.
    bool takeUpdatePage(const FetchedPage& page, const QDate& today);
    // The three above use the page's reading when it was made by the task's rule as it is now, and read the
    // page themselves otherwise.

    // What decides the links the task keeps, as values to read a page with on another thread.
    LinkRule linkRule() const;
    // Reads a downloaded page by the rule, a feed not read yet included, within the thread's reading budget (else
    // one of the default limits); a feed that cannot be read, or a budget spent, gives no links and the reason in
    // the reading's error. Touches no task, so any thread may call it.
    static PageReading readPage(const FetchedPage& page, const LinkRule& rule);

    // What the checks know of the task (its failure and back-off, findings not yet stored, links seen by checks
    // not yet taken over); the checking core keeps it here.
    CheckMemory& checkMemory() { return m_checkMemory; }
    const CheckMemory& checkMemory() const { return m_checkMemory; }

private:
    // The page's reading by the task's rule: the one it carries when that rule is the task's, else a new one.
    std::shared_ptr<const PageReading> readingOf(const FetchedPage& page) const;
    // The comparison of compareWithResults, on the page's matching links (link to text).
    ResultList compareFound(const LinkTexts& found, LinkTexts& knownLinks, const QDate& today) const;

    int m_taskId;
    int m_rowId = 0;
    QDateTime m_lastUpdate;
    qint64 m_lastUpdateMs = NoTime;
    QDate m_taskDate;
    QString m_name;
    QString m_address;
    QString m_keyword;
    int m_frequency;
    LinkTexts m_knownLinks;
    QHash<QString, QString> m_options;
    bool m_paused = false;
    bool m_muted = false;
    bool m_varies = false;
    void optionsChanged();
    mutable ResultList m_results;
    mutable ResultSource m_source; // set until the results are read
    int m_sourceUnread = 0;        // the unread results of the source's rows, and of those appended meanwhile
    // The unread results of m_results, counted when first asked after a change (below 0: not counted): the task list
    // asks it of every task at every repaint. Every change of m_results or of a result's state goes through Task.
    mutable int m_unread = -1;
    ResultList m_updateResults;
    // Noted by every reading of a page, which is otherwise const.
    mutable bool m_regionMissed = false;
    CheckMemory m_checkMemory;
};
