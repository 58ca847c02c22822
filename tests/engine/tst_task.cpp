// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/fetchrequest.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/matching/seenlinks.h"
#include "engine/definition/task.h"
#include "tests/engine/resultlinks.h"
#include "tests/support/testserver.h"

#include <QTest>
#include <QTextCodec>

#include <memory>
#include <optional>

using namespace ResultLinks;

class TestTask : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void dates_data();
    void dates();
    void resultIndexes_data();
    void resultIndexes();
    void listsShareRecords();

    void linkForms_data();
    void linkForms();
    void baseElement_data();
    void baseElement();
    void keywordFilter_data();
    void keywordCase_data();
    void keywordCase();
    void keywordFilter();
    void regionAndLeftOutWords_data();
    void regionAndLeftOutWords();
    void encodings_data();
    void encodings();
    void fetchOutcomes_data();
    void fetchOutcomes();
    void boundedMatches_data();
    void boundedMatches();

    void compare_data();
    void compare();
    void compareBounded();
    void updateReportsOnce();
    void textHistory_data();
    void textHistory();

private:
    static QString tinyAnchors(int count, const QString& text);
    // Downloads the address as the checks do, through a PageFetcher.
    static FetchedPage fetch(const QString& address);
    // A page as a download of `address` would give it.
    static FetchedPage pageAt(const QString& address, const QByteArray& body);

    const QDate today{2031, 2, 3}; // the date the checker's clock gives; records carry it, not the system's

    QString origin() const { return server.url(QString()).toString(); }

    TestServer server;
};

FetchedPage TestTask::fetch(const QString& address)
{
    PageFetcher fetcher;
    std::optional<FetchedPage> fetched;
    fetcher.fetch(address, &fetcher, [&fetched](const FetchedPage& page) { fetched = page; });
    if (!QTest::qWaitFor([&fetched] { return fetched.has_value(); }, 10000))
        return {};
    return *fetched;
}

FetchedPage TestTask::pageAt(const QString& address, const QByteArray& body)
{
    FetchedPage page;
    page.ok = true;
    page.body = body;
    page.url = QUrl(address);
    page.status = 200;
    return page;
}

void TestTask::initTestCase()
{
    QVERIFY(server.listen());
}

void TestTask::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
    PageFetch::setMaxBodyBytes(PageFetch::MaxBodyBytes);
}

void TestTask::dates_data()
{
    QTest::addColumn<QDateTime>("created"); // the moment the maker's clock gave
    QTest::addColumn<QString>("taskDate");
    QTest::addColumn<QDate>("expectedDate");
    QTest::addColumn<QString>("lastUpdate");
    QTest::addColumn<QDateTime>("expectedUpdate");

    const QDateTime lastSecondOfYear(QDate(2031, 12, 31), QTime(23, 59, 59));
    QTest::addRow("stored forms") << lastSecondOfYear << "07/01/2009" << QDate(2009, 7, 1) << "2009-07-01T13:45:10"
                                  << QDateTime(QDate(2009, 7, 1), QTime(13, 45, 10));
    QTest::addRow("other forms are invalid")
        << QDateTime(QDate(2032, 2, 29), QTime(0, 0)) << "2009-07-01" << QDate() << "07/01/2009 13:45" << QDateTime();
    QTest::addRow("read from a file: no moment") << QDateTime() << "" << QDate() << "" << QDateTime();
    // The stored forms are read digit by digit; what names no day or moment reads as Qt's parser reads it.
    const QDateTime any(QDate(2030, 1, 1), QTime(0, 0));
    QTest::addRow("no such day") << any << "02/30/2026" << QDate() << "2026-02-30T10:00:00" << QDateTime();
    QTest::addRow("no such month or hour") << any << "13/01/2026" << QDate() << "2026-01-01T25:00:00" << QDateTime();
    QTest::addRow("letters in the digits") << any << "0a/01/2026" << QDate() << "2026-01-0xT10:00:00" << QDateTime();
    QTest::addRow("a moment with an offset") << any << "12/31/1999" << QDate(1999, 12, 31) << "2026-01-01T10:00:00Z"
                                             << QDateTime(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC);
    QTest::addRow("midnight at the end of a day") << any << "01/01/2026" << QDate(2026, 1, 1) << "2026-01-01T24:00:00"
                                                  << QDateTime::fromString("2026-01-01T24:00:00", Qt::ISODate);
}

