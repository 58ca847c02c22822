// SPDX-License-Identifier: GPL-3.0-or-later
// A page downloaded: what each answer of a server makes of it, the bounds of its body (compressed or not) and
// of its time, and its bytes read as text.
#include "engine/fetching/fetchrequest.h"
#include "engine/fetching/pagefetcher.h"
#include "tests/engine/directfetch.h"
#include "tests/engine/resultlinks.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTextCodec>
#include <QThread>

#include <optional>

#include <zlib.h>

class TestPageFetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void fetch_data();
    void fetch();
    void wholeDownloadIsBounded();
    void defaultBodyBound_data();
    void defaultBodyBound();
    void compressedBodyBoundedAsInflated_data();
    void compressedBodyBoundedAsInflated();
    void serverOnItsOwnThread();
    void decode_data();
    void decode();

private:
    TestServer server;
};

void TestPageFetch::initTestCase()
{
    QVERIFY(server.listen());
}

void TestPageFetch::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
    PageFetch::setMaxBodyBytes(PageFetch::MaxBodyBytes);
}

void TestPageFetch::fetch_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<TestServer::Response>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("finalPath");

    TestServer::Response page;
    page.body = "<a href=\"/x\">x</a>";
    page.contentType = "text/html; charset=utf-8";
    QTest::addRow("ordinary page") << "/page" << page << true << page.body << "/page";

    TestServer::Response notFound;
    notFound.status = 404;
    notFound.body = "<a href=\"/gone\">Gone</a>";
    QTest::addRow("404 keeps its body") << "/missing" << notFound << false << notFound.body << "/missing";

    TestServer::Response serverError = notFound;
    serverError.status = 500;
    serverError.body = "oops";
    QTest::addRow("500 keeps its body") << "/broken" << serverError << false << serverError.body << "/broken";

    TestServer::Response redirect;
    redirect.status = 302;
    redirect.location = "/target/index.html";
    QTest::addRow("302 followed") << "/moved" << redirect << true << QByteArray("target page") << "/target/index.html";

    TestServer::Response loop;
    loop.status = 302;
    loop.location = "/loop";
    QTest::addRow("redirect loop") << "/loop" << loop << false << QByteArray() << "";

    TestServer::Response endless;
    endless.endless = true;
    QTest::addRow("endless body") << "/endless" << endless << false << QByteArray() << "";

    TestServer::Response large;
    large.body = QByteArray(1024 * 1024, 'a');
    QTest::addRow("sized body past the bound") << "/large" << large << false << QByteArray() << "";

    TestServer::Response never;
    never.never = true;
    QTest::addRow("never answers") << "/never" << never << false << QByteArray() << "";

    TestServer::Response cut;
    cut.body = QByteArray(4000, 'a');
    cut.closeMidBody = true;
    QTest::addRow("closed mid-body") << "/cut" << cut << false << QByteArray() << "";

    TestServer::Response chunked;
    chunked.body = "<a href=\"/1\">one</a><a href=\"/2\">two</a><a href=\"/3\">three</a>";
    chunked.chunked = true;
    QTest::addRow("chunked") << "/chunked" << chunked << true << chunked.body << "/chunked";

    TestServer::Response garbled = chunked;
    garbled.garbleChunk = true;
    QTest::addRow("garbled chunk") << "/garbled" << garbled << false << QByteArray() << "";

    TestServer::Response shortBody;
    shortBody.body = QByteArray(4000, 'a');
    shortBody.shortBy = 100;
    QTest::addRow("shorter than its length") << "/short" << shortBody << false << QByteArray() << "";

    TestServer::Response badGzip;
    badGzip.body = "this is not gzip at all, just text";
    badGzip.contentEncoding = "gzip";
    QTest::addRow("failed decompression") << "/badgzip" << badGzip << false << QByteArray() << "";

    TestServer::Response badDeflate = badGzip;
    badDeflate.contentEncoding = "deflate";
    QTest::addRow("failed deflate") << "/baddeflate" << badDeflate << false << QByteArray() << "";

    TestServer::Response empty;
    QTest::addRow("empty page") << "/empty" << empty << true << QByteArray() << "/empty";
}

