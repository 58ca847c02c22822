// SPDX-License-Identifier: GPL-3.0-or-later
// The links a task keeps of a page: formed against the page and its base element, through the keyword, the
// region and the left-out words, decoded as the page names its encoding, and within the bounds of a hostile page.
#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/matching/seenlinks.h"
#include "tests/engine/resultlinks.h"
#include "tests/support/randombytes.h"
#include "tests/support/testserver.h"

#include <QTest>
#include <QTextCodec>

#include <optional>

using namespace ResultLinks;

class TestKeywordMatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

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
    void hostilePages_data();
    void hostilePages();

private:
    // Downloads the address as the checks do, through a PageFetcher.
    static FetchedPage fetch(const QString& address);

    const QDate today{2031, 2, 3}; // the date the checker's clock gives; records carry it, not the system's

    QString origin() const { return server.url(QString()).toString(); }

    TestServer server;
};

FetchedPage TestKeywordMatch::fetch(const QString& address)
{
    PageFetcher fetcher;
    std::optional<FetchedPage> fetched;
    fetcher.fetch(address, &fetcher, [&fetched](const FetchedPage& page) { fetched = page; });
    if (!QTest::qWaitFor([&fetched] { return fetched.has_value(); }, 10000))
        return {};
    return *fetched;
}

void TestKeywordMatch::initTestCase()
{
    QVERIFY(server.listen());
}

void TestKeywordMatch::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
    PageFetch::setMaxBodyBytes(PageFetch::MaxBodyBytes);
}

void TestKeywordMatch::linkForms_data()
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

void TestKeywordMatch::linkForms()
{
    QFETCH(QString, href);
    QFETCH(QString, link);

    server.setPage("/news/index.html", anchors({{href, "Item"}}));
    Task task(3, {"n", server.url("/news/index.html").toString(), "item", 60, {}});
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

void TestKeywordMatch::baseElement_data()
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

void TestKeywordMatch::baseElement()
{
    QFETCH(QString, head);
    QFETCH(QString, link);

    const QString page = "<html><head>" + head + "</head><body><a href=\"item.html\">Item</a>" +
                         "<a href=\"/x\"><b>Item</b></a><a href=\"https://o.example/\">Item</a></body></html>";
    Task task(1, {"n", "http://h/news/index.html", "item", 60, {}});
    QStringList found;
    for (const Task::ResultPtr& record : task.scanResults(page, QUrl("http://h/news/index.html"), today))
        found << record->link;
    const QUrl base(link);
    QCOMPARE(found, QStringList({link, base.resolved(QUrl("/x")).toString(), "https://o.example/"}));
}

void TestKeywordMatch::keywordFilter_data()
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

void TestKeywordMatch::keywordFilter()
{
    QFETCH(QString, keyword);
    QFETCH(QStringList, texts);

    const QByteArray page = "<a href=/1>Latest News</a> <a href=/2>Weather</a>\n"
                            "<a href=/3>Item <b>news</b></a> <A HREF=/4>news</A> <a href=/5>news digest</a>"
                            "<a href='/6'>NEWS</a><a href=/7> padded  text </a>"
                            "<a href=/8>Sport news: l&rsquo;&eacute;quipe</a>";
    Task task(1, {"n", "http://127.0.0.1/", keyword, 60, {}});
    QStringList found;
    for (const Task::ResultPtr& record : task.scanResults(QString::fromUtf8(page), QUrl("http://127.0.0.1/"), today))
        found << record->text;
    QCOMPARE(found, texts);
}

// Case is ignored as Qt's case-insensitive search ignores it, by Unicode's case folding, which the scan does
// itself for ASCII texts and keywords.
void TestKeywordMatch::keywordCase_data()
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

void TestKeywordMatch::keywordCase()
{
    QFETCH(QString, keyword);
    QFETCH(QString, text);
    QFETCH(bool, kept);
    QCOMPARE(text.contains(keyword, Qt::CaseInsensitive), kept);
    Task task(1, {"n", "http://127.0.0.1/", keyword, 60, {}});
    const QString page = QStringLiteral("<a href=/1>%1</a>").arg(text.toHtmlEscaped());
    QCOMPARE(task.scanResults(page, QUrl("http://127.0.0.1/"), today).size(), kept ? 1 : 0);
}

void TestKeywordMatch::regionAndLeftOutWords_data()
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
void TestKeywordMatch::regionAndLeftOutWords()
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
    Task task(1, {"n", "http://a.test/list", "engineer", 60, {}});
    task.setOption(Task::RegionOption, region);
    task.setOption(Task::ExcludedWordsOption, excluded);
    QStringList found;
    for (const Task::ResultPtr& record : task.resultsOfPage(page, today))
        found << record->link.mid(QStringLiteral("http://b.test/").size());
    QCOMPARE(found, links);
    QCOMPARE(task.regionMatchedNothing(), missed);
    QCOMPARE(task.linksOfPage(page).size(), links.size());
}

