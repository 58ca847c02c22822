// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/pageregion.h"
#include "engine/matching/readingbudget.h"

#include "tests/engine/regionways.h"

#include <QRegularExpression>
#include <QTest>

namespace {
// Every element that a selector may be asked to pick carries an id; the page has no line breaks, so each line
// of a selection is one selected element.
const QString Page = QStringLiteral(
    "<html><head><title>Jobs</title></head><body>"
    "<nav id='nav' class='menu top'><a id='n1' href='/a'>Engineer jobs</a><a id='n2' href='/b' rel='next'>More</a>"
    "</nav>"
    "<main id='main'><ul id='list' class='listing'>"
    "<li id='l1' class='job new'><a id='j1' href='/j/1' data-k='alpha-beta'>Engineer</a></li>"
    "<li id='l2' class='job'><a id='j2' href='https://x.test/j/2' lang='en-GB'>Senior engineer</a></li>"
    "<li id='l3' class='jobs'><p id='p3'>x</p><a id='j3' href='/j/3.pdf'>Engineer &amp; lead</a></li>"
    "<li id='l4' class='job'><A ID='j4' HREF='/j/4' title='say \"hi\" it&apos;s'>Engineer 4</A></li>"
    "</ul></main>"
    "<footer id='foot'><div id='d1'><span id='s1'>a</span><span id='s2'>b</span><b id='b1'>c</b></div>"
    "<a id='f1' href='/careers'>Engineer careers</a></footer>"
    "</body></html>");

// Regions with the outermost elements they select on Page, in page order.
struct Selector
{
    const char* region;
    const char* ids;
};
const Selector Selectors[] = {
    {"main", "main"},
    {"UL", "list"},
    {"*", ""}, // the html element, which has no id: one line
    {"#list", "list"},
    {".job", "l1 l2 l4"},
    {".job.new", "l1"},
    {"li.jobs", "l3"},
    {"[rel]", "n2"},
    {"a[href='/j/1']", "j1"},
    {"[href=\"/j/3.pdf\"]", "j3"},
    {"nav[class~=top]", "nav"},
    {"[class~=me]", ""},
    {"a[href^=https]", "j2"},
    {"a[href$='.pdf']", "j3"},
    {"a[href*='/j/']", "j1 j2 j3 j4"},
    {"[data-k*=a-b]", "j1"},
    {"[title='say \"hi\" it\\'s']", "j4"},
    {"main a", "j1 j2 j3 j4"},
    {"ul > li > a", "j1 j2 j3 j4"},
    {"main > a", ""},
    {"body>footer a", "f1"},
    {"p + a", "j3"},
    {"#l1 + li", "l2"},
    {"#l1 ~ li", "l2 l3 l4"},
    {"#s1 ~ *", "s2 b1"},
    {"nav, footer", "nav foot"},
    {"footer ,#list", "list foot"},
    {"li:first-child", "l1"},
    {"li:last-child", "l4"},
    {"li:nth-child(2)", "l2"},
    {"li:nth-child( 3 )", "l3"},
    {"li:nth-child(4)", "l4"},
    {"li:nth-child(5)", ""},
    {"div :first-child", "s1"},
    {"main *", "list"}, // its items lie inside the list, written once with it
    {"li a, ul", "list"},
    {"//nav", "nav"},
    {"//li[2]/a", "j2"},
    {"(//a)[last()]", "f1"},
    {"/html/body/footer/div", "d1"},
    {"//nav/@href", ""}, // attributes are no elements
    {"section", ""},
};

// Pages made to cost a region's reading dear, with the anchors in the selection; -1: the work is stopped with a reason.
struct HostileRegion
{
    const char* name;
    QString page;
    QString region;
    int links;
};

// `share` divides every count: the differential below needs the shapes of these pages, not their size.
QList<HostileRegion> hostileRegions(int share = 1)
{
    const QString link = QStringLiteral("<a href='/x'>t</a>");
    const QString item = QStringLiteral("<li class=j>%1 %2</li>").arg(link, QString(200, u'w'));
    const int items = 32 * 1024 * 1024 / int(item.size()) / share;
    return {
        {"100,000 nested divs", QStringLiteral("<div>").repeated(100000 / share) + link, "div a", 0},
        {"nested divs, then a list",
         QStringLiteral("<div>").repeated(100000 / share) + "</div>" + "<ul><li>" + link + "</li></ul>", "ul", 0},
        // Each anchor nests in the one before; libxml2 stops reading at its depth bound of 256.
        {"unclosed anchors", QStringLiteral("<li><a href='/x'>t").repeated(20000 / share), "li", 127},
        {"unclosed items", QStringLiteral("<li><a href='/x'>t</a>").repeated(20000 / share), "li", 20000 / share},
        {"attributes never closed", "<ul><li class='" + QString(1000000 / share, u'x'), "li", 0},
        {"the 3rd and the last of 200,000 items",
         "<ul>" + QStringLiteral("<li>%1</li>").arg(link).repeated(200000 / share) + "</ul>",
         "ul > li:nth-child(3) a, li:last-child", 2},
        {"nested divs under a descendant chain",
         QStringLiteral("<div><div>").repeated(100) + link + QStringLiteral("</div></div>").repeated(100),
         "div div div div a", 1},
        {"32 MiB of list items", "<ul>" + item.repeated(items), "ul .j", items},
        {"a flat page of 200,000 spans, each with all before it",
         QStringLiteral("<span>s</span>").repeated(200000 / share) + link, "span ~ span ~ span ~ a", -1},
    };
}

QStringList selectedIds(const PageRegion::Selection& selection)
{
    static const QRegularExpression id(QStringLiteral("^<[a-z]+[^>]*? id=\"([^\"]+)\""));
    QStringList ids;
    for (const QString& line : selection.html.split(u'\n', Qt::SkipEmptyParts))
        ids.append(id.match(line).captured(1));
    return ids;
}
} // namespace

