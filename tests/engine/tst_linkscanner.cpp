// SPDX-License-Identifier: GPL-3.0-or-later
#include <QRandomGenerator>
#include <QtTest>

#include "engine/matching/linkscanner.h"
#include "engine/tools.h"
#include "tests/engine/linkscanoracle.h"
#include "tests/engine/regionways.h"

class TestLinkScanner : public QObject
{
    Q_OBJECT

private slots:
    void handWritten_data();
    void handWritten();
    void capturesPointIntoPage();
    void randomPagesAgreeWithRegExp();
    void hostilePagesAgreeWithRegExp_data();
    void hostilePagesAgreeWithRegExp();
    void markupAnchors_data();
    void markupAnchors();
    void markupAnchorBounds_data();
    void markupAnchorBounds();
    void frontPages_data();
    void frontPages();
    void linkResolverAgreesWithQUrl_data();
    void linkResolverAgreesWithQUrl();

private:
    LinkScanOracle oracle;
};

namespace {
using Expected = QList<QStringList>; // {start, capture 1, capture 2} per match

// Every link of scanLinks() as "+href|text" for a markup anchor, "=href|text" for a match of the pattern.
QStringList links(const QString& page)
{
    QStringList found;
    LinkScanner::scanLinks(page, [&found](const LinkScanner::Match& m) {
        found.append((m.markup ? u'+' : u'=') + m.href.toString() + u'|' + m.text.toString());
    });
    return found;
}

// The page's links as a region reads them from the parsed tree and as the scan of the region written back does.
void regionWaysAgree(const QString& page)
{
    for (const char* region : {"*", "body > *", "a", "//div"})
        RegionWays::compare(page, QString::fromLatin1(region));
}

QStringList describe(const Expected& expected)
{
    QStringList lines;
    for (const QStringList& m : expected)
        lines.append(LinkScanOracle::line(m[0].toLongLong(), m[1], m[2]));
    return lines;
}
} // namespace

void TestLinkScanner::handWritten_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<Expected>("expected");

    QTest::addRow("empty page") << QString() << Expected{};
    QTest::addRow("no link") << "<p>plain text &gt; more</p>" << Expected{};
    QTest::addRow("quoted link") << R"(<a href="/x">Item</a>)" << Expected{{"3", R"("/x")", "Item"}};
    QTest::addRow("further attributes") << R"(href="u" class="c">Some text</a>)"
                                        << Expected{{"0", R"("u" class="c")", "Some text"}};
    QTest::addRow("blanks around the value") << R"(href= "/a" >x</a>)" << Expected{{"0", R"( "/a" )", "x"}};
    QTest::addRow("last > closes the tag") << R"(href="a">b>c</a>)" << Expected{{"0", R"("a">b)", "c"}};
    QTest::addRow("capital HREF") << R"(<a HREF="/x">t</a>)" << Expected{};
    QTest::addRow("capital </A>") << R"(<a href="/x">t</A>)" << Expected{};
    QTest::addRow("markup in the text, scan goes on")
        << R"(<a href="/x">Item <b>one</b></a><a href="/y">two</a>)" << Expected{{"35", R"("/y")", "two"}};
    QTest::addRow("overlapping hrefs") << "href=href=x>t</a>" << Expected{{"0", "href=x", "t"}, {"5", "x", "t"}};
    QTest::addRow("no > before </a>") << R"(href="x"</a>)" << Expected{};
    QTest::addRow("empty captures") << "href=></a>" << Expected{{"0", "", ""}};
    QTest::addRow("empty address") << "href=>x</a>" << Expected{{"0", "", "x"}};
    QTest::addRow("blanks, tabs and newlines kept")
        << "href=\n\"/a\"\t\n>\tx y \n</a>" << Expected{{"0", "\n\"/a\"\t\n", "\tx y \n"}};
    QTest::addRow("trailing blanks in the text") << "href=x>t  </a>" << Expected{{"0", "x", "t  "}};
    QTest::addRow("other closing tag") << "href=x>t</b>" << Expected{};
    QTest::addRow("unfinished </a") << "href=x>t</a" << Expected{};
    QTest::addRow("href= at the end") << "text href=" << Expected{};
    QTest::addRow("one far </a> without >") << "href=href=href=   </a>" << Expected{};
    QTest::addRow("> only before href=") << "a>href=x</a>" << Expected{};
    QTest::addRow("three links, middle one broken")
        << R"(<a href="1">one</a> <a href="2"><img></a> <a href='3'>three</a>)"
        << Expected{{"3", R"("1")", "one"}, {"45", "'3'", "three"}};
    QTest::addRow("href inside the text")
        << "href=a>b href=c>d</a>" << Expected{{"0", "a>b href=c", "d"}, {"9", "c", "d"}};
    QTest::addRow("href without =") << "href x>t</a> href =y>u</a>" << Expected{};
}

