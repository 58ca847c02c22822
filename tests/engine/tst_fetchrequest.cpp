// SPDX-License-Identifier: GPL-3.0-or-later
// What a download's request carries (its settings, headers and validators, nothing of task.db that could break a
// line) and what is kept of the server's answer for the next one (its validators, when to ask again).
#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/engine/directfetch.h"
#include "tests/support/testserver.h"

#include <QTest>
#include <QTimeZone>

class TestFetchRequest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void requestSettings();
    void requestHeaders();
    void conditional_data();
    void conditional();
    void wireBytes_data();
    void wireBytes();
    void serverValidatorsKeptOnlyWhenSendable_data();
    void serverValidatorsKeptOnlyWhenSendable();
    void retryAfter_data();
    void retryAfter();

private:
    TestServer server;
};

void TestFetchRequest::initTestCase()
{
    QVERIFY(server.listen());
}

void TestFetchRequest::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
    PageFetch::setMaxBodyBytes(PageFetch::MaxBodyBytes);
}

void TestFetchRequest::requestSettings()
{
    PageFetch::setTransferTimeout(1234);
    const QNetworkRequest request = PageFetch::makeRequest("http://127.0.0.1:1/a?b=c");
    QCOMPARE(request.url(), QUrl("http://127.0.0.1:1/a?b=c"));
    QCOMPARE(request.transferTimeout(), 1234);
    QCOMPARE(request.maximumRedirectsAllowed(), PageFetch::MaxRedirects);
    QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
             int(QNetworkRequest::NoLessSafeRedirectPolicy));

    // No setting may leave a download unbounded.
    PageFetch::setTransferTimeout(0);
    QCOMPARE(PageFetch::makeRequest("http://127.0.0.1:1/").transferTimeout(), PageFetch::DefaultTransferTimeoutMs);
    PageFetch::setMaxBodyBytes(-1);
    QCOMPARE(PageFetch::maxBodyBytes(), PageFetch::MaxBodyBytes);
}

void TestFetchRequest::requestHeaders()
{
    server.setPage("/headers", "page");
    // Every request names the program, takes pages as a browser does and the user's languages.
    QVERIFY(download(server.url("/headers")).ok);
    QCOMPARE(server.lastHeader("/headers", "User-Agent"), RequestHeaders::defaultUserAgent());
    QVERIFY(server.lastHeader("/headers", "User-Agent").startsWith("Mozilla/5.0 (X11; Linux x86_64) VantrelMonitor/"));
    QCOMPARE(server.lastHeader("/headers", "Accept"), RequestHeaders::defaultAccept());
    QCOMPARE(server.lastHeader("/headers", "Accept-Language"),
             RequestHeaders::acceptLanguage(QLocale::system().uiLanguages()));
    QCOMPARE(server.lastHeader("/headers", "Cookie"), QByteArray());

    // A request's own headers are sent, and its User-Agent replaces the program's.
    FetchRequest own;
    own.address = server.url("/headers").toString();
    own.headers = {{"Cookie", "session=s3cr3t"}, {"User-Agent", "MyAgent/2"}, {"X-Extra", "a b"}};
    QVERIFY(download(own).ok);
    QCOMPARE(server.lastHeader("/headers", "Cookie"), QByteArray("session=s3cr3t"));
    QCOMPARE(server.lastHeader("/headers", "User-Agent"), QByteArray("MyAgent/2"));
    QCOMPARE(server.lastHeader("/headers", "X-Extra"), QByteArray("a b"));
    QCOMPARE(server.lastHeader("/headers", "Accept"), RequestHeaders::defaultAccept());
}

