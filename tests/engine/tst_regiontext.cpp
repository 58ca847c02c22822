// SPDX-License-Identifier: GPL-3.0-or-later
// A simple region read from the page's text, against the same region read from the page's tree.
#include "engine/matching/pageregion.h"

#include "tests/engine/regionways.h"

#include <QRandomGenerator>
#include <QTest>

class TestRegionText : public QObject
{
    Q_OBJECT

private slots:
    void textAgreesWithTree_data();
    void textAgreesWithTree();
    void textReadingStops();
    void namesLearntAfresh();
};

void TestRegionText::textAgreesWithTree_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("region");
    QTest::addColumn<int>("text"); // 1: the links are read from the page's text, 0: from the tree, -1: either

    const QString plain = QStringLiteral(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\"><html><head><meta charset=\"utf-8\"><title>T</title>"
        "<script>var s = '<a href=\"/s\">s</a><li>';</script><STYLE>li{}</STYLE><!-- head --></head>\n<body>\n"
        "<ul id=\"u\" class=\"list main\"><li class=\"job new\"><a href=\"/j/1\">Engineer one</a></li>\n"
        "<li class='job'><a class=\"k\" href=\"https://x.test/j/2?x=1;y=(2)#f\">Senior caf\u00e9 \U0001F600</a><br/>"
        "<img src=\"i.png\" alt=\"a > b\"></li><li><a href=\"/e\"></a></li></ul>\n<div><p><span>t</span>"
        "<a href=\"/p\">In p</a></p><a name=\"n\"><b>x</b></a><table><tr><td><a href=\"/td\">cell</a></td></tr>"
        "</table></div><A HREF=\"/up\">Up</A></body>\n</html>\n");
    for (const char* region : {"li", "ul > li", ".job", ".job.new", "#u li", "li a", "div", "body > ul", "body *",
                               "div p", "p > a", "//li", "a", "a.k", "td", "#none", "head title", "ul li > a"})
        QTest::addRow("plain page: %s", region) << plain << QString::fromLatin1(region) << 1;
    // The html element holds the head's script, which the tree reads as it stands.
    QTest::addRow("plain page: html, with the script") << plain << "html" << 0;

    // Pages whose tree is not their markup as written, or whose links the tree reads otherwise: left to the tree.
    const auto row = [](const char* name, const QString& body, const char* region, int text = 0) {
        QTest::addRow("%s", name) << "<html><head></head><body>" + body + "</body></html>"
                                  << QString::fromLatin1(region) << text;
    };
    row("unclosed items", "<ul><li><a href=\"/1\">1</a><li><a href=\"/2\">2</a></ul>", "li");
    row("a paragraph closed by a div", "<p><a href=\"/1\">1</a><div><a href=\"/2\">2</a></div></p>", "p");
    row("end tags crossed", "<div><span><a href=\"/1\">1</a></div></span>", "div");
    row("reference in a link's text", "<li><a href=\"/1\">Q&amp;A</a></li>", "li");
    row("reference in a class", "<li class=\"a&#32;b\"><a href=\"/1\">1</a></li>", ".b");
    row("bare attribute value", "<li><a href=/1>1</a></li>", "li");
    row("markup in an anchor", "<li><a href=\"/1\"><b>bold</b> text</a></li>", "li");
    row("blank anchor text", "<li><a href=\"/1\"> </a></li>", "li");
    row("href to be escaped", "<li><a href=\"/a b/caf\u00e9\">1</a></li>", "li");
    row("carriage return", "<li><a href=\"/1\">one\r\ntwo</a></li>", "li");
    row("lone surrogate", "<li><a href=\"/1\">x" + QString(QChar(0xD800)) + "</a></li>", "li");
    row("comment holding an anchor", "<li><!-- <a href=\"/old\">old</a> --><a href=\"/1\">1</a></li>", "li");
    row("script in the region", "<li><script>x()</script><a href=\"/1\">1</a></li>", "li");
    row("base element", "<base href=\"/b/\"><li><a href=\"x\">1</a></li>", "li");
    row("anchor in an anchor", "<li><a name=\"o\"><a href=\"/1\">1</a></a></li>", "li");
    row("data-href", "<li><a data-href=\"/d\" href=\"/1\">1</a></li>", "li");
    row("href= in a title", "<li><a title=\"href=/t\" href=\"/1\">1</a></li>", "li");
    row("the same attribute twice", "<li class=\"a\" class=\"b\"><a href=\"/1\">1</a></li>", ".b");
    row("empty element written as closed", "<li><div/><a href=\"/1\">1</a></li>", "li");
    row("a second body", "<body class=\"b\"><li><a href=\"/1\">1</a></li>", "li");
    row("tag never ended", "<li><a href=\"/1\">1</a></li><li class=\"x", "li");
    row("textarea", "<li><textarea><a href=\"/t\">t</a></textarea><a href=\"/1\">1</a></li>", "li");
    row("blanks around =", "<li class = \"c\"><a href=\"/1\">1</a></li>", ".c");
    row("300 nested divs", QStringLiteral("<div>").repeated(300) + "<a href=\"/1\">1</a>", "div");
    row("processing instruction", "<?php echo 1 ?><li><a href=\"/1\">1</a></li>", "li");
    // The head as libxml2 reads it: script and style content up to their own end tag, void elements, comments.
    const auto headed = [](const char* name, const QString& head, int text) {
        QTest::addRow("%s", name) << "<!doctype html><html><head>" + head +
                                         "</head><body><li><a href=\"/1\">Item</a></li></body></html>"
                                  << "li" << text;
    };
    headed("script with end tags of others", "<script>if (a</b) s = '</scr' + 'ipt>';</script>", 1);
    headed("style ended in capitals", "<style>li { x: '</li>' }</STYLE>", 1);
    headed("script never ended", "<script>var s = 1;", 0);
    headed("script end tag with more", "<script>x()</script >", 0);
    headed("void elements, closed or not", "<meta charset=\"utf-8\"><link rel=\"a\" href=\"/s.css\"/><title>T</title>",
           1);
    headed("text in the head", "<title>T</title>stray", 0);
    headed("comment with dashes", "<!-- a -- b -->", 0);
    QTest::addRow("document type quoting a >")
        << "<!DOCTYPE html SYSTEM \"a>b\"><html><body><li><a href=\"/1\">Item</a></li></body></html>"
        << "li" << 1;
    QTest::addRow("href in single quotes") << "<html><body><li><a href='/s?q=1;r=(2)'>Item</a></li></body></html>"
                                           << "li" << 1;
    QTest::addRow("href in single quotes holding a double one")
        << "<html><body><li><a href='/s\"q'>Item</a></li></body></html>"
        << "li" << 0;
    // More element names, or more pairs of them, than a reading learns of libxml2: left to the tree.
    QString names;
    for (int n = 0; n < 300; ++n)
        names += QStringLiteral("<x%1></x%1>").arg(n);
    QTest::addRow("300 element names") << "<html><body>" + names + "<li><a href=\"/1\">Item</a></li></body></html>"
                                       << "li" << 0;
    QString pairs;
    for (int n = 0; n < 70; ++n)
        pairs += QStringLiteral("<div><p%1></p%1></div>").arg(n);
    QTest::addRow("70 pairs of names") << "<html><body>" + pairs + "<li><a href=\"/1\">Item</a></li></body></html>"
                                       << "li" << -1;
    QTest::addRow("no html element") << "<li><a href=\"/1\">1</a></li>"
                                     << "li" << 0;
    QTest::addRow("text before the body") << "<html>hi<body><li><a href=\"/1\">1</a></li></body></html>"
                                          << "li" << 0;
    QTest::addRow("an item after the body") << "<html><body></body><li><a href=\"/1\">1</a></li></html>"
                                            << "li" << 0;
    QTest::addRow("capitals, no head, no end tags") << "<HTML><BODY><UL><LI><A HREF=\"/1\">One</A></LI>"
                                                    << "ul" << 1;
    // Elements libxml2 closes or keeps open by its own table, each asked of it.
    for (const char* pair : {"<p><p>", "<dt><dd>", "<option><option>", "<tr><tr>", "<td><td>", "<h1><h2>", "<b><p>",
                             "<span><div>", "<form><form>", "<li><ul>", "<table><tr>", "<select><option>"})
        row(pair, QString::fromLatin1(pair) + "<a href=\"/1\">1</a>", "body > *", -1);
    // Pages made from random pieces: every third one with faults the tree reads otherwise than written (left to it),
    // the others plain (read from the text).
    for (quint32 seed = 1; seed <= 60; ++seed) {
        QRandomGenerator random(seed);
        const bool faults = seed % 3 == 0;
        const auto pick = [&random](std::initializer_list<const char*> from) {
            return QString::fromLatin1(*(from.begin() + random.bounded(int(from.size()))));
        };
        QString body;
        QStringList open;
        for (int piece = 0; piece < 60; ++piece) {
            const int what = random.bounded(100);
            const QString top = open.isEmpty() ? QString() : open.last().toLower();
            if (what < 30 && open.size() < 8 && top != u"span") {
                // Items only in lists, spans only around text and anchors: nothing libxml2 closes on its own.
                const QString name = top == u"ul" ? pick({"li", "LI"}) : pick({"div", "ul", "span", "section", "DIV"});
                body += u'<' + name;
                if (random.bounded(2))
                    body += QStringLiteral(" class=\"%1\"").arg(pick({"c1", "c2", "c1 c2", "x"}));
                if (random.bounded(3) == 0)
                    body += QStringLiteral(" id='i%1'").arg(random.bounded(4));
                body += u'>';
                open.append(name);
            } else if (what < 50 && !open.isEmpty()) {
                body += "</" + open.takeLast() + u'>';
            } else if (what < 75 && top != u"ul") {
                body += QStringLiteral("<a href=\"/l%1?q=%2\">%3</a>")
                            .arg(piece)
                            .arg(seed)
                            .arg(pick({"Item one", "item \u00e9t\u00e9", "", "x"}));
            } else if (what < 85 && top != u"ul") {
                body += pick(
                    {"<br>", "<img src=\"i\" alt='a'>", "<hr/>", "text ", "\n", "<!-- note -->", "<A HREF='/q'>Q</A>"});
            } else if (what < 90 && faults) {
                body += pick({"<p>", "</span>", "<li>", "<a name=\"n\">", "<a href=/bare>bare</a>", "<b>&amp;</b>",
                              "<a href=\"/x\">a > b</a>"});
            }
        }
        while (!open.isEmpty() && random.bounded(4))
            body += "</" + open.takeLast() + u'>';
        // Left open at the end of the page, libxml2 closes them; written before an end tag, it would have to.
        const QString page = "<html><head><title>t</title></head><body>" + body +
                             (open.isEmpty() ? QStringLiteral("</body></html>") : QString());
        for (const char* region : {"li", "div span", ".c1", "#i2 a", "ul > li", "body > *", "span"})
            QTest::addRow("random page %u: %s", seed, region)
                << page << QString::fromLatin1(region) << (faults ? -1 : 1);
    }
}