void TestLinkScanner::handWritten()
{
    QFETCH(QString, page);
    QFETCH(Expected, expected);

    const QStringList found = LinkScanOracle::describe(LinkScanner::matches(page));
    QCOMPARE(found, describe(expected));
    QCOMPARE(found, oracle.describe(page));
    regionWaysAgree(page);
}

void TestLinkScanner::capturesPointIntoPage()
{
    const QString page = R"(<a href="/a">one</a> <a href='/b' id=x>two</a>)";
    const QList<LinkScanner::Match> found = LinkScanner::matches(page);
    QCOMPARE(found.size(), 2);
    for (const LinkScanner::Match& m : found) {
        QCOMPARE(m.href.data(), page.constData() + m.start + 5);
        QCOMPARE(m.text.data(), m.href.data() + m.href.size() + 1);
    }
}

// Pages built at random from the pieces that decide a match; the scanner must agree with QRegExp on
// every one of them.
void TestLinkScanner::randomPagesAgreeWithRegExp()
{
    // Weighted towards the pieces that make a link, so that a good part of the pages hold some.
    static const QStringList pieces = {"href=", "href=", "href=", "HREF=", "</a>", "</a>", "</a>", "</A>", "<", ">",
                                       ">",     ">",     " ",     " ",     "\t",   "\n",   "\"",   "'",    "x", "te",
                                       "a",     "/",     "=",     "href",  "</",   "/a>",  "<a ",  "&amp;"};
    QRandomGenerator random(20261207);
    int pagesWithMatches = 0;
    for (int round = 0; round < 100000; ++round) {
        QString page;
        const int count = random.bounded(1, 20);
        for (int i = 0; i < count; ++i)
            page += pieces[random.bounded(int(pieces.size()))];
        const QStringList found = LinkScanOracle::describe(LinkScanner::matches(page));
        const QStringList expected = oracle.describe(page);
        // The pattern's matches stay exactly as they are among all links, in the same order.
        QList<LinkScanner::Match> kept;
        LinkScanner::scanLinks(page, [&kept](const LinkScanner::Match& m) {
            if (!m.markup)
                kept.append(m);
        });
        if (found != expected || LinkScanOracle::describe(kept) != expected) {
            qWarning().noquote() << "round" << round
                                 << "page:" << QString(page).replace(QChar(u'\n'), QStringLiteral("\\n"))
                                 << "\nscanner:" << found << "\nQRegExp:" << expected;
            QFAIL("the scanner and QRegExp disagree");
        }
        if (!expected.isEmpty())
            ++pagesWithMatches;
    }
    // The pieces must make links often enough for the comparison to mean something.
    QVERIFY2(pagesWithMatches > 5000, qPrintable(QString::number(pagesWithMatches)));
}

// Pages on which QRegExp needs quadratic time, kept small enough for it.
void TestLinkScanner::hostilePagesAgreeWithRegExp_data()
{
    QTest::addColumn<QString>("page");

    QTest::addRow("href= repeated") << QStringLiteral("href=").repeated(400);
    QTest::addRow("href= then blanks") << "href=" + QString(2000, u' ') + ">x</a>";
    QTest::addRow("href= runs, one far </a> without >") << QStringLiteral("href=").repeated(300) + "</a>";
    QTest::addRow("links and broken links") << QStringLiteral("href=x>y</a>href=<").repeated(200);
}

