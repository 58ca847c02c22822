// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "engine/tools.h"

class TestTools : public QObject
{
    Q_OBJECT

private slots:
    void hostPrefix_data();
    void hostPrefix();
    void unquote_data();
    void unquote();
    void hrefValue_data();
    void hrefValue();
    void absoluteLink_data();
    void absoluteLink();
    void displayText_data();
    void displayText();
};

void TestTools::hostPrefix_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("prefix");

    QTest::addRow("port, path and query dropped") << "http://news.example:8080/a/b.html?x=1"
                                                  << "http://news.example";
    QTest::addRow("https becomes http") << "https://secure.example/x"
                                        << "http://secure.example";
    QTest::addRow("user information dropped") << "http://user:pw@h.example/x#f"
                                              << "http://h.example";
    QTest::addRow("host as QUrl gives it") << "http://News.EXAMPLE/"
                                           << "http://news.example";
    QTest::addRow("no host") << "index.html"
                             << "http://";
    QTest::addRow("empty") << ""
                           << "http://";
}

void TestTools::hostPrefix()
{
    QFETCH(QString, address);
    QFETCH(QString, prefix);
    QCOMPARE(Tools::hostPrefix(address), prefix);
}

void TestTools::unquote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("unquoted");

    QTest::addRow("double quotes") << R"("/a.html")"
                                   << "/a.html";
    QTest::addRow("further attributes") << R"("/a.html" target="_blank")"
                                        << "/a.html";
    QTest::addRow("no quotes") << "/a.html"
                               << "/a.html";
    QTest::addRow("single quotes kept") << "'/a.html'"
                                        << "'/a.html'";
    QTest::addRow("empty quotes") << R"("")"
                                  << "";
    QTest::addRow("blank before the quote") << R"( "/a.html")"
                                            << " ";
    QTest::addRow("empty pieces skipped") << R"("""/x")"
                                          << "/x";
    QTest::addRow("empty") << ""
                           << "";
}

void TestTools::unquote()
{
    QFETCH(QString, text);
    QFETCH(QString, unquoted);
    QCOMPARE(Tools::unquote(text), unquoted);
}

void TestTools::hrefValue_data()
{
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QString>("value");

    QTest::addRow("double quotes") << R"("/a")"
                                   << "/a";
    QTest::addRow("blanks around") << " \t\n\"/a\" "
                                   << "/a";
    QTest::addRow("single quotes") << "'/s'"
                                   << "/s";
    QTest::addRow("other quote inside") << R"('it"s')"
                                        << R"(it"s)";
    QTest::addRow("quoted, further attributes") << R"("u" class="c")"
                                                << "u";
    QTest::addRow("unquoted, further attributes") << "/a target=_blank"
                                                  << "/a";
    QTest::addRow("unquoted up to a tab") << "/a\tid=x"
                                          << "/a";
    QTest::addRow("no closing quote") << R"("/open end )"
                                      << "/open end";
    QTest::addRow("blanks inside quotes trimmed") << R"(" /a ")"
                                                  << "/a";
    QTest::addRow("empty quotes") << R"("")"
                                  << "";
    QTest::addRow("blanks only") << "  "
                                 << "";
    QTest::addRow("empty") << ""
                           << "";
    QTest::addRow("&amp; in a query") << R"("a?x=1&amp;y=2")"
                                      << "a?x=1&y=2";
    QTest::addRow("named references") << R"("&lt;&gt;&quot;&apos;")"
                                      << R"(<>"')";
    QTest::addRow("numeric references") << "&#65;&#x42;&#X43;&#0068;"
                                        << "ABCD";
    QTest::addRow("reference beyond the BMP") << "&#128512;" << QString::fromUcs4(U"\U0001F600");
    QTest::addRow("highest code point") << "&#x10FFFF;" << QString::fromUcs4(U"\U0010FFFF");
    QTest::addRow("decoded blank is trimmed") << "&#32;/a&#32;"
                                              << "/a";
    QTest::addRow("decoded & not decoded again") << "&amp;amp;"
                                                 << "&amp;";
    QTest::addRow("&& before a reference") << "&&amp;"
                                           << "&&";
    QTest::addRow("zero kept") << "&#0;"
                               << "&#0;";
    QTest::addRow("beyond U+10FFFF kept") << "&#x110000;"
                                          << "&#x110000;";
    QTest::addRow("surrogate kept") << "&#xD800;&#57343;"
                                    << "&#xD800;&#57343;";
    QTest::addRow("huge number kept") << "&#99999999999999999999999;"
                                      << "&#99999999999999999999999;";
    QTest::addRow("no digits kept") << "&#;&#x;"
                                    << "&#;&#x;";
    QTest::addRow("bad digit kept") << "&#12a;&#xg;"
                                    << "&#12a;&#xg;";
    QTest::addRow("no semicolon kept") << "a&amp=b"
                                       << "a&amp=b";
    QTest::addRow("unknown name kept") << "&nbsp;&AMP;"
                                       << "&nbsp;&AMP;";
    QTest::addRow("& at the end") << "a&"
                                  << "a&";
}