// A simple region read from the page's text gives what the tree gives, written back and scanned; a page it cannot
// read so is left to the tree.
void TestRegionText::textAgreesWithTree()
{
    QFETCH(QString, page);
    QFETCH(QString, region);
    QFETCH(int, text);
    RegionWays::compare(page, region);
    if (text >= 0)
        QCOMPARE(PageRegion::Links(page, region).fromText(), text == 1);
}

// A reading from the text that is told to stop ends with the reason the tree's reading gives.
void TestRegionText::textReadingStops()
{
    const QString page =
        "<html><body>" + QStringLiteral("<li><a href=\"/x\">Item</a></li>").repeated(3000) + "</body></html>";
    QVERIFY(PageRegion::Links(page, QStringLiteral("li")).fromText());
    const PageRegion::Links stopped(page, QStringLiteral("li"), [] { return false; });
    QVERIFY(stopped.fromText());
    QVERIFY(!stopped.matched());
    QCOMPARE(stopped.error(), QStringLiteral("the region took too long to evaluate"));
    int links = 0;
    stopped.scan([&links](const LinkScanner::Match&) { ++links; });
    QCOMPARE(links, 0);
}

// A page of more element names than a reading learns is left to the tree, and leaves later pages of other names to
// be read from the text.
void TestRegionText::namesLearntAfresh()
{
    const auto pageOf = [](const QString& prefix) {
        QString names;
        for (int n = 0; n < 300; ++n)
            names += QStringLiteral("<%1%2></%1%2>").arg(prefix).arg(n);
        return "<html><body>" + names + "<li><a href=\"/1\">Item</a></li></body></html>";
    };
    QVERIFY(!PageRegion::Links(pageOf(QStringLiteral("x")), QStringLiteral("li")).fromText());
    const QString fresh = "<html><body><q1><a href=\"/1\">Item</a></q1></body></html>";
    const PageRegion::Links links(fresh, QStringLiteral("q1"));
    QVERIFY(links.fromText());
    QCOMPARE(RegionWays::describe(links),
             RegionWays::describe(LinkScanner::PageLinks(PageRegion::select(fresh, "q1").html)));
}

QTEST_GUILESS_MAIN(TestRegionText)
#include "tst_regiontext.moc"