class TestPageRegion : public QObject
{
    Q_OBJECT

private slots:
    void selects_data();
    void selects();
    void refused_data();
    void refused();
    void hostile_data();
    void hostile();
    void budgeted_data();
    void budgeted();
    void keepsTheBaseAndTheText();
    void treeAgreesWithWrittenBack_data();
    void treeAgreesWithWrittenBack();
    void walkAgreesWithXPath_data();
    void walkAgreesWithXPath();
};

void TestPageRegion::selects_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<QStringList>("ids"); // the outermost selected elements, in page order

    for (const Selector& selector : Selectors) {
        QTest::addRow("%s", selector.region)
            << QString::fromUtf8(selector.region) << QString::fromLatin1(selector.ids).split(u' ', Qt::SkipEmptyParts);
    }
}

void TestPageRegion::selects()
{
    QFETCH(QString, region);
    QFETCH(QStringList, ids);
    QCOMPARE(PageRegion::problem(region), QString());
    const PageRegion::Selection selection = PageRegion::select(Page, region);
    QCOMPARE(selection.error, QString());
    if (region == u"*") {
        QVERIFY(selection.html.startsWith(QStringLiteral("<html>")));
        QCOMPARE(selection.html.count(u'\n'), 1);
        return;
    }
    QCOMPARE(selection.matched, !ids.isEmpty());
    QCOMPARE(selectedIds(selection), ids);
}