void TestPageFetch::fetch()
{
    QFETCH(QString, path);
    QFETCH(TestServer::Response, response);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);
    QFETCH(QString, finalPath);

    server.setResponse(path, response);
    server.setPage("/target/index.html", "target page");
    PageFetch::setTransferTimeout(1500);
    PageFetch::setMaxBodyBytes(256 * 1024);

    QElapsedTimer clock;
    clock.start();
    const FetchedPage page = download(server.url(path));
    QVERIFY2(clock.elapsed() < 15000, "the download must end by itself");
    if (path == "/garbled")
        QEXPECT_FAIL("", "Qt 6.4 reads a chunk size that is no number as the last chunk and reports no error", Abort);
    QCOMPARE(page.ok, ok);
    QCOMPARE(page.body, body);
    QCOMPARE(page.error.isEmpty(), ok);
    // A failure names its reason.
    const QString error = page.error.trimmed();
    QVERIFY2(ok || (!error.endsWith(u':') && error != u"Unknown error"), qPrintable(page.error));
    if (!body.isEmpty())
        QCOMPARE(page.contentType, QByteArray(path == "/page" ? "text/html; charset=utf-8" : "text/html"));
    if (!finalPath.isEmpty())
        QCOMPARE(page.url, server.url(finalPath));
}

void TestPageFetch::wholeDownloadIsBounded()
{
    // One byte every 50 ms never trips the transfer timeout (an inactivity timeout), but the whole
    // download must still end.
    TestServer::Response drip;
    drip.endless = true;
    drip.dripMs = 50;
    server.setResponse("/drip", drip);
    PageFetch::setTransferTimeout(600);

    QElapsedTimer clock;
    clock.start();
    const FetchedPage page = download(server.url("/drip"));
    QVERIFY(!page.ok);
    QVERIFY(page.body.isEmpty());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    // A refused connection fails at once, without a body.
    const FetchedPage refused = download(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(ResultLinks::closedPort())));
    QVERIFY(!refused.ok);
    QVERIFY(refused.body.isEmpty());
}
void TestPageFetch::defaultBodyBound_data()
{
    QTest::addColumn<TestServer::Response>("response");

    // 50 MB of links that all match one keyword: a body that slipped past the bound would give millions of links.
    TestServer::Response huge;
    huge.body = QByteArray("<a href=\"/big\">qt big</a>\n").repeated(50 * 1024 * 1024 / 26);
    QTest::addRow("50 MB body") << huge;
    TestServer::Response endless;
    endless.endless = true;
    QTest::addRow("endless body") << endless;
}

// The bound the program starts with (asked for with 0) ends a body past it, sized or endless, well before its end.
void TestPageFetch::defaultBodyBound()
{
    QFETCH(TestServer::Response, response);
    server.setResponse("/unbounded", response);
    PageFetch::setMaxBodyBytes(0);
    // Long enough that only the bound, not the clock, can end the endless body.
    PageFetch::setTransferTimeout(20000);
    const FetchedPage page = download(server.url("/unbounded"));
    QCOMPARE(page.error, PageFetch::tooLargeReason());
    QVERIFY(!page.ok);
    QVERIFY(page.body.isEmpty());
}

