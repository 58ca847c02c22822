// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds as lists of links: which bodies are feeds, the items of RSS 2.0, RSS 1.0 and Atom with their links and
// titles, feeds that fail with their reason, and external entities and DTDs that are never loaded.
#include "engine/matching/feedreader.h"
#include "engine/matching/readingbudget.h"
#include "tests/support/testserver.h"

#include <QTemporaryFile>
#include <QTest>

class TestFeedReader : public QObject
{
    Q_OBJECT

    TestServer server;
    QTemporaryFile localFile; // what an external entity naming a file would read
    QUrl feedUrl() const { return server.url(QStringLiteral("/feeds/news.xml")); }
    static QByteArray file(const QString& name)
    {
        QFile file(QFINDTESTDATA("data/feeds/" + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        for (const char* path : {"/secret", "/dtd", "/param"})
            server.setPage(QLatin1String(path), "LEAKED", "text/plain");
        QVERIFY(localFile.open());
        localFile.write("LEAKED");
        localFile.flush();
    }

    void budgeted_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("cpuNs");
        QTest::addColumn<qint64>("memory");
        QTest::addColumn<QString>("error"); // empty: read whole
        const QByteArray entity = "<!DOCTYPE rss [<!ENTITY e \"" + QByteArray(5000, 'x') + "\">]>";
        const QByteArray refs = QByteArray("&e;").repeated(2000);
        const QByteArray item = "<item><title>t</title><link>/a</link></item>";
        const auto rss = [](const QByteArray& head, const QByteArray& channel) {
            return head + "<rss version=\"2.0\"><channel>" + channel + "</channel></rss>";
        };
        const qint64 plenty = ReadingLimits::DefaultMemoryBytes;
        const qint64 second = 1'000'000'000;
        const QString expand = QStringLiteral("the feed's entities expand past the size of the feed");
        QTest::addRow("entity in a guid attribute")
            << rss(entity, "<item><guid isPermaLink=\"" + refs + "\">/g</guid></item>") << second << plenty << expand;
        QTest::addRow("entity in xml:base")
            << rss(entity, "<item xml:base=\"" + refs + "\"><link>/a</link></item>") << second << plenty << expand;
        QTest::addRow("entity in an Atom href")
            << entity + "<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry><link href=\"" + refs +
                   "\"/></entry></feed>"
            << second << plenty << expand;
        QTest::addRow("entity used within the feed's size")
            << rss(entity, "<item><guid isPermaLink=\"&e;\">/g</guid></item>") << second << plenty << "";
        QTest::addRow("time spent") << rss({}, item.repeated(1000)) << qint64(0) << plenty
                                    << "the feed took too long to read";
        QTest::addRow("memory spent") << rss({}, item.repeated(10000)) << second << qint64(1024)
                                      << "the feed took too much memory to read";
    }

    // A feed whose reading would grow past its own size or its budget fails with the reason, and says so through
    // the page's reading as well.
    void budgeted()
    {
        QFETCH(QByteArray, body);
        QFETCH(qint64, cpuNs);
        QFETCH(qint64, memory);
        QFETCH(QString, error);
        const ReadingBudget budget({cpuNs, memory});
        const FeedReader::Result result = FeedReader::read(body, "application/rss+xml", feedUrl());
        QCOMPARE(result.error, error);
        QCOMPARE(result.ok, error.isEmpty());
        QCOMPARE(result.abandoned, !error.isEmpty());
    }

    void isFeed_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("feed");
        const QByteArray rss = "<rss version=\"2.0\"><channel/></rss>";
        QTest::addRow("HTML page") << QByteArray("text/html") << QByteArray("<!DOCTYPE html>\n<html><body>") << false;
        QTest::addRow("RSS as text/xml") << QByteArray("text/xml; charset=utf-8") << "<?xml version=\"1.0\"?>\n" + rss
                                         << true;
        QTest::addRow("Atom as text/html, after a comment and a document type with its own subset")
            << QByteArray("text/html")
            << QByteArray("\xEF\xBB\xBF <!-- <html> --><!DOCTYPE feed [<!ENTITY a \"]>\">]>\n<feed xmlns=\"a\">")
            << true;
        QTest::addRow("RDF root") << QByteArray("application/xml") << QByteArray("<rdf:RDF xmlns:rdf=\"r\">") << true;
        QTest::addRow("feed type, any body")
            << QByteArray("Application/RSS+XML; charset=x") << QByteArray("<html>") << true;
        QTest::addRow("other XML") << QByteArray("application/xml") << QByteArray("<?xml version=\"1.0\"?><urlset>")
                                   << false;
        QTest::addRow("text before the root") << QByteArray("text/plain") << "hello " + rss << false;
        QTest::addRow("UTF-16 with byte-order mark")
            << QByteArray("text/xml")
            << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(u"<rss>"), 10) << true;
        QTest::addRow("root beyond the bytes looked at")
            << QByteArray("text/xml") << "<!--" + QByteArray(FeedReader::SniffBytes, ' ') + "-->" + rss << false;
    }
    void isFeed()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(bool, feed);
        QCOMPARE(FeedReader::isFeed(contentType, body), feed);
    }

    // items: "link | title"; error: a part of the reason, empty when the feed reads.
    void read_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("error");
        const QString base = server.url(QString()).toString();
        const QByteArray rss = "application/rss+xml";
        QTest::addRow("RSS 2.0") << file("rss2.xml") << rss
                                 << QStringList{"http://jobs.example/1 | Qt developer", base + "/2 | Senior Qt & QML",
                                                "http://jobs.example/3 | Fish & chips daily x < y",
                                                base + "/6 | Permalink guid",
                                                "http://jobs.example/7 | Link before guid"}
                                 << QString();
        QTest::addRow("RSS 1.0") << file("rss1.xml") << rss
                                 << QStringList{"http://r.example/a | First release",
                                                "http://r.example/b?x=1&y=2 | Second"}
                                 << QString();
        QTest::addRow("Atom with xml:base")
            << file("atom.xml") << QByteArray("application/atom+xml")
            << QStringList{"http://a.example/blog/posts/1 | Qt 6.8 & more",
                           "http://a.example/other/2.html | a <b> in Qt", "https://b.example/3 | Qt bold",
                           "http://a.example/up.html | Up"}
            << QString();
        QTest::addRow("external entities and DTD not loaded")
            << file("entities.xml")
                   .replace("@SERVER@", server.url(QString()).toEncoded())
                   .replace("@FILE@", QUrl::fromLocalFile(localFile.fileName()).toEncoded())
            << rss << QStringList{"http://x.example/1 | Qt news"} << QString();
        // The charset of the header counts only where the feed names none itself.
        const QByteArray cafe = "<rss><channel><item><title>Caf\xE9</title><link>/c</link></item></channel></rss>";
        const QByteArray latin1 = "text/xml; charset=ISO-8859-1";
        QTest::addRow("charset of the header") << cafe << latin1 << QStringList{base + "/c | Caf\u00E9"} << QString();
        QTest::addRow("encoding of the feed")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + QByteArray(cafe).replace("\xE9", "\xC3\xA9") << latin1
            << QStringList{base + "/c | Caf\u00E9"} << QString();
        QTest::addRow("entity amplification")
            << file("amplification.xml") << rss << QStringList{} << QStringLiteral("entity reference loop");
        QTest::addRow("not well-formed") << QByteArray("<rss><channel><item><title>Qt</item></channel></rss>") << rss
                                         << QStringList{} << QStringLiteral("line 1: Opening and ending tag mismatch");
        QTest::addRow("feed type, HTML body")
            << QByteArray("<html><body><a href=\"/x\">Qt</a></body></html>") << rss << QStringList{}
            << QStringLiteral("not a feed: its root element is <html>");
        QTest::addRow("nested past libxml2's depth bound")
            << "<rss><channel><item><title>Qt</title><link>/x</link>" + QByteArray("<x>").repeated(300) +
                   QByteArray("</x>").repeated(300) + "</item></channel></rss>"
            << rss << QStringList{} << QStringLiteral("Excessive depth");
    }
    void read()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QStringList, items);
        QFETCH(QString, error);
        const FeedReader::Result result = FeedReader::read(body, contentType, feedUrl());
        QStringList read;
        for (const FeedItem& item : result.items)
            read << item.link + " | " + item.title;
        QCOMPARE(read, items);
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        QCOMPARE(result.ok, error.isEmpty());
        for (const char* path : {"/secret", "/dtd", "/param"})
            QCOMPARE(server.hits(QLatin1String(path)), 0);
        // A read past its budget fails and says so.
        if (result.ok) {
            const ReadingBudget spent({0, ReadingLimits::DefaultMemoryBytes});
            QCOMPARE(FeedReader::read(body, contentType, feedUrl()).error,
                     QStringLiteral("the feed took too long to read"));
        }
    }
};

QTEST_GUILESS_MAIN(TestFeedReader)
#include "tst_feedreader.moc"