void TestFetchRequest::conditional_data()
{
    QTest::addColumn<TestServer::Response>("response");
    QTest::addColumn<QByteArray>("etag"); // validators sent
    QTest::addColumn<QByteArray>("lastModified");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("notModified");

    TestServer::Response page;
    page.body = "<a href=\"/x\">x</a>";
    page.etag = "\"v1\"";
    page.lastModified = "Wed, 21 Oct 2026 07:28:00 GMT";
    QTest::addRow("etag matches") << page << page.etag << QByteArray() << true << true;
    QTest::addRow("last-modified matches") << page << QByteArray() << page.lastModified << true << true;
    QTest::addRow("changed since") << page << QByteArray("\"v0\"") << QByteArray() << true << false;
    QTest::addRow("no validators") << page << QByteArray() << QByteArray() << true << false;

    TestServer::Response unasked;
    unasked.status = 304;
    QTest::addRow("304 not asked for") << unasked << QByteArray() << QByteArray() << false << false;
    TestServer::Response withBody;
    withBody.status = 304;
    withBody.body = "<a href=\"/x\">x</a>";
    QTest::addRow("304 with a body") << withBody << QByteArray("\"v1\"") << QByteArray() << false << false;
}

void TestFetchRequest::conditional()
{
    QFETCH(TestServer::Response, response);
    QFETCH(QByteArray, etag);
    QFETCH(QByteArray, lastModified);
    QFETCH(bool, ok);
    QFETCH(bool, notModified);

    server.setResponse("/conditional", response);
    FetchRequest request;
    request.address = server.url("/conditional").toString();
    request.etag = etag;
    request.lastModified = lastModified;
    const FetchedPage page = download(request);
    QCOMPARE(server.lastHeader("/conditional", "If-None-Match"), etag);
    QCOMPARE(server.lastHeader("/conditional", "If-Modified-Since"), lastModified);
    QCOMPARE(page.ok, ok);
    QCOMPARE(page.notModified, notModified);
    QCOMPARE(page.error.isEmpty(), ok);
    if (notModified || !ok) {
        QVERIFY(page.body.isEmpty());
    } else {
        // A page that was read hands its validators on for the next check.
        QCOMPARE(page.body, response.body);
        QCOMPARE(page.etag, response.etag);
        QCOMPARE(page.lastModified, response.lastModified);
    }
}

void TestFetchRequest::wireBytes_data()
{
    // What task.db holds for a task (any text may be there), and what its conditional request carries.
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArrayList>("lines");  // header lines on the wire
    QTest::addColumn<QByteArrayList>("absent"); // bytes found nowhere in the request

    const QString etag = QString::fromLatin1(Task::EtagOption);
    const QString modified = QString::fromLatin1(Task::LastModifiedOption);
    const QString headers = QString::fromLatin1(Task::RequestHeadersOption);
    const QString agent = QString::fromLatin1(Task::UserAgentOption);
    QTest::addRow("valid etag") << etag << "\"v1\"" << QByteArrayList{"If-None-Match: \"v1\"\r\n"} << QByteArrayList{};
    QTest::addRow("etag with control bytes") << etag
                                             << "\"a\x01b\x7f"
                                                "c\""
                                             << QByteArrayList{} << QByteArrayList{"If-None-Match", "\x01", "\x7f"};
    QTest::addRow("etag injecting a line") << etag << "\"x\"\r\nX-Injected-From-Db: 1" << QByteArrayList{}
                                           << QByteArrayList{"X-Injected", "If-None-Match"};
    QTest::addRow("last-modified with a bare CR")
        << modified << "x\rX-Bare: 1" << QByteArrayList{} << QByteArrayList{"X-Bare", "If-Modified-Since"};
    QTest::addRow("last-modified with a LF")
        << modified << "x\nX-Lf: 1" << QByteArrayList{} << QByteArrayList{"X-Lf", "If-Modified-Since"};
    QTest::addRow("overlong etag") << etag << QString(RequestHeaders::MaxValidatorLength + 1, u'e') << QByteArrayList{}
                                   << QByteArrayList{"If-None-Match"};
    QTest::addRow("etag beyond ISO 8859-1")
        << etag << QStringLiteral("\"\u20ac\"") << QByteArrayList{} << QByteArrayList{"If-None-Match"};
    QTest::addRow("one bad header line dropped alone")
        << headers << "Cookie: a=1\nX-B: b\x01\nHost: evil.test\nX-C: c"
        << QByteArrayList{"Cookie: a=1\r\n", "X-C: c\r\n"} << QByteArrayList{"X-B", "evil.test"};
    QTest::addRow("line break inside a stored header")
        << headers << "Cookie: a=1\r\nX-D: d\rX-E: e" << QByteArrayList{"Cookie: a=1\r\n"}
        << QByteArrayList{"X-D", "X-E"};
    QTest::addRow("User-Agent injecting a line")
        << agent << "A/1\r\nX-Injected: 1"
        << QByteArrayList{"User-Agent: " + RequestHeaders::defaultUserAgent() + "\r\n"} << QByteArrayList{"X-Injected"};
}