namespace {
// The bytes compressed as Content-Encoding sends them: "gzip", "zlib" (what "deflate" means) or "raw" (the
// bare deflate stream some servers send as "deflate"), whole and with the right checksum.
void startDeflate(z_stream& stream, const QByteArray& format)
{
    const int windowBits = format == "gzip" ? 16 + MAX_WBITS : format == "raw" ? -MAX_WBITS : MAX_WBITS;
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
}

QByteArray compressed(const QByteArray& format, const QByteArray& bytes)
{
    z_stream stream{};
    startDeflate(stream, format);
    QByteArray out(deflateBound(&stream, uLong(bytes.size())), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Zeros that inflate to `mib` MiB, built from one compressed MiB repeated (after a full flush every MiB
// compresses to the same bytes), so a GiB costs a few MiB of work: the compressed header and first MiB, the
// repeated MiB, the last block and the trailer with the checksum of the whole.
QByteArray zeroBomb(const QByteArray& format, int mib)
{
    const QByteArray oneMib(1 << 20, '\0');
    z_stream stream{};
    startDeflate(stream, format);
    const auto run = [&stream](const QByteArray& in, int flush) {
        QByteArray piece;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        stream.avail_in = uInt(in.size());
        char buffer[65536];
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            piece.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
        return piece;
    };
    QByteArray out = run(oneMib, Z_FULL_FLUSH);
    const QByteArray repeated = run(oneMib, Z_FULL_FLUSH);
    QByteArray end = run({}, Z_FINISH);
    deflateEnd(&stream);
    uLong crc = crc32(0, nullptr, 0);
    uLong adler = adler32(0, nullptr, 0);
    const uLong crcOfMib = crc32(crc, reinterpret_cast<const Bytef*>(oneMib.data()), uInt(oneMib.size()));
    const uLong adlerOfMib = adler32(adler, reinterpret_cast<const Bytef*>(oneMib.data()), uInt(oneMib.size()));
    for (int i = 0; i < mib; ++i) {
        crc = crc32_combine(crc, crcOfMib, oneMib.size());
        adler = adler32_combine(adler, adlerOfMib, oneMib.size());
    }
    for (int i = 1; i < mib; ++i)
        out += repeated;
    if (format == "gzip") {
        const quint32 size = quint32(qint64(mib) << 20);
        end.chop(8);
        for (const quint32 word : {quint32(crc), size})
            for (int shift = 0; shift < 32; shift += 8)
                end += char((word >> shift) & 0xff);
    } else if (format == "zlib") {
        end.chop(4);
        for (int shift = 24; shift >= 0; shift -= 8)
            end += char((adler >> shift) & 0xff);
    }
    return out + end;
}
} // namespace

void TestPageFetch::compressedBodyBoundedAsInflated_data()
{
    QTest::addColumn<QByteArray>("encoding"); // Content-Encoding
    QTest::addColumn<QByteArray>("body");     // as sent
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<qint64>("bound");
    QTest::addColumn<QByteArray>("inflated"); // the page read; empty: refused as larger than the bound
    const qint64 small = 256 * 1024;
    const QByteArray page = "<a href=\"/x\">x</a>" + QByteArray(small - 18, ' ');
    // A GiB of zeros is a MiB compressed, well under the bound it inflates past.
    const QByteArray gzipBomb = zeroBomb("gzip", 1024);
    for (const char* format : {"gzip", "zlib", "raw"}) {
        const QByteArray encoding = qstrcmp(format, "gzip") == 0 ? "gzip" : "deflate";
        QTest::addRow("%s, at the bound", format) << encoding << compressed(format, page) << false << small << page;
        QTest::addRow("%s, one byte past the bound", format)
            << encoding << compressed(format, page + ' ') << false << small << QByteArray();
        QTest::addRow("%s, 1 GiB of zeros", format)
            << encoding << (encoding == "gzip" ? gzipBomb : zeroBomb(format, 1024)) << false << PageFetch::MaxBodyBytes
            << QByteArray();
    }
    QTest::addRow("chunked gzip, at the bound")
        << QByteArray("gzip") << compressed("gzip", page) << true << small << page;
    QTest::addRow("chunked gzip, 1 GiB of zeros")
        << QByteArray("gzip") << gzipBomb << true << PageFetch::MaxBodyBytes << QByteArray();
    QTest::addRow("x-gzip, two members") << QByteArray("x-gzip")
                                         << compressed("gzip", "<a href=\"/1\">1</a>") +
                                                compressed("gzip", "<a href=\"/2\">2</a>")
                                         << false << small << QByteArray("<a href=\"/1\">1</a><a href=\"/2\">2</a>");
}

void TestPageFetch::compressedBodyBoundedAsInflated()
{
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, body);
    QFETCH(bool, chunked);
    QFETCH(qint64, bound);
    QFETCH(QByteArray, inflated);
    TestServer::Response response;
    response.body = body;
    response.contentEncoding = encoding;
    response.chunked = chunked;
    server.setResponse("/compressed", response);
    PageFetch::setMaxBodyBytes(bound);
    // Long enough that only the bound, not the clock, can end a bomb's download.
    PageFetch::setTransferTimeout(20000);
    // Read whole at the end, and as the fetcher reads it, piece by piece while it comes.
    PageFetcher fetcher;
    QObject context;
    std::optional<FetchedPage> fetched;
    fetcher.fetch(server.url("/compressed").toString(), &context, [&fetched](const FetchedPage& p) { fetched = p; });
    QTRY_VERIFY_WITH_TIMEOUT(fetched.has_value(), 30000);
    for (const FetchedPage& page : {download(server.url("/compressed")), *fetched}) {
        QCOMPARE(page.error, inflated.isEmpty() ? PageFetch::tooLargeReason() : QString());
        QCOMPARE(page.ok, !inflated.isEmpty());
        QCOMPARE(page.body, inflated);
    }
}
void TestPageFetch::serverOnItsOwnThread()
{
    QThread thread;
    auto* remote = new TestServer;
    remote->setPage("/own", "served from another thread");
    remote->moveToThread(&thread);
    connect(&thread, &QThread::finished, remote, &QObject::deleteLater);
    thread.start();
    bool listening = false;
    QMetaObject::invokeMethod(
        remote, [&] { listening = remote->listen(); }, Qt::BlockingQueuedConnection);
    QVERIFY(listening);

    const FetchedPage page = download(remote->url("/own"));
    QVERIFY(page.ok);
    QCOMPARE(page.body, QByteArray("served from another thread"));
    QCOMPARE(remote->hits("/own"), 1);
    thread.quit();
    QVERIFY(thread.wait(10000));
}

void TestPageFetch::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");

    const QString euro = QStringLiteral("Preis 5 \u20ac \u201cneu\u201d");
    const QByteArray html = "text/html";
    QTest::addRow("windows-1252")
        << QTextCodec::codecForName("windows-1252")->fromUnicode("<meta charset=\"windows-1252\">" + euro) << html
        << QString("<meta charset=\"windows-1252\">" + euro);
    const QString chinese = QStringLiteral("\u65b0\u95fb\u516c\u544a");
    const QString gbHead = QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">");
    QTest::addRow("gb2312") << QTextCodec::codecForName("GBK")->fromUnicode(gbHead + chinese) << html
                            << QString(gbHead + chinese);
    QTest::addRow("utf-8 with BOM") << QByteArray("\xEF\xBB\xBF") + QString(chinese).toUtf8() << html << chinese;
    QTest::addRow("utf-8 meta") << ("<meta charset=utf-8>" + euro).toUtf8() << html
                                << QString("<meta charset=utf-8>" + euro);
    QTest::addRow("nothing declared is latin-1")
        << QByteArray("caf\xe9 \x80") << html << QStringLiteral("caf\u00e9 \u0080");
    QTest::addRow("empty") << QByteArray() << QByteArray() << QString();

