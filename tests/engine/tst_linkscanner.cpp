// SPDX-License-Identifier: GPL-3.0-or-later
#include <QRandomGenerator>
#include <QtTest>

#include "engine/linkscanner.h"
#include "tests/engine/linkscanoracle.h"

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

private:
    LinkScanOracle oracle;
};

namespace {
using Expected = QList<QStringList>; // {start, capture 1, capture 2} per match

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
        if (found != expected) {
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
}

QTEST_GUILESS_MAIN(TestLinkScanner)
#include "tst_linkscanner.moc"