void TestTask::dates()
{
    QFETCH(QDateTime, created);
    QFETCH(QString, taskDate);
    QFETCH(QDate, expectedDate);
    QFETCH(QString, lastUpdate);
    QFETCH(QDateTime, expectedUpdate);

    // The task is dated by the moment given, never by the system's.
    Task task(1, "n", "http://127.0.0.1/", "k", 60, created);
    QCOMPARE(task.taskDate(), created.date());
    QCOMPARE(task.lastUpdate(), created);
    task.setTaskDate(taskDate);
    task.setLastUpdate(lastUpdate);
    QCOMPARE(task.taskDate(), expectedDate);
    QCOMPARE(task.lastUpdate(), expectedUpdate);
    // Written back as stored, where Qt writes the moment in the stored form.
    if (expectedDate.isValid() && expectedUpdate.toString(Qt::ISODate) == lastUpdate) {
        QCOMPARE(task.taskDateText(), taskDate);
        QCOMPARE(task.lastUpdateText(), lastUpdate);
    }
}

void TestTask::resultIndexes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("valid");

    QTest::addRow("-1") << -1 << false;
    QTest::addRow("first") << 0 << true;
    QTest::addRow("last") << 2 << true;
    QTest::addRow("count") << 3 << false;
    QTest::addRow("far out") << 1000 << false;
}

void TestTask::resultIndexes()
{
    QFETCH(int, index);
    QFETCH(bool, valid);

    Task task(1, "n", "http://127.0.0.1/", "k", 60);
    const Task::ResultList stored = records({{"http://h/a", "A"}, {"http://h/b", "B"}, {"http://h/c", "C"}});
    task.setResults(stored);
    // A changed text puts the link into knownLinks.
    task.takeUpdatePage(pageAt("http://h/", anchors({{"\"http://h/b\"", "B2 k"}})), today);
    QCOMPARE(task.knownLinks().size(), 1);

    task.setResultState(index, StateRead);
    for (int i = 0; i < stored.size(); ++i)
        QCOMPARE(stored.at(i)->state, i == index && valid ? int(StateRead) : int(StateNew));

    task.removeResult(index);
    Task::ResultList expected = stored;
    if (valid)
        expected.removeAt(index);
    QCOMPARE(task.results(), expected);
    // A removed result empties knownLinks, so changes are judged afresh; an ignored index does not.
    QCOMPARE(task.knownLinks().isEmpty(), valid);
}

void TestTask::listsShareRecords()
{
    Task task(1, "n", "http://127.0.0.1/", "k", 60);
    const Task::ResultList first = records({{"http://h/a", "A"}});
    const Task::ResultList more = records({{"http://h/b", "B"}, {"http://h/a", "A"}});
    task.setResults(first);
    task.appendResults({});
    QCOMPARE(task.results(), first);
    task.appendResults(more);
    QCOMPARE(task.results(), first + more);

    // The record outlives every list that let go of it as long as one holder remains.
    QWeakPointer<Task::TaskResult> weak = first.first();
    task.clearResults();
    QVERIFY(task.results().isEmpty());
    QVERIFY(!weak.isNull()); // still held by `first`
}

void TestTask::linkForms_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("link"); // %1 stands for http://127.0.0.1:PORT

    // Every form of an address is read by Tools::absoluteLink; these show the downloaded page is the base.
    QTest::addRow("relative") << "news/1.html"
                              << "%1/news/news/1.html";
    QTest::addRow("further attributes, quoted") << " \"/b\" class=\"c\" "
                                                << "%1/b";
    QTest::addRow("parent folder") << "../up.html"
                                   << "%1/up.html";
}

void TestTask::linkForms()
{
    QFETCH(QString, href);
    QFETCH(QString, link);

    server.setPage("/news/index.html", anchors({{href, "Item"}}));
    Task task(3, "n", server.url("/news/index.html").toString(), "item", 60);
    const FetchedPage page = fetch(task.address());
    QVERIFY(page.ok);
    const Task::ResultList results = task.resultsOfPage(page, today);
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first()->link, link.replace("%1", origin()));
    QCOMPARE(results.first()->text, QStringLiteral("Item"));
    QCOMPARE(results.first()->taskId, 3);
    QCOMPARE(results.first()->state, int(StateNew));
    QCOMPARE(results.first()->date, today);
}