    const QString zoe = QStringLiteral("Hot Mess: Zo\u00eb Kravitz ") + chinese;
    QTest::addRow("header only") << zoe.toUtf8() << QByteArray("text/html; charset=utf-8") << zoe;
    QTest::addRow("header: quoted, any case, more parameters")
        << zoe.toUtf8() << QByteArray("text/html;Charset=\"UTF-8\"; q=1") << zoe;
    QTest::addRow("header and meta disagree: the header counts")
        << ("<meta charset=windows-1252>" + zoe).toUtf8() << QByteArray("text/html; charset=utf-8")
        << QString("<meta charset=windows-1252>" + zoe);
    QTest::addRow("BOM before the header")
        << QByteArray("\xEF\xBB\xBF") + zoe.toUtf8() << QByteArray("text/html; charset=iso-8859-1") << zoe;
    QTest::addRow("UTF-16 BOM before the header")
        << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(zoe.utf16()), zoe.size() * 2)
        << QByteArray("text/html; charset=utf-8") << zoe;
    QTest::addRow("unknown header name: the meta counts")
        << QTextCodec::codecForName("windows-1252")->fromUnicode("<meta charset=\"windows-1252\">" + euro)
        << QByteArray("text/html; charset=no-such-set") << QString("<meta charset=\"windows-1252\">" + euro);
    QTest::addRow("unknown header and meta names: latin-1")
        << QByteArray("<meta charset=bogus>caf\xe9") << QByteArray("text/html; charset=bogus2")
        << QStringLiteral("<meta charset=bogus>caf\u00e9");
    // Bytes that are valid UTF-8 and name no charset are read as UTF-8, as browsers read them.
    QTest::addRow("undeclared valid UTF-8") << zoe.toUtf8() << html << zoe;
    QTest::addRow("undeclared UTF-8 quote")
        << QByteArray("Trump\xe2\x80\x99s") << QByteArray() << QStringLiteral("Trump\u2019s");
    QTest::addRow("meta names latin-1 over valid UTF-8") << QByteArray("<meta charset=iso-8859-1>\xc3\xa9") << html
                                                         << QStringLiteral("<meta charset=iso-8859-1>\u00c3\u00a9");
    QTest::addRow("empty charset in the header")
        << QByteArray("caf\xe9") << QByteArray("text/html; charset=") << QStringLiteral("caf\u00e9");
}

void TestPageFetch::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QCOMPARE(PageFetch::decode(bytes, contentType), text);
}

QTEST_GUILESS_MAIN(TestPageFetch)
#include "tst_pagefetch.moc"