void TestLinkScanner::hostilePagesAgreeWithRegExp()
{
    QFETCH(QString, page);
    QCOMPARE(LinkScanOracle::describe(LinkScanner::matches(page)), oracle.describe(page));
    regionWaysAgree(page);
}

void TestLinkScanner::markupAnchors_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("heading inside") << R"(<a href="/news/world-123"><h3 class="title">Election results are in</h3></a>)"
                                    << QStringList{R"(+"/news/world-123"|Election results are in)"};
    QTest::addRow("text around markup") << R"(<a href="/p/42"><span>New</span> engineer position</a>)"
                                        << QStringList{R"(+"/p/42"|New engineer position)"};
    QTest::addRow("image with text around") << R"(<a href='/g'>Photos <img src="a.png" alt="x > y"> of the day</a>)"
                                            << QStringList{"+'/g'|Photos of the day"};
    QTest::addRow("image only: no text") << R"(<a href="/i"><img src="a.png"></a>)" << QStringList{};
    QTest::addRow("entities and nbsp") << R"(<a href=/e><b>Caf&eacute;</b>&nbsp;&amp;&#160;more &#x2019;s</a>)"
                                       << QStringList{QStringLiteral("+/e|Caf\u00e9 & more \u2019s")};
    QTest::addRow("upper-case tags") << R"(<A HREF="/u"><SPAN>Upper</SPAN> case</A>)"
                                     << QStringList{R"(+"/u"|Upper case)"};
    QTest::addRow("upper-case tag, plain text") << R"(<A HREF="/u">Plain</A>)" << QStringList{R"(+"/u"|Plain)"};
    QTest::addRow("left open until the next anchor")
        << R"(<a href="/1"><b>One</b> <a href="/2"><i>Two</i></a>)" << QStringList{R"(+"/1"|One)", R"(+"/2"|Two)"};
    QTest::addRow("script and style inside")
        << "<a href=/s><script>var a = '<a href=/no>x</a>';</script><style>b{}</style>Shown <b>text</b></a>"
        << QStringList{"+/s|Shown text", "=/no|x"}; // the pattern's match inside the script stays
    QTest::addRow("comment inside") << "<a href=/c><!-- <a href=/no>hidden</a> -->Visible<br></a>"
                                    << QStringList{"+/c|Visible", "=/no|hidden"};
    QTest::addRow("white space collapsed")
        << "<a href=/w>\n  <span>Two</span>\n\t  words  <i></i></a>" << QStringList{"+/w|Two words"};
    QTest::addRow("pattern matches kept, in page order")
        << R"(<a href="/1">One</a><a href="/2"><b>Two</b></a><a href="/3">Three</a>)"
        << QStringList{R"(="/1"|One)", R"(+"/2"|Two)", R"(="/3"|Three)"};
    QTest::addRow("pattern match with further attributes")
        << R"(<a class="c" href="/1" title="t">One</a>)" << QStringList{R"(="/1" title="t"|One)"};
    QTest::addRow("two hrefs, the first counts")
        << R"(<a href="/1" HREF="/2"><b>x</b></a>)" << QStringList{R"(+"/1"|x)"};
    QTest::addRow("the pattern matched another href= of the tag")
        << R"(<a HREF="/u" href="/v">Plain</a><a href=<a href=<a href="/w">w</a>)"
        << QStringList{R"(="/v"|Plain)", R"(="/w"|w)"};
    QTest::addRow("href only in data-href") << R"(<a data-href="/d"><b>x</b></a>)" << QStringList{};
    QTest::addRow("blanks around =") << "<a href = '/b' ><b>x</b></a>" << QStringList{"+'/b'|x"};
    QTest::addRow("> inside a quoted value") << R"(<a title="a>b" href="/q"><b>x</b></a>)" << QStringList{R"(+"/q"|x)"};
    QTest::addRow("no href") << "<a name=top><b>Top</b></a>" << QStringList{};
    QTest::addRow("not an anchor") << R"(<abbr href="/x"><b>x</b></abbr><area href="/y">)" << QStringList{};
    QTest::addRow("content to the end of the page") << "<a href=/e><b>Open</b> end" << QStringList{"+/e|Open end"};
    QTest::addRow("tag never closed") << R"(<a href="/1"><b>x</b></a><a href="/2" <b>)" << QStringList{R"(+"/1"|x)"};
    QTest::addRow("quote never closed") << R"(<a href="/1 ><b>x</b></a>)" << QStringList{};
    QTest::addRow("lone < is text") << "<a href=/l><b>1</b> < 2</a>" << QStringList{"+/l|1 < 2"};
    QTest::addRow("</a followed by a blank")
        << "<a href=/z><b>z</b></a ><a href=/y>y</a>" << QStringList{"+/z|z", "=/y|y"};
}