void TestTask::baseElement_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("link"); // of the anchor "item.html" on http://h/news/index.html

    QTest::addRow("none") << "<title>t</title>"
                          << "http://h/news/item.html";
    QTest::addRow("relative base") << R"(<base href="../archive/2024/">)"
                                   << "http://h/archive/2024/item.html";
    QTest::addRow("absolute base, other host") << "<BASE target=_top HREF='https://cdn.example/s/'>"
                                               << "https://cdn.example/s/item.html";
    QTest::addRow("several: the first with an href counts")
        << R"(<base target="_blank"><base href="/first/"><base href="/second/">)"
        << "http://h/first/item.html";
    QTest::addRow("empty href is the page") << R"(<base href="">)"
                                            << "http://h/news/item.html";
    QTest::addRow("no element, only the word") << "<p>base href=/x/</p><baseline href=/y/>"
                                               << "http://h/news/item.html";
}

void TestTask::baseElement()
{
    QFETCH(QString, head);
    QFETCH(QString, link);

    const QString page = "<html><head>" + head + "</head><body><a href=\"item.html\">Item</a>" +
                         "<a href=\"/x\"><b>Item</b></a><a href=\"https://o.example/\">Item</a></body></html>";
    Task task(1, "n", "http://h/news/index.html", "item", 60);
    QStringList found;
    for (const Task::ResultPtr& record : task.scanResults(page, QUrl("http://h/news/index.html"), today))
        found << record->link;
    const QUrl base(link);
    QCOMPARE(found, QStringList({link, base.resolved(QUrl("/x")).toString(), "https://o.example/"}));
}

void TestTask::keywordFilter_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QStringList>("texts");

    QTest::addRow("case-insensitive") << "news"
                                      << QStringList{"Latest News", "Item news", "news",
                                                     "news digest", "NEWS",      "Sport news: l&rsquo;&eacute;quipe"};
    QTest::addRow("empty keyword matches all")
        << "" << QStringList{"Latest News", "Weather", "Item news",      "news",
                             "news digest", "NEWS",    " padded  text ", "Sport news: l&rsquo;&eacute;quipe"};
    QTest::addRow("decoded text matches, captured one is kept")
        << QString::fromUtf8("l’équipe") << QStringList{"Sport news: l&rsquo;&eacute;quipe"};
    QTest::addRow("captured text matches") << "&rsquo;" << QStringList{"Sport news: l&rsquo;&eacute;quipe"};
    QTest::addRow("text kept exactly") << "padded" << QStringList{" padded  text "};
    QTest::addRow("nothing") << "sports" << QStringList{};
}

void TestTask::keywordFilter()
{
    QFETCH(QString, keyword);
    QFETCH(QStringList, texts);

    const QByteArray page = "<a href=/1>Latest News</a> <a href=/2>Weather</a>\n"
                            "<a href=/3>Item <b>news</b></a> <A HREF=/4>news</A> <a href=/5>news digest</a>"
                            "<a href='/6'>NEWS</a><a href=/7> padded  text </a>"
                            "<a href=/8>Sport news: l&rsquo;&eacute;quipe</a>";
    Task task(1, "n", "http://127.0.0.1/", keyword, 60);
    QStringList found;
    for (const Task::ResultPtr& record : task.scanResults(QString::fromUtf8(page), QUrl("http://127.0.0.1/"), today))
        found << record->text;
    QCOMPARE(found, texts);
}

// Case is ignored as Qt's case-insensitive search ignores it, by Unicode's case folding, which the scan does
// itself for ASCII texts and keywords.
void TestTask::keywordCase_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("kept");
    QTest::addRow("mixed case") << "NeWs"
                                << "latest nEWS" << true;
    QTest::addRow("kelvin sign folds to k") << "kilo" << QString::fromUtf8("\u212Ailo") << true;
    QTest::addRow("long s folds to s") << "SUN" << QString::fromUtf8("\u017Fun") << true;
    QTest::addRow("keyword beyond ASCII") << QString::fromUtf8("ÉTÉ") << QString::fromUtf8("un été") << true;
    QTest::addRow("match after a false start") << "aab"
                                               << "aaab" << true;
    QTest::addRow("at the end") << "xyz"
                                << "abcXYZ" << true;
    QTest::addRow("longer than the text") << "abcdef"
                                          << "abc" << false;
    QTest::addRow("symbols") << "c++"
                             << "C++ news" << true;
    QTest::addRow("@ is not a backtick") << "a@b"
                                         << "a`b" << false;
    QTest::addRow("[ is not {") << "x["
                                << "X{" << false;
    QTest::addRow("split") << "news"
                           << "new s" << false;
}