void TestPageRegion::refused_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("problem"); // how the reason begins

    QTest::addRow("open attribute") << "a[href"
                                    << "the selector ends too early";
    QTest::addRow("attribute without name") << "a[='x']"
                                            << "the selector does not parse at character 3";
    QTest::addRow("unknown operator") << "a[href|=en]"
                                      << "the selector does not parse at character 7";
    QTest::addRow("open quote") << "a[href='x]"
                                << "a quoted value";
    QTest::addRow("dangling combinator") << "ul >"
                                         << "the selector ends too early";
    QTest::addRow("two combinators") << "ul > > li"
                                     << "the selector does not parse at character 6";
    QTest::addRow("empty group member") << "ul,,li"
                                        << "the selector does not parse at character 4";
    QTest::addRow("leading comma") << ", li"
                                   << "the selector does not parse at character 1";
    QTest::addRow("pseudo-class") << "a:hover"
                                  << "the selector uses \":hover\"";
    QTest::addRow("pseudo-element") << "p::before"
                                    << "the selector uses \"::\"";
    QTest::addRow("nth-child 0") << "li:nth-child(0)"
                                 << "\":nth-child\" takes";
    QTest::addRow("nth-child formula") << "li:nth-child(2n+1)"
                                       << "\":nth-child\" takes";
    QTest::addRow("empty class") << "li."
                                 << "the selector ends too early";
    QTest::addRow("stray character") << "li!"
                                     << "the selector does not parse at character 3";
    QTest::addRow("XPath syntax") << "//ul[@id="
                                  << "the XPath expression does not parse";
    QTest::addRow("XPath unknown axis") << "/nowhere::a"
                                        << "the XPath expression does not parse";
    QTest::addRow("too long") << QString(PageRegion::MaxLength + 1, u'a') << "longer than 1000";
    QTest::addRow("XPath union in brackets") << "//li[.//a | .//b]"
                                             << "the XPath expression joins node sets with \"|\"";
}

void TestPageRegion::refused()
{
    QFETCH(QString, region);
    QFETCH(QString, problem);
    const QString why = PageRegion::problem(region);
    QVERIFY2(why.startsWith(problem), qPrintable(why));
    if (region.size() <= PageRegion::MaxLength) {
        const PageRegion::Selection selection = PageRegion::select(Page, region);
        QVERIFY(!selection.matched);
        QVERIFY(selection.html.isEmpty());
    }
}

void TestPageRegion::hostile_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("region");
    QTest::addColumn<int>("links"); // anchors in the selection; -1: the work was stopped with a reason
    for (const HostileRegion& hostile : hostileRegions())
        QTest::addRow("%s", hostile.name) << hostile.page << hostile.region << hostile.links;
}