void TestTools::hrefValue()
{
    QFETCH(QString, capture);
    QFETCH(QString, value);
    QCOMPARE(Tools::hrefValue(capture), value);
}

void TestTools::absoluteLink_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QString>("link");

    const QString page = "http://h:8080/news/index.html";
    QTest::addRow("leading slash") << page << "/news/1.html"
                                   << "http://h:8080/news/1.html";
    QTest::addRow("relative") << page << "news/1.html"
                              << "http://h:8080/news/news/1.html";
    QTest::addRow("parent folder") << page << R"("../up.html")"
                                   << "http://h:8080/up.html";
    QTest::addRow("quoted other host, https") << page << R"("https://k/x")"
                                              << "https://k/x";
    QTest::addRow("unquoted other host") << page << "http://k/x"
                                         << "http://k/x";
    QTest::addRow("scheme-relative") << page << R"("//cdn.example/x")"
                                     << "http://cdn.example/x";
    QTest::addRow("quoted with attributes") << page << R"( "/a" class="c" )"
                                            << "http://h:8080/a";
    QTest::addRow("empty quotes give the page") << page << R"("")" << page;
    QTest::addRow("&amp; in the query") << page << R"("list?a=1&amp;b=2")"
                                        << "http://h:8080/news/list?a=1&b=2";
    QTest::addRow("query only") << page << R"("?page=2")"
                                << "http://h:8080/news/index.html?page=2";
    QTest::addRow("fragment only") << page << "#top"
                                   << "http://h:8080/news/index.html#top";
    QTest::addRow("path, query and fragment") << page << R"("/a?q=1#f")"
                                              << "http://h:8080/a?q=1#f";
    QTest::addRow("non-ASCII encoded") << page << QString::fromUtf8("\"/\xC3\xA4\"") << "http://h:8080/%C3%A4";
    QTest::addRow("blank inside quotes encoded") << page << R"("a b.html")"
                                                 << "http://h:8080/news/a%20b.html";
    QTest::addRow("https page") << "https://s.example/dir/"
                                << "x.html"
                                << "https://s.example/dir/x.html";
    QTest::addRow("https page, other port") << "https://s.example:8443/d/"
                                            << "/x"
                                            << "https://s.example:8443/x";
    QTest::addRow("page without path") << "http://h"
                                       << "a.html"
                                       << "http://h/a.html";
}

void TestTools::absoluteLink()
{
    QFETCH(QString, base);
    QFETCH(QString, capture);
    QFETCH(QString, link);
    QCOMPARE(Tools::absoluteLink(QUrl(base), capture), link);
    QCOMPARE(Tools::LinkResolver(QUrl(base))(capture), link);
}

void TestTools::displayText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::addRow("nothing to decode") << " Item  one "
                                       << " Item  one ";
    QTest::addRow("markup names") << "a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;"
                                  << "a & b <c> \"d\" 'e'";
    QTest::addRow("typographic names") << "l&rsquo;&eacute;quipe &ndash; &ldquo;x&rdquo;&hellip;"
                                       << QStringLiteral("l\u2019\u00e9quipe \u2013 \u201cx\u201d\u2026");
    QTest::addRow("first, last and capital names")
        << "&AElig;&zwnj;&Eacute;&yuml;&Yuml;" << QStringLiteral("\u00c6\u200c\u00c9\u00ff\u0178");
    QTest::addRow("nbsp, euro, copy") << "5&nbsp;&euro; &copy;" << QStringLiteral("5\u00a0\u20ac \u00a9");
    QTest::addRow("numeric") << "&#233;&#x2019;&#128512;"
                             << QStringLiteral("\u00e9\u2019") + QString::fromUcs4(U"\U0001F600");
    QTest::addRow("unknown, wrong case, unfinished kept") << "&bogus; &NBSP; &amp &#xZZ;"
                                                          << "&bogus; &NBSP; &amp &#xZZ;";
    QTest::addRow("decoded once") << "&amp;rsquo;"
                                  << "&rsquo;";
}

void TestTools::displayText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(Tools::displayText(text), shown);
}

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