void TestTask::keywordCase()
{
    QFETCH(QString, keyword);
    QFETCH(QString, text);
    QFETCH(bool, kept);
    QCOMPARE(text.contains(keyword, Qt::CaseInsensitive), kept);
    Task task(1, "n", "http://127.0.0.1/", keyword, 60);
    const QString page = QStringLiteral("<a href=/1>%1</a>").arg(text.toHtmlEscaped());
    QCOMPARE(task.scanResults(page, QUrl("http://127.0.0.1/"), today).size(), kept ? 1 : 0);
}

void TestTask::regionAndLeftOutWords_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("excluded");
    QTest::addColumn<bool>("feed");
    QTest::addColumn<QStringList>("links"); // the results' links, in page order
    QTest::addColumn<bool>("missed");       // the task notes that the region matched nothing

    const auto row = [](const char* tag, const char* region, const char* excluded, bool feed, const char* links,
                        bool missed) {
        QTest::addRow("%s", tag) << region << excluded << feed << QString(links).split(u' ', Qt::SkipEmptyParts)
                                 << missed;
    };
    row("whole page", "", "", false, "n/1 j/1 j/2 j/3 j/4 f/1", false);
    row("listing by CSS", "#jobs", "", false, "j/1 j/2 j/3 j/4", false);
    row("listing by XPath", "//main/ul", "", false, "j/1 j/2 j/3 j/4", false);
    row("listing and footer", "#jobs li:first-child, footer", "", false, "j/1 f/1", false);
    row("words left out", "", "senior, Team  Lead ,,", false, "n/1 j/1 j/3 f/1", false);
    row("both", "main", "SENIOR", false, "j/1 j/3 j/4", false);
    row("left-out word in an entity", "", "café", false, "n/1 j/1 j/2 j/3 f/1", false);
    row("region gone from the page", "#vacancies", "", false, "", true);
    row("region not parsed", "ul[", "", false, "", true);
    row("feed ignores the region", "#jobs", "senior", true, "j/1 j/3", false);
}

// A region limits the links to those of its elements, through the same scan and base as the whole page; the
// excluded words leave out links whose text holds one, ignoring capitals, on pages and in feeds alike.
void TestTask::regionAndLeftOutWords()
{
    QFETCH(QString, region);
    QFETCH(QString, excluded);
    QFETCH(bool, feed);
    QFETCH(QStringList, links);
    QFETCH(bool, missed);

    const QByteArray body = "<html><head><base href='http://b.test/'></head><body>"
                            "<nav><a href=n/1>Engineer jobs</a></nav><main><ul id=jobs>"
                            "<li><a href=\"j/1\">Engineer</a></li><li><a href='j/2'>Senior engineer</a></li>"
                            "<li><a href=j/3><b>Engineer</b>, backend</a></li>"
                            "<li><a href=j/4>Engineer at Caf&eacute; team lead</a></li></ul></main>"
                            "<footer><a href=f/1>Engineer careers</a></footer></body></html>";
    FetchedPage page = pageAt("http://a.test/list", body);
    if (feed) {
        page.feed = true;
        page.feedItems = {{"http://b.test/j/1", "Engineer"},
                          {"http://b.test/j/2", "Senior engineer"},
                          {"http://b.test/j/3", "Engineer, backend"}};
    }
    Task task(1, "n", "http://a.test/list", "engineer", 60);
    task.setOption(Task::RegionOption, region);
    task.setOption(Task::ExcludedWordsOption, excluded);
    QStringList found;
    for (const Task::ResultPtr& record : task.resultsOfPage(page, today))
        found << record->link.mid(QStringLiteral("http://b.test/").size());
    QCOMPARE(found, links);
    QCOMPARE(task.regionMatchedNothing(), missed);
    QCOMPARE(task.linksOfPage(page).size(), links.size());
}