void TestKeywordMatch::encodings_data()
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

void TestKeywordMatch::encodings()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, text);
    QFETCH(QByteArray, contentType);

    const QString keyword = text.left(2).toUpper();
    const QByteArray page =
        head + QTextCodec::codecForName("windows-1252")
                   ->fromUnicode(QStringLiteral("<a href=\"/x\">%1</a><a href=\"/y\">other</a>").arg(text));
    server.setPage("/encoded", page, contentType);
    Task task(1, {"n", server.url("/encoded").toString(), keyword, 60, {}});
    const FetchedPage fetched = fetch(task.address());
    QVERIFY(fetched.ok);
    QCOMPARE(linksOf(task.resultsOfPage(fetched, today)), Links({{origin() + "/x", text}}));
}

void TestKeywordMatch::fetchOutcomes_data()
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

void TestKeywordMatch::fetchOutcomes()
{
    QFETCH(TestServer::Response, response);
    QFETCH(bool, ok);
    QFETCH(Links, results);

    server.setResponse("/start", response);
    server.setPage("/moved/here.html", anchors({{"a.html", "Item A"}, {"\"/b\"", "Item B"}, {"/z", "zzz"}}));

    Task task(1, {"n", server.url("/start").toString(), "item", 60, {}});
    const FetchedPage page = fetch(task.address());
    QCOMPARE(page.ok, ok);
    for (Link& link : results)
        link.first.replace("%1", origin());
    QCOMPARE(linksOf(task.resultsOfPage(page, today)), results);
}

void TestKeywordMatch::boundedMatches_data()
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

void TestKeywordMatch::boundedMatches()
{
    QFETCH(QString, page);
    QFETCH(QStringList, links);

    Task task(1, {"n", "http://h/", "item", 60, {}});
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

// Downloaded pages built to make the reading slow, wrong or huge, read as a check reads them.
void TestKeywordMatch::hostilePages_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("texts"); // of the links kept, in page order

    QTest::addRow("500 KB of href= without tags") << QByteArray("href=").repeated(100000) << QStringList();
    QTest::addRow("500 KB of <a href= before one link")
        << QByteArray("<a href=").repeated(62500) + "\"/last\">qt last</a>" << QStringList{"qt last"};
    QTest::addRow("500 KB of href=\"x\"> before one link")
        << QByteArray("href=\"x\">").repeated(55000) + "<a href=\"/l\">qt l</a>" << QStringList{"qt l"};
    QTest::addRow("1 MB of random bytes around a link")
        << randomBytes(512 * 1024, 7) + "<a href=\"/bin\">qt in binary</a>" + randomBytes(512 * 1024, 8)
        << QStringList{"qt in binary"};
    QTest::addRow("unknown charset") << QByteArray("<html><head><meta charset=\"x-nonsense\"></head><body>"
                                                   "<a href=\"/c\">qt caf\xe9</a></body></html>")
                                     << QStringList{QStringLiteral("qt caf\u00e9")};
    // Every "href=" of a run ending in ">text</a>" starts a match of its own whose address runs to the end of the
    // run: only the first four are kept.
    QTest::addRow("10 KB href= run closed by one link")
        << QByteArray("href=").repeated(2000) + ">qt end</a>" << QStringList(4, QStringLiteral("qt end"));
}

void TestKeywordMatch::hostilePages()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, texts);

    FetchedPage page = pageAt("http://h/", body);
    page.contentType = "text/html";
    Task task(1, {"n", "http://h/", "qt", 60, {}});
    QStringList found;
    qsizetype linkCharacters = 0;
    for (const Task::ResultPtr& record : task.resultsOfPage(page, today)) {
        found << record->text;
        linkCharacters += record->link.size();
    }
    QVERIFY2(linkCharacters <= 4 * body.size(), qPrintable(QString::number(linkCharacters)));
    QCOMPARE(found, texts);
}

QTEST_GUILESS_MAIN(TestKeywordMatch)
#include "tst_keywordmatch.moc"