void TestLinkScanner::markupAnchors()
{
    QFETCH(QString, page);
    QFETCH(QStringList, expected);
    QCOMPARE(links(page), expected);
    regionWaysAgree(page);
}

// What is looked at for one anchor is bounded; what lies beyond the bounds is still scanned.
void TestLinkScanner::markupAnchorBounds_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("expected");

    const qsizetype content = LinkScanner::MaxAnchorContent;
    QTest::addRow("text within the content bound")
        << "<a href=/a><b>" + QString(content - 100, u' ') + "far</b></a>" << QStringList{"+/a|far"};
    QTest::addRow("text beyond the content bound")
        << "<a href=/a><b>x</b>" + QString(content, u' ') + "far</a><a href=/b><b>y</b></a>"
        << QStringList{"+/a|x", "+/b|y"};
    QTest::addRow("script beyond the content bound")
        << "<a href=/a>t<script>" + QString(content, u'x') + "</script></a><a href=/b><b>y</b></a>"
        << QStringList{"+/a|t", "+/b|y"};
    QTest::addRow("start tag beyond its bound")
        << "<a href=/a title=\"" + QString(LinkScanner::MaxTagLength, u'x') + "\"><b>x</b></a><a href=/b><b>y</b></a>"
        << QStringList{"+/b|y"};
}

void TestLinkScanner::markupAnchorBounds()
{
    QFETCH(QString, page);
    QFETCH(QStringList, expected);
    QCOMPARE(links(page), expected);
    regionWaysAgree(page);
}

void TestLinkScanner::frontPages_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("news") << "frontpage-news.html";
    QTest::newRow("shop") << "frontpage-shop.html";
    QTest::newRow("blog") << "frontpage-blog.html";
}