void TestTask::encodings_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("contentType");

    // Every way a page names its encoding is PageFetch::decode's; these show the page's bytes and its header
    // reach it (the euro sign is U+0080 when read as latin-1).
    const QString text = QStringLiteral("Caf\u00e9 \u20ac5 \u201cneu\u201d");
    QTest::addRow("meta") << QByteArray(
                                 "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">")
                          << text << QByteArray("text/html");
    QTest::addRow("only the header") << QByteArray() << text << QByteArray("text/html; charset=windows-1252");
}

void TestTask::encodings()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, text);
    QFETCH(QByteArray, contentType);

    const QString keyword = text.left(2).toUpper();
    const QByteArray page =
        head + QTextCodec::codecForName("windows-1252")
                   ->fromUnicode(QStringLiteral("<a href=\"/x\">%1</a><a href=\"/y\">other</a>").arg(text));
    server.setPage("/encoded", page, contentType);
    Task task(1, "n", server.url("/encoded").toString(), keyword, 60);
    const FetchedPage fetched = fetch(task.address());
    QVERIFY(fetched.ok);
    QCOMPARE(linksOf(task.resultsOfPage(fetched, today)), Links({{origin() + "/x", text}}));
}

void TestTask::fetchOutcomes_data()
{
    QTest::addColumn<TestServer::Response>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<Links>("results"); // %1 stands for http://127.0.0.1:PORT

    TestServer::Response redirect;
    redirect.status = 302;
    redirect.location = "/moved/here.html";
    QTest::addRow("302, links resolved where it led")
        << redirect << true << Links{{"%1/moved/a.html", "Item A"}, {"%1/b", "Item B"}};
    TestServer::Response notFound;
    notFound.status = 404;
    notFound.body = "<a href=\"/home\">Item home</a>";
    QTest::addRow("404 page is scanned") << notFound << false << Links{{"%1/home", "Item home"}};
    // A cut body leaves nothing to scan (how each download fails is PageFetch's).
    TestServer::Response cut;
    cut.body = anchors({{"/c", "Item C"}, {"/d", "Item D"}});
    cut.closeMidBody = true;
    QTest::addRow("closed mid-body") << cut << false << Links{};
}

void TestTask::fetchOutcomes()
{
    QFETCH(TestServer::Response, response);
    QFETCH(bool, ok);
    QFETCH(Links, results);

    server.setResponse("/start", response);
    server.setPage("/moved/here.html", anchors({{"a.html", "Item A"}, {"\"/b\"", "Item B"}, {"/z", "zzz"}}));

    Task task(1, "n", server.url("/start").toString(), "item", 60);
    const FetchedPage page = fetch(task.address());
    QCOMPARE(page.ok, ok);
    for (Link& link : results)
        link.first.replace("%1", origin());
    QCOMPARE(linksOf(task.resultsOfPage(page, today)), results);
}

// `count` anchors "<a href=N>text</a>", N counting from 0.
QString TestTask::tinyAnchors(int count, const QString& text)
{
    QString page;
    page.reserve(count * (16 + text.size()));
    for (int i = 0; i < count; ++i)
        page += QStringLiteral("<a href=%1>%2</a>").arg(i).arg(text);
    return page;
}

void TestTask::boundedMatches_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("links"); // the expected links, in page order

    // Match i of a run of n "href=" has the address "href=" x (n - 1 - i) + "x"; the first four are kept.
    const auto runLinks = [](int n) {
        QStringList links;
        for (int i = 0; i < 4; ++i)
            links << "http://h/" + QStringLiteral("href=").repeated(n - 1 - i) + "x";
        return links;
    };
    const QString run20k = QStringLiteral("href=").repeated(4000) + "x>Item</a>";
    QTest::addRow("20 KB href= run: 4 matches of the anchor") << run20k << runLinks(4000);
    QTest::addRow("100 KB href= run: the 4 kept are too long")
        << QStringLiteral("href=").repeated(20000) + "x>Item</a>" << QStringList();
    QTest::addRow("the next anchor counts afresh")
        << run20k + "<a href=/next>Item next</a>" << runLinks(4000) + QStringList{"http://h/next"};
    QTest::addRow("data-href and href") << R"(<a data-href="a" href="b">Item</a>)"
                                        << QStringList{"http://h/a", "http://h/b"};
    QTest::addRow("address of 64 Ki characters")
        << "<a href=" + QString(64 * 1024, u'p') + ">Item</a>" << QStringList{"http://h/" + QString(64 * 1024, u'p')};
    QTest::addRow("address of 64 Ki + 1 characters")
        << "<a href=" + QString(64 * 1024 + 1, u'p') + ">Item</a><a href=/after>Item</a>"
        << QStringList{"http://h/after"};

    QStringList first100k;
    for (int i = 0; i < 100000; ++i)
        first100k << "http://h/" + QString::number(i);
    QTest::addRow("100,001 matching anchors") << tinyAnchors(100001, "Item") << first100k;
    QTest::addRow("only matching links count")
        << tinyAnchors(100001, "other") + "<a href=/last>Item</a>" << QStringList{"http://h/last"};
}

