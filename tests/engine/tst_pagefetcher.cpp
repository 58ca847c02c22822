// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagefetcher.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QTest>

#include <optional>

class TestPageFetcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void waitedDownloadGetsAConnection_data();
    void waitedDownloadGetsAConnection();
    void bodiesInFlightAreBounded();
    void busyHostIsLeftAlone_data();
    void busyHostIsLeftAlone();
    void onlyWebAddressesAreRequested_data();
    void onlyWebAddressesAreRequested();

private:
    QString address(int host, const QString& path) const
    {
        return QStringLiteral("http://127.0.0.%1:%2%3").arg(host).arg(server.port()).arg(path);
    }

    TestServer server;
};

void TestPageFetcher::initTestCase()
{
    QVERIFY(server.listen(QHostAddress::Any));
    TestServer::Response never;
    never.never = true;
    server.setResponse("/never", never);
    server.setPage("/page", "<a href=\"/x\">x</a>");
}

void TestPageFetcher::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
}

void TestPageFetcher::waitedDownloadGetsAConnection_data()
{
    QTest::addColumn<int>("background"); // silent background downloads on the host
    QTest::addColumn<int>("waited");     // silent downloads the user waits for, on the same host
    QTest::addColumn<int>("running");    // requests that must be running at once

    // Six background checks of a silent page hold the host's six connections: the user's own
    // download still gets a seventh and is read at once.
    QTest::addRow("six background, then the user's") << 6 << 0 << 7;
    // Downloads the user waits for share the host's six connections among themselves (update-all).
    QTest::addRow("eight waited alone") << 0 << 8 << 6;
    // Beside six background ones they get six spare connections, no more.
    QTest::addRow("six background, eight waited") << 6 << 8 << 12;
}