// Sample front pages in today's markup, beside each the anchors an HTML parser sees with visible text
// (data/anchors.py wrote them). At least 97% of those must be found with the same address and the text
// shown for them.
void TestLinkScanner::frontPages()
{
    QFETCH(QString, name);
    QFile pageFile(QFINDTESTDATA("data/" + name));
    QFile anchorFile(QFINDTESTDATA("data/" + name + ".anchors"));
    QVERIFY(pageFile.open(QIODevice::ReadOnly));
    QVERIFY(anchorFile.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(pageFile.readAll());
    const QStringList expected = QString::fromUtf8(anchorFile.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(expected.size() > 100);

    QHash<QString, int> found; // "href<TAB>text" -> how often, of every link
    QHash<QString, int> plain; // the same of the pattern's matches alone
    LinkScanner::scanLinks(page, [&](const LinkScanner::Match& m) {
        const QString key = Tools::hrefValue(m.href) + u'\t' + Tools::displayText(m.text).simplified();
        found[key] += 1;
        plain[key] += m.markup ? 0 : 1;
    });
    // How many expected anchors the links cover, each link counted once; the ones not covered go to missed.
    const auto covered = [&expected](QHash<QString, int> links, QStringList* missed) {
        int seen = 0;
        for (const QString& anchor : expected) {
            int& count = links[anchor];
            if (count > 0) {
                --count;
                ++seen;
            } else if (missed) {
                missed->append(anchor);
            }
        }
        return seen;
    };
    QStringList missed;
    const int seen = covered(found, &missed);
    qInfo("%s: %d of %lld anchors found with their text (%.1f%%), %d by the pattern alone", qPrintable(name), seen,
          qlonglong(expected.size()), 100.0 * seen / double(expected.size()), covered(plain, nullptr));
    QVERIFY2(seen >= 0.97 * double(expected.size()), qPrintable(missed.join(u'\n')));

    // Regions of a real page: read from the tree where it can, they find what the region written back finds.
    int fromTree = 0;
    const QStringList regions = {"body",    "main", "header",      "nav",       "footer", "article",
                                 "section", "ul",   "li",          "div",       "p",      "h2 a, h3 a",
                                 "a",       "//a",  "//*[@class]", "div > div", "aside"};
    for (const QString& region : regions)
        RegionWays::compare(page, region, &fromTree);
    qInfo("%s: %d of %lld regions read from the tree", qPrintable(name), fromTree, qlonglong(regions.size()));
}

void TestLinkScanner::linkResolverAgreesWithQUrl_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("value");
    // Lists separated by '|', so a value may be empty or hold blanks.
    const QStringList bases = QString("http://h:8080/news/index.html|https://k.example/a/b/?q=1#top|http://h|"
                                      "http://u:p@h:81/a/b|http://h/a/../b/./c|http://127.0.0.1:8080/x/|"
                                      "file:///tmp/x.html|http://xn--bcher-kva.example/dir/|http://h/a%7e/b%20c/d")
                                  .split(u'|');
    const QStringList values =
        QString("|#|?|#top|?a=1&b=2|?a=1#f|x|news/1.html|./x|../x|..|.|a/../b|/x|/x/./y|/x/../y|/x/.|/x/..|"
                "/.well-known/x|x/./y|//other/x|//other|https://k/x|https://k|http://h?q|http://h#f|http://H/x|"
                "HTTP://h/x|Http://h/x|http://h:80/x|http://h:/x|http://h:0080/x|http://h:65535/x|http://h:65536/x|"
                "http://h:8a/x|http://127.1/x|http://1.2.3.4/x|http://256.2.3.4/x|http://01.2.3.4/|http://0x7f.1/|"
                "http://a.0x10/|http://a.10/|http://a..b/x|http://-a.b/|http://a-.b/|http://a--b.c/|"
                "http://xn--bcher-kva.ch/|http://bücher.ch/x|http://a_b.c/|http://a.b./x|http://[::1]:8/x|"
                "http://u@h/x|http:x|http:/x|https:|/a b|a b|/ä|ä|?ä|#ä|/a%20b|/a%7e|/a%|javascript:void(0)|"
                "mailto:a@b.c|tel:+1|data:text/html,x|ftp://h/x|x:y|a:b/c|/a:b|?a:b|#a#b|/a#b#c|/a?b?c|/a\\b|/a[b]|"
                "/a'b(c)*!$,;=+@~_-|hello.html|h|/|?/..|#/../x")
            .split(u'|');
    for (const QString& base : bases) {
        for (const QString& value : values)
            QTest::addRow("%s <- %s", qPrintable(base), qPrintable(value)) << base << value;
    }
    // Every printable ASCII character in each part of a link, relative and absolute.
    for (char16_t c = 0x20; c < 0x7f; ++c) {
        const QString ch(QChar{c});
        for (const char* form : {"/a%1b", "a%1b", "?a%1b", "#a%1b", "http://h%1x/", "http://h/%1", "%1"}) {
            for (const QString& base : {bases[0], bases[2]})
                QTest::addRow("%s <- %s", qPrintable(base), qPrintable(QString(form).arg(ch)))
                    << base << QString(form).arg(ch);
        }
    }
}

// The resolver takes a shortcut for the common forms; whatever the form, it must form the link QUrl forms.
void TestLinkScanner::linkResolverAgreesWithQUrl()
{
    QFETCH(QString, base);
    QFETCH(QString, value);
    const Tools::LinkResolver resolver{QUrl(base)};
    QCOMPARE(resolver.resolve(value), QUrl(base).resolved(QUrl(value)).toString(QUrl::FullyEncoded));
    if (!value.contains(u'"') && !value.contains(u'&')) {
        const QString capture = " \"" + value + "\" class=x";
        QCOMPARE(resolver(capture), Tools::absoluteLink(QUrl(base), capture));
    }
}

QTEST_GUILESS_MAIN(TestLinkScanner)
#include "tst_linkscanner.moc"