void TestFetchRequest::wireBytes()
{
    QFETCH(QString, option);
    QFETCH(QString, value);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArrayList, absent);

    server.setPage("/wire", "page");
    Task task(0, {"t", server.url("/wire").toString(), "k", 60, {}});
    task.setOption(option, value);
    QVERIFY(download(task.fetchRequest(true)).ok);
    const QByteArray request = server.lastRequest("/wire");
    QVERIFY(request.startsWith("GET /wire HTTP/1.1\r\n"));
    for (const QByteArray& line : std::as_const(lines))
        QVERIFY2(request.contains(line), request.constData());
    for (const QByteArray& bytes : std::as_const(absent))
        QVERIFY2(!request.contains(bytes), request.constData());
    // Every line of the request is one header: no bare CR or LF inside one.
    for (const QByteArray& line : request.split('\n')) {
        QVERIFY2(line.isEmpty() || line.indexOf('\r') == line.size() - 1, request.constData());
    }
}

void TestFetchRequest::serverValidatorsKeptOnlyWhenSendable_data()
{
    QTest::addColumn<QByteArray>("etag");
    QTest::addColumn<QByteArray>("kept");
    QTest::addRow("plain") << QByteArray("\"v1\"") << QByteArray("\"v1\"");
    QTest::addRow("control bytes") << QByteArray("\"a\x01b\x7f"
                                                 "c\"")
                                   << QByteArray();
    QTest::addRow("overlong") << QByteArray(RequestHeaders::MaxValidatorLength + 1, 'e') << QByteArray();
}

void TestFetchRequest::serverValidatorsKeptOnlyWhenSendable()
{
    QFETCH(QByteArray, etag);
    QFETCH(QByteArray, kept);
    TestServer::Response response;
    response.body = "page";
    response.etag = etag;
    server.setResponse("/validators", response);
    const FetchedPage page = download(server.url("/validators"));
    QVERIFY(page.ok);
    QCOMPARE(page.etag, kept);
}

void TestFetchRequest::retryAfter_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("seconds");

    QTest::addRow("seconds") << QByteArray("120") << 120;
    QTest::addRow("missing: one minute") << QByteArray() << 60;
    QTest::addRow("unreadable: one minute") << QByteArray("soon") << 60;
    QTest::addRow("huge: one hour") << QByteArray("99999999999") << 3600;
    QTest::addRow("negative: now") << QByteArray("-5") << 0;
    QTest::addRow("date") << QByteArray("Mon, 07 Dec 2026 14:05:00 GMT") << 300;
    QTest::addRow("date far ahead: one hour") << QByteArray("Tue, 08 Dec 2026 14:05:00 GMT") << 3600;
    QTest::addRow("date past: now") << QByteArray("Mon, 07 Dec 2026 13:00:00 GMT") << 0;
}

void TestFetchRequest::retryAfter()
{
    QFETCH(QByteArray, value);
    QFETCH(int, seconds);
    const QDateTime now(QDate(2026, 12, 7), QTime(14, 0), QTimeZone::utc());
    QCOMPARE(PageFetch::retryAfterSeconds(value, now), seconds);
}

QTEST_GUILESS_MAIN(TestFetchRequest)
#include "tst_fetchrequest.moc"