void TestTask::boundedMatches()
{
    QFETCH(QString, page);
    QFETCH(QStringList, links);

    Task task(1, "n", "http://h/", "item", 60);
    QStringList found;
    qsizetype linkCharacters = 0;
    for (const Task::ResultPtr& record : task.scanResults(page, QUrl("http://h/"), today)) {
        found << record->link;
        linkCharacters += record->link.size();
    }
    // Without the bounds the links of a run of "href=" add up to the square of its length.
    QVERIFY2(linkCharacters <= 4 * page.size(), qPrintable(QString::number(linkCharacters)));
    QCOMPARE(found.size(), links.size());
    QCOMPARE(found, links);
}

void TestTask::compare_data()
{
    QTest::addColumn<Links>("stored");
    QTest::addColumn<Links>("page"); // href, text
    QTest::addColumn<Links>("known");
    QTest::addColumn<Links>("reported");
    QTest::addColumn<Links>("knownAfter");

    const QString a = "http://h/news/a.html";
    const QString b = "http://h/news/b.html";
    QTest::addRow("changed text reported") << Links{{a, "Item old"}} << Links{{"a.html", "Item new"}} << Links{}
                                           << Links{{a, "Item new"}} << Links{{a, "Item new"}};
    // A text a stored result holds is never reported, so it is not remembered either.
    QTest::addRow("unchanged text is not remembered")
        << Links{{a, "Item"}} << Links{{"\"/news/a.html\"", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("known text not reported again") << Links{{a, "Item old"}} << Links{{a, "Item new"}}
                                                   << Links{{a, "Item new"}} << Links{} << Links{{a, "Item new"}};
    QTest::addRow("link not stored is not reported")
        << Links{{a, "Item"}} << Links{{"b.html", "Item B"}} << Links{} << Links{} << Links{};
    QTest::addRow("duplicates, other text first")
        << Links{{a, "Item old"}, {a, "Item"}} << Links{{"a.html", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("markup anchor compared by its visible text")
        << Links{{a, "Item old"}} << Links{{"a.html", "<b>Item</b>&nbsp;new"}} << Links{} << Links{{a, "Item new"}}
        << Links{{a, "Item new"}};
    QTest::addRow("duplicates, current text first")
        << Links{{a, "Item"}, {a, "Item old"}} << Links{{"a.html", "Item"}} << Links{} << Links{} << Links{};
    QTest::addRow("later link of the page wins")
        << Links{{a, "Item one"}} << Links{{"a.html", "Item one"}, {"/news/a.html", "Item two"}} << Links{}
        << Links{{a, "Item two"}} << Links{{a, "Item two"}};
    QTest::addRow("keyword decides what is seen")
        << Links{{a, "Item old"}, {b, "Item b"}} << Links{{"a.html", "Other"}, {"b.html", "Item b2"}} << Links{}
        << Links{{b, "Item b2"}} << Links{{b, "Item b2"}};
    QTest::addRow("two changes, in stored order")
        << Links{{b, "Item b"}, {a, "Item a"}} << Links{{"a.html", "Item a2"}, {"b.html", "Item b2"}} << Links{}
        << Links{{b, "Item b2"}, {a, "Item a2"}} << Links{{a, "Item a2"}, {b, "Item b2"}};
}

void TestTask::compare()
{
    QFETCH(Links, stored);
    QFETCH(Links, page);
    QFETCH(Links, known);
    QFETCH(Links, reported);
    QFETCH(Links, knownAfter);

    Task task(9, "n", "http://h/news/index.html", "item", 60);
    task.setResults(records(stored));
    Task::LinkTexts knownLinks;
    for (const Link& link : known)
        knownLinks.insert(link.first, link.second);

    const Task::ResultList fresh =
        task.compareWithResults(QString::fromUtf8(anchors(page)), QUrl("http://h/news/index.html"), knownLinks, today);
    QCOMPARE(linksOf(fresh), reported);
    for (const Task::ResultPtr& record : fresh) {
        QCOMPARE(record->taskId, 9);
        QCOMPARE(record->state, int(StateNew));
        QCOMPARE(record->date, today);
    }
    Task::LinkTexts expectedKnown;
    for (const Link& link : knownAfter)
        expectedKnown.insert(link.first, link.second);
    QCOMPARE(knownLinks, expectedKnown);
    QCOMPARE(linksOf(task.results()), stored); // the comparison never changes the stored results
}

// The comparison sees the same bounded links as a full fetch: the 100,001st matching link is ignored.
void TestTask::compareBounded()
{
    Task task(1, "n", "http://h/", "item", 60);
    task.setResults(records({{"http://h/99999", "Item old"}, {"http://h/100000", "Item old"}}));
    Task::LinkTexts knownLinks;
    const Task::ResultList fresh =
        task.compareWithResults(tinyAnchors(100001, "Item new"), QUrl("http://h/"), knownLinks, today);
    QCOMPARE(linksOf(fresh), Links({{"http://h/99999", "Item new"}}));
    QCOMPARE(knownLinks.keys(), QStringList{"http://h/99999"});
}

void TestTask::updateReportsOnce()
{
    const QString address = QStringLiteral("http://h/updates/index.html");
    const FetchedPage page = pageAt(address, anchors({{"\"a.html\"", "Item new"}, {"/other", "Item other"}}));
    const QString a = QStringLiteral("http://h/updates/a.html");
    Task task(1, "n", address, "item", 60);
    task.setResults(records({{a, "Item old"}, {"http://h/gone", "Item gone"}}));

    QVERIFY(task.takeUpdatePage(page, today));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item new"}}));
    QCOMPARE(task.updateResults().first()->date, today);
    QCOMPARE(task.knownLinks().value(a), QStringLiteral("Item new"));

    // Reported once: the second check finds the same change and stays silent.
    QVERIFY(!task.takeUpdatePage(page, today));
    QVERIFY(task.updateResults().isEmpty());

    // Removing a result forgets what was seen, so the change is reported again.
    task.removeResult(1);
    QVERIFY(task.knownLinks().isEmpty());
    QVERIFY(task.takeUpdatePage(page, today));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item new"}}));
}

void TestTask::textHistory_data()
{
    QTest::addColumn<QStringList>("stored");   // texts of the stored results of one link
    QTest::addColumn<QStringList>("pages");    // its text on the page at each check
    QTest::addColumn<QStringList>("reported"); // what each check reports, "" for nothing

    QTest::addRow("nothing changed, then a change")
        << QStringList{"Item 1"} << QStringList{"Item 1", "Item 2"} << QStringList{"", "Item 2"};
    QTest::addRow("two changes in a row")
        << QStringList{"Item 1"} << QStringList{"Item 2", "Item 2", "Item 3"} << QStringList{"Item 2", "", "Item 3"};
    QTest::addRow("back to texts already held")
        << QStringList{"Item 1"} << QStringList{"Item 2", "Item 1", "Item 2"} << QStringList{"Item 2", "", ""};
}

// Checks in a row of a page whose link changes its text; what a check reports joins the results, as the
// checker stores it (one comparison at a time, and duplicates, are compare's).
void TestTask::textHistory()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, reported);

    const QString a = QStringLiteral("http://h/history/a.html");
    Task task(1, "n", "http://h/history/index.html", "item", 60);
    for (const QString& text : stored)
        task.appendResults(records({{a, text}}));
    for (int i = 0; i < pages.size(); ++i) {
        task.takeUpdatePage(pageAt(task.address(), anchors({{"a.html", pages[i]}, {"/other", "Item other"}})), today);
        const Links expected = reported[i].isEmpty() ? Links{} : Links{{a, reported[i]}};
        QVERIFY2(linksOf(task.updateResults()) == expected, qPrintable(QStringLiteral("check %1").arg(i + 1)));
        task.appendResults(task.updateResults());
    }
}

QTEST_GUILESS_MAIN(TestTask)
#include "tst_task.moc"