// Whatever the page, the selection ends in time linear in it (no timing here: bench_linkscan measures it)
// with the links of the region written once each, or stops with a reason.
void TestPageRegion::hostile()
{
    QFETCH(QString, page);
    QFETCH(QString, region);
    QFETCH(int, links);
    // Time is bench_linkscan's to measure: here a budget of time no build runs out of, the program's memory.
    const ReadingBudget budget({3600'000'000'000LL, ReadingLimits::DefaultMemoryBytes});
    const PageRegion::Selection selection = PageRegion::select(page, region);
    if (links < 0) {
        QVERIFY(!selection.matched);
        QVERIFY2(!selection.error.isEmpty(), "stopped without a reason");
        return;
    }
    QCOMPARE(selection.html.count(QStringLiteral("<a href")), links);
    QVERIFY(selection.html.size() <= 2 * page.size() + 1);
}

void TestPageRegion::budgeted_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("region");
    QTest::addColumn<qint64>("memory"); // the budget's memory beyond the page; its time is 100 ms of CPU to stop in
    QTest::addColumn<QString>("error"); // how the reason begins; empty: the region is read whole
    const QString words = QStringLiteral("<p>%1 words of text</p>").repeated(8000).arg(u'w');
    const QString page = "<html><body>" + words + "<a href=/x>t</a></body></html>";
    const QString tooLong = QStringLiteral("the region took too long to evaluate");
    const qint64 plenty = ReadingLimits::DefaultMemoryBytes;
    // Functions over the whole document, for every element.
    for (const char* region :
         {"//*[string-length(/) > 0]", "//*[contains(string(/), 'zz')]", "//*[normalize-space(/) = 'x']",
          "//*[translate(/, 'wordsx', 'WORDSy') = 'x']", "//*[substring-after(/, 'w') = 'x']"})
        QTest::addRow("%s", region) << page << region << plenty << tooLong;
    QTest::addRow("id of the whole document") << page << "//*[id(string(/))]" << plenty << tooLong;
    QTest::addRow("100-fold union") << page << "(" + QStringList(100, QStringLiteral("//a")).join(u'|') + ")" << plenty
                                    << "";
    QTest::addRow("union in a predicate")
        << page << "//*[count(//*|//*) > 0]" << plenty << "the XPath expression joins";
    QTest::addRow("499 groups") << page << QStringList(499, QStringLiteral("*")).join(u',') << plenty << tooLong;
    // A group is left to XPath, whose normalize-space() copies each class again for every ancestor tried.
    QTest::addRow("nested classes of 4,000 characters")
        << QStringLiteral("<div class='%1 a'>").arg(QString(4000, u'c')).repeated(250) + "<a href=/x>t</a>"
        << ".a .a .a, .z" << plenty << tooLong;
    // Walked: every choice of five ancestors of every div is tried before the missing one on the left fails.
    QTest::addRow("descendant chain failing at its left") << QStringLiteral("<div>").repeated(250) + "<a href=/x>t</a>"
                                                          << ".q div div div div div" << plenty << tooLong;
    // libxml2 merges each element's descendants into the set of those before it, a loop that neither allocates
    // nor takes an XPath step: the CPU timer stops it.
    const QString nested =
        (QStringLiteral("<div>").repeated(200) + QStringLiteral("</div>").repeated(200)).repeated(100);
    QTest::addRow("descendants of descendants") << nested << "//div//div//div" << plenty << tooLong;
    QTest::addRow("tree past the memory")
        << page << "p" << qint64(64 * 1024) << "the region took too much memory to evaluate";
    const QString anchors = QStringLiteral("<p><a href=\"/x\">words of text</a></p>").repeated(8000);
    QTest::addRow("links read from the text past the memory")
        << "<html><body>" + anchors + "</body></html>"
        << "p" << qint64(64 * 1024) << "the region took too much memory to evaluate";
}

// A region whose reading would run past its budget stops with the reason, whether the work is in the parser, in
// libxml2's XPath or in the functions read here; a region within it is read whole.
void TestPageRegion::budgeted()
{
    QFETCH(QString, page);
    QFETCH(QString, region);
    QFETCH(qint64, memory);
    QFETCH(QString, error);
    // A region to be read whole gets time no build runs out of: how long it takes is bench_linkscan's to say.
    const ReadingBudget budget({error.isEmpty() ? 3600'000'000'000LL : 100'000'000, memory});
    const PageRegion::Links links(page, region);
    QVERIFY2(error.isEmpty() ? links.error().isEmpty() : links.error().startsWith(error), qPrintable(links.error()));
    QCOMPARE(links.matched(), error.isEmpty());
    if (error.startsWith(u"the XPath"))
        QVERIFY(PageRegion::problem(region).startsWith(error));
    else
        QVERIFY2(PageRegion::problem(region).isEmpty(), qPrintable(PageRegion::problem(region)));
}

void TestPageRegion::keepsTheBaseAndTheText()
{
    const PageRegion::Selection selection = PageRegion::select(
        QStringLiteral("<head><base href='http://b.test/d/'><base href='/no'></head><body><p>\u00e9t\u00e9 &lt;"
                       "<a href=x?a=1&amp;b=2>Caf\u00e9 &amp; news</a></p></body>"),
        QStringLiteral("p"));
    QCOMPARE(selection.html, QStringLiteral("<base href=\"http://b.test/d/\">\n<p>\u00e9t\u00e9 &lt;<a "
                                            "href=\"x?a=1&amp;b=2\">Caf\u00e9 &amp; news</a></p>\n"));
}

void TestPageRegion::treeAgreesWithWrittenBack_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("region");
    QTest::addColumn<int>("tree"); // 1: the links are read from the tree, 0: from the region written back, -1: either

    for (const Selector& selector : Selectors)
        QTest::addRow("selector %s", selector.region) << Page << QString::fromUtf8(selector.region) << 1;
    for (const HostileRegion& hostile : hostileRegions(20))
        QTest::addRow("hostile %s, a twentieth", hostile.name) << hostile.page << hostile.region << -1;
    const auto row = [](const char* name, const QString& page, int tree) {
        QTest::addRow("%s", name) << "<html><head><base href='/b/'></head><body>" + page << "div" << tree;
    };
    row("references, blanks and capitals",
        "<div><a HREF=' /a b?x=1&amp;y=\u00e9|'>Caf\u00e9 &amp; &lt;b&gt; \r\n news</a><A "
        "href=\"/m\"><span>Deep</span> "
        "&amp; <i>marked</i>&nbsp;up\r</A></div>",
        1);
    row("empty, valueless and quoted hrefs",
        "<div><a href=\"\">e</a><a href>b</a><a href=/x></a><a href=/y><img src=i></a><a href='/q\"x'>q</a></div>", 1);
    row("unclosed items", "<div><ul><li><a href=/1>one</a><li><a href=/2><b>two</b></a><li>three</ul></div>", 1);
    row("unclosed anchors", "<div><ul><li><a href=/1>one<li><a href=/2><b>two</b><li>three</ul></div>", 0);
    row("anchor without href around markup", "<div><a name=n><b>x</b></a><a href=/k><em>k</em></a></div>", 1);
    row("comment and empty script in an anchor",
        "<div><a href=/c><!-- note -->Text<br><script src=s></script></a><!-- x --></div>", 1);
    row("commented-out anchor", "<div><!-- <a href=\"/old\">Old</a> --><a href=/n>New</a></div>", 0);
    row("script writing an anchor", "<div><script>document.write('<a href=\"/w\">W</a>')</script></div>", 0);
    row("style", "<div><style>a{}</style><a href=/s><b>s</b></a></div>", 0);
    row("data-href", "<div><a data-href=\"/d\" href=\"/h\">t</a><span data-href=/e>s</span></div>", 0);
    row("href= in a value", "<div><a title=\"href=/t>\" href=\"/h\">t</a></div>", 0);
    row("href of an image in an anchor", "<div><a href=/p><img src=i href=/q>caption</a></div>", 0);
    row("a base inside the region", "<div><base href=/in/><a href=x>t</a></div>", 0);
    row("anchor inside an anchor", "<div><a href=/o><div><a href=/i>x</a></div></a></div>", 0);
    row("anchor content near the scan's bound",
        "<div><a href=/l><b>x</b>" + QString(LinkScanner::MaxAnchorContent / 2, u'y') + "</a></div>", 0);
    row("start tag near the scan's bound",
        "<div><a href=/t title='" + QString(LinkScanner::MaxTagLength / 2, u'x') + "'>t</a></div>", 0);
}

void TestPageRegion::treeAgreesWithWrittenBack()
{
    QFETCH(QString, page);
    QFETCH(QString, region);
    QFETCH(int, tree);
    int fromTree = 0;
    RegionWays::compare(page, region, &fromTree);
    if (tree >= 0 && PageRegion::Links(page, region).matched())
        QCOMPARE(fromTree, tree);
}

void TestPageRegion::walkAgreesWithXPath_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("region"); // a CSS selector, or an XPath expression of one name
    // XPath expressions but those of one name are evaluated both ways.
    const auto walked = [](const QString& region) {
        static const QRegularExpression oneName(QStringLiteral("^//[a-z]+$"));
        return !region.startsWith(u'(') && (!region.startsWith(u'/') || oneName.match(region).hasMatch());
    };
    for (const Selector& selector : Selectors) {
        if (walked(QString::fromUtf8(selector.region)))
            QTest::addRow("selector %s", selector.region) << Page << QString::fromUtf8(selector.region);
    }
    for (const HostileRegion& hostile : hostileRegions(20))
        QTest::addRow("hostile %s, a twentieth", hostile.name) << hostile.page << hostile.region;
    const QString page = QStringLiteral(
        "<!-- first --><html><head><title>t</title></head><body>"
        "<div id=d1 class='a\tb\nc\rd  e'><div id=d2 class=' b '><p id=p1 class=ab><a href=/1>one</a></p></div>"
        "<P ID=p2 CLASS='x y'><a href=/2>two</a></P><p id=p3 class><a href=/3>three</a></p><p id>e</p></div>"
        "<section><div id=d3 class='x-y_1'><span id='s 1'>s</span></div></section>"
        "<base href=/late/><div class=b><a href=x>t</a></div></body></html><!-- last -->");
    for (const char* region : {"div",
                               "DIV",
                               "//div",
                               "//DIV",
                               "//p",
                               "#d2",
                               "#p2",
                               "#P2",
                               ".a",
                               ".b",
                               ".c",
                               ".d",
                               ".e",
                               ".ab",
                               ".x.y",
                               "p.x.y",
                               "#p2.x",
                               "*#p2",
                               ".b p",
                               ".b > p",
                               "div > div > p",
                               "div div p",
                               "html > body",
                               "* > html",
                               "* html",
                               "html",
                               "body > * > *",
                               "section *",
                               "div .x-y_1",
                               "#none",
                               "  p \t a ",
                               "div>p>a",
                               "a",
                               "base",
                               "head title",
                               "p p",
                               "div p a, section"})
        QTest::addRow("page of blanks and cases: %s", region) << page << QString::fromLatin1(region);
    // Elements the parser adds, moves or keeps where a browser would not: implied tbody, foreign and template
    // content, nested forms, markup after the end of the html element.
    const QString built = QStringLiteral(
        "<html><body><table id=t><tr class='r&#9;odd'><td id=c1>1</td></tr></table>"
        "<svg id=g><a href=/svg class=k>svg</a></svg><template id=tp><p class=k>in template</p></template>"
        "<form id=f1><form id=f2><p class=k>x</p></form></form><p id=A>up</p><p id=a>low</p></body></html>"
        "<p class=k id=after><a href=/after>after the end</a></p>");
    for (const char* region : {"tbody",        "table > tbody > tr",
                               "table > tr",   ".odd",
                               "tr.r",         "svg a",
                               "svg > a",      ".k",
                               "template p",   "form form",
                               "form p",       "#A",
                               "#a",           "body > p",
                               "html > p",     "p#after",
                               "td",           "body *",
                               "body > * > a", "//tbody",
                               "//a"})
        QTest::addRow("built page: %s", region) << built << QString::fromLatin1(region);
}

// A region the tree is walked for selects what the XPath expression it stands for selects (the same expression in
// parentheses, which is left to XPath), with the page's base element, or stops with the same reason.
void TestPageRegion::walkAgreesWithXPath()
{
    QFETCH(QString, page);
    QFETCH(QString, region);
    const QString xpath = region.startsWith(u'/') ? region : PageRegion::xpathOf(region);
    QVERIFY(!xpath.isEmpty());
    const PageRegion::Selection walked = PageRegion::select(page, region);
    const PageRegion::Selection evaluated = PageRegion::select(page, u'(' + xpath + u')');
    QCOMPARE(walked.matched, evaluated.matched);
    QCOMPARE(walked.error, evaluated.error);
    QCOMPARE(walked.html, evaluated.html);
}

QTEST_GUILESS_MAIN(TestPageRegion)
#include "tst_pageregion.moc"