void TestPageFetcher::waitedDownloadGetsAConnection()
{
    QFETCH(int, background);
    QFETCH(int, waited);
    QFETCH(int, running);

    // Long enough that no silent download ends during the case.
    PageFetch::setTransferTimeout(20000);
    PageFetcher fetcher;
    QObject context;
    int silentDone = 0;
    for (int i = 0; i < background; ++i)
        fetcher.fetch(
            address(1, "/never"), &context, [&](const FetchedPage&) { ++silentDone; },
            PageFetcher::Priority::Background);
    for (int i = 0; i < waited; ++i)
        fetcher.fetch(
            address(1, "/never"), &context, [&](const FetchedPage&) { ++silentDone; }, PageFetcher::Priority::Waited);

    if (waited == 0) {
        FetchedPage page;
        bool done = false;
        QElapsedTimer clock;
        clock.start();
        fetcher.fetch(address(1, "/page"), &context, [&](const FetchedPage& fetched) {
            page = fetched;
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(page.ok, qPrintable(page.error));
        QCOMPARE(fetcher.peakRunning(), running);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(fetcher.running(), running, 5000);
        QTest::qWait(200);
        QCOMPARE(fetcher.running(), running);
        QCOMPARE(fetcher.queued(), background + waited - running);
    }
    QCOMPARE(silentDone, 0);
    fetcher.abortAll();
}

void TestPageFetcher::bodiesInFlightAreBounded()
{
    // Sixteen pages of 300 kB on four hosts, each body distinct so a mix-up shows.
    constexpr int Pages = 16;
    constexpr qint64 PageBytes = 300 * 1000;
    for (int i = 0; i < Pages; ++i)
        server.setPage(QStringLiteral("/big%1").arg(i), QByteArray(PageBytes, char('a' + i)));

    auto runAll = [&](qint64 limit, qint64* peak) {
        PageFetcher fetcher;
        if (limit > 0)
            fetcher.setMaxBytesInFlight(limit);
        QObject context;
        int done = 0;
        bool intact = true;
        for (int i = 0; i < Pages; ++i) {
            fetcher.fetch(address(1 + i % 4, QStringLiteral("/big%1").arg(i)), &context,
                          [&, i](const FetchedPage& page) {
                              ++done;
                              intact = intact && page.ok && page.body == QByteArray(PageBytes, char('a' + i));
                          });
        }
        if (!QTest::qWaitFor([&] { return done == Pages; }, 20000))
            return false;
        *peak = fetcher.peakHeldBytes();
        return intact && fetcher.heldBytes() == 0;
    };

    qint64 unbounded = 0;
    QVERIFY(runAll(0, &unbounded));
    // Every body held at once when nothing bounds them (all sixteen run at once).
    QVERIFY2(unbounded > 8 * PageBytes, qPrintable(QString::number(unbounded)));

    // With a bound of three pages, what is held stays near it: the oldest download and the oldest one
    // waited for may go past it, and one page's read buffer.
    const qint64 limit = 3 * PageBytes;
    qint64 bounded = 0;
    QVERIFY(runAll(limit, &bounded));
    QVERIFY2(bounded <= limit + 2 * PageBytes + PageFetcher::ReadBufferBytes,
             qPrintable(QStringLiteral("%1 of %2").arg(bounded).arg(limit)));
}

void TestPageFetcher::busyHostIsLeftAlone_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("retryAfter"); // empty: no header
    QTest::addColumn<int>("seconds");           // how long the host is left alone

    QTest::addRow("429 with seconds") << 429 << QByteArray("120") << 120;
    QTest::addRow("503 with seconds") << 503 << QByteArray("30") << 30;
    QTest::addRow("429 without the header") << 429 << QByteArray() << 60;
    QTest::addRow("503 with a huge value") << 503 << QByteArray("86400000") << 3600;
    // A date two minutes ahead of the real time (the server's date is absolute).
    QTest::addRow("429 with a date") << 429
                                     << QLocale::c()
                                            .toString(QDateTime::currentDateTimeUtc().addSecs(120),
                                                      QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                                            .toLatin1()
                                     << 120;
}

void TestPageFetcher::busyHostIsLeftAlone()
{
    QFETCH(int, status);
    QFETCH(QByteArray, retryAfter);
    QFETCH(int, seconds);

    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    TestServer::Response busy;
    busy.status = status;
    busy.body = "<a href=\"/x\">come back later</a>";
    if (!retryAfter.isEmpty())
        busy.headers = {{"Retry-After", retryAfter}};
    server.setResponse("/busy-" + tag, busy);
    server.setPage("/other-" + tag, "other page");

    QDateTime now = QDateTime::currentDateTime();
    PageFetcher fetcher;
    fetcher.setClock([&now] { return now; });
    QObject context;
    auto get = [&](int host, const QString& path) {
        std::optional<FetchedPage> got;
        fetcher.fetch(address(host, path), &context, [&](const FetchedPage& page) { got = page; });
        if (!QTest::qWaitFor([&] { return got.has_value(); }, 10000))
            return FetchedPage();
        return *got;
    };

    const FetchedPage answered = get(1, "/busy-" + tag);
    QVERIFY(!answered.ok);
    QVERIFY(answered.body.isEmpty());
    const QDateTime until = now.addSecs(seconds);
    // A date loses the seconds that pass while the case runs.
    QVERIFY2(qAbs(answered.retryAt.secsTo(until)) <= (retryAfter.contains("GMT") ? 5 : 0),
             qPrintable(answered.retryAt.toString(Qt::ISODate)));
    const QString next = QLocale().toString(answered.retryAt.time(), QStringLiteral("HH:mm"));
    QCOMPARE(answered.error, QStringLiteral("HTTP %1, %2; next try after %3")
                                 .arg(status)
                                 .arg(status == 429 ? "too many requests" : "service unavailable", next));

    // Until then no request goes to that host, for any page; other hosts are asked as usual.
    const FetchedPage held = get(1, "/other-" + tag);
    QVERIFY(!held.ok);
    QVERIFY2(held.error.contains("next try after " + next), qPrintable(held.error));
    QCOMPARE(server.hits("/other-" + tag), 0);
    QVERIFY(get(2, "/other-" + tag).ok);
    QCOMPARE(server.hits("/other-" + tag), 1);
    QCOMPARE(server.hits("/busy-" + tag), 1);

    now = answered.retryAt.addSecs(-1);
    QVERIFY(!get(1, "/other-" + tag).ok);
    QCOMPARE(server.hits("/other-" + tag), 1);
    now = answered.retryAt;
    QVERIFY(get(1, "/other-" + tag).ok);
    QCOMPARE(server.hits("/other-" + tag), 2);
    QVERIFY(!fetcher.deferredUntil(address(1, "/")).isValid());
}

QTEST_GUILESS_MAIN(TestPageFetcher)
#include "tst_pagefetcher.moc"

void TestPageFetcher::onlyWebAddressesAreRequested_data()
{
    QTest::addColumn<QString>("address");
    QTest::addRow("local file") << "file:///etc/hostname";
    QTest::addRow("ftp") << "ftp://127.0.0.1/x";
    QTest::addRow("data") << "data:text/html,<a href=x>x</a>";
    QTest::addRow("resource") << "qrc:/x";
}

void TestPageFetcher::onlyWebAddressesAreRequested()
{
    QFETCH(QString, address);
    PageFetcher fetcher;
    QObject context;
    std::optional<FetchedPage> got;
    fetcher.fetch(address, &context, [&got](const FetchedPage& page) { got = page; });
    // Failed from the event loop, as a finished download would be, never at once.
    QVERIFY(!got);
    QTRY_VERIFY(got.has_value());
    QVERIFY(!got->ok);
    QVERIFY(got->body.isEmpty());
    QCOMPARE(got->error, QString("only http and https addresses are read"));
}
