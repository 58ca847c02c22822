// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagefetcher.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QTest>

class TestPageFetcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void waitedDownloadGetsAConnection_data();
    void waitedDownloadGetsAConnection();
    void bodiesInFlightAreBounded();

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

QTEST_GUILESS_MAIN(TestPageFetcher)
#include "tst_pagefetcher.moc"
