// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/bodybudget.h"
#include "engine/fetching/hostdeferrals.h"
#include "engine/fetching/pagefetcher.h"
#include "tests/support/testserver.h"

#include <QLocale>
#include <QTest>
#include <QTimeZone>

#include <optional>

namespace {
// One running download as the budget sees it.
struct Download
{
    quint64 ticket;
    bool waited;
    qint64 announced;
    qint64 received;
};
using Downloads = QList<Download>;
} // namespace
Q_DECLARE_METATYPE(Downloads)

class TestPageFetcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void waitedDownloadGetsAConnection_data();
    void waitedDownloadGetsAConnection();
    void bodyBudget_data();
    void bodyBudget();
    void bodiesInFlightAreBounded();
    void hostDeferrals_data();
    void hostDeferrals();
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
    // The fetcher's clock in the deferral cases, far from the real time, so a reading of the system's shows.
    const QDateTime now{QDate(2030, 6, 1), QTime(12, 0), QTimeZone::utc()};
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
        std::optional<FetchedPage> page;
        fetcher.fetch(address(1, "/page"), &context, [&](const FetchedPage& fetched) { page = fetched; });
        QTRY_VERIFY_WITH_TIMEOUT(page.has_value(), 10000);
        QVERIFY2(page->ok, qPrintable(page->error));
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

void TestPageFetcher::bodyBudget_data()
{
    QTest::addColumn<Downloads>("running"); // under a bound of 100 bytes, the oldest first
    QTest::addColumn<bool>("backgroundBegins");
    QTest::addColumn<bool>("waitedBegins");
    QTest::addColumn<QList<int>>("readers"); // the tickets that may read on

    QTest::addRow("nothing running") << Downloads{} << true << true << QList<int>{};
    // Announced bodies count before they arrive; the younger one reads while the oldest's 60 fit beside it.
    QTest::addRow("announced bodies fill the bound")
        << Downloads{{1, false, 60, 0}, {2, false, 50, 0}} << false << true << QList<int>{1, 2};
    // The first download the user waits for never waits for background bodies, a second one does.
    QTest::addRow("one waited download runs already")
        << Downloads{{1, false, 0, 100}, {2, true, 0, 0}} << false << false << QList<int>{1, 2};
    // 30 held and 80 still to come for the oldest and the oldest waited leave no room for a third reader.
    QTest::addRow("room kept for the privileged two")
        << Downloads{{1, false, 50, 10}, {2, true, 40, 0}, {3, false, 0, 20}} << false << false << QList<int>{1, 2};
    QTest::addRow("room left for a third reader")
        << Downloads{{1, false, 50, 10}, {2, true, 40, 0}, {3, false, 0, 5}} << true << true << QList<int>{1, 2, 3};
}

void TestPageFetcher::bodyBudget()
{
    QFETCH(Downloads, running);
    QFETCH(bool, backgroundBegins);
    QFETCH(bool, waitedBegins);
    QFETCH(QList<int>, readers);

    BodyBudget budget;
    budget.setMaxBytes(100);
    qint64 received = 0;
    for (const Download& download : running) {
        budget.begin(download.ticket, download.waited);
        budget.announce(download.ticket, download.announced);
        budget.receive(download.ticket, download.received);
        received += download.received;
    }
    QCOMPARE(budget.heldBytes(), received);
    QCOMPARE(budget.mayBegin(false), backgroundBegins);
    QCOMPARE(budget.mayBegin(true), waitedBegins);
    for (const Download& download : running)
        QCOMPARE(budget.mayRead(download.ticket), readers.contains(int(download.ticket)));

    // Ended without a body to hand over (a busy host's answer), they hold and commit nothing more.
    for (const Download& download : running)
        budget.end(download.ticket, 0);
    QVERIFY(budget.mayBegin(false));
    QCOMPARE(budget.heldBytes(), 0);
    QCOMPARE(budget.peakHeldBytes(), received);
}

void TestPageFetcher::bodiesInFlightAreBounded()
{
    // Sixteen pages of 300 kB on four hosts, each body distinct so a mix-up shows.
    constexpr int Pages = 16;
    constexpr qint64 PageBytes = 300 * 1000;
    for (int i = 0; i < Pages; ++i)
        server.setPage(QStringLiteral("/big%1").arg(i), QByteArray(PageBytes, char('a' + i)));

    // With a bound of three pages, what is held stays near it: the oldest download and the oldest one
    // waited for may go past it, and one page's read buffer. Every body arrives whole and is let go.
    const qint64 limit = 3 * PageBytes;
    PageFetcher fetcher;
    fetcher.setMaxBytesInFlight(limit);
    QObject context;
    int done = 0;
    bool intact = true;
    for (int i = 0; i < Pages; ++i) {
        fetcher.fetch(address(1 + i % 4, QStringLiteral("/big%1").arg(i)), &context, [&, i](const FetchedPage& page) {
            ++done;
            intact = intact && page.ok && page.body == QByteArray(PageBytes, char('a' + i));
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(done, Pages, 20000);
    QVERIFY(intact);
    QCOMPARE(fetcher.heldBytes(), 0);
    const qint64 bounded = fetcher.peakHeldBytes();
    QVERIFY2(bounded <= limit + 2 * PageBytes + PageFetcher::ReadBufferBytes,
             qPrintable(QStringLiteral("%1 of %2").arg(bounded).arg(limit)));
}

void TestPageFetcher::hostDeferrals_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("asked");    // the seconds the answer's Retry-After asked for
    QTest::addColumn<int>("earlier");  // seconds of a deferral noted before; 0: none
    QTest::addColumn<int>("deferred"); // seconds the host is left alone; 0: not at all

    QTest::addRow("429") << 429 << 120 << 0 << 120;
    QTest::addRow("503") << 503 << 30 << 0 << 30;
    QTest::addRow("a later time noted stands") << 503 << 30 << 600 << 600;
    QTest::addRow("an earlier time is moved on") << 429 << 300 << 60 << 300;
    QTest::addRow("an answer with nothing to wait for") << 429 << 0 << 0 << 0;
    QTest::addRow("a page") << 200 << 120 << 0 << 0;
    QTest::addRow("a server error") << 500 << 120 << 0 << 0;
}

void TestPageFetcher::hostDeferrals()
{
    QFETCH(int, status);
    QFETCH(int, asked);
    QFETCH(int, earlier);
    QFETCH(int, deferred);

    const auto answer = [](int status, int seconds) {
        FetchedPage page;
        page.ok = status == 200;
        page.status = status;
        page.body = "<a href=x>x</a>";
        page.retryAfterSeconds = seconds;
        return page;
    };
    HostDeferrals deferrals;
    FetchedPage before = answer(503, earlier);
    QVERIFY(earlier == 0 || deferrals.note("busy:80", before, now));
    FetchedPage page = answer(status, asked);
    const bool noted = deferrals.note("busy:80", page, now);
    // An answer asking to come back later is a failure naming its own next try, without a body.
    QCOMPARE(noted, status == 429 || status == 503);
    QCOMPARE(page.ok, status == 200);
    QCOMPARE(page.body.isEmpty(), noted);
    QCOMPARE(page.retryAt, noted ? now.addSecs(asked) : QDateTime());
    const auto next = [](const QDateTime& at) { return QLocale().toString(at.time(), QStringLiteral("HH:mm")); };
    const QString words =
        QStringLiteral("HTTP %1, %2").arg(status).arg(status == 429 ? "too many requests" : "service unavailable");
    QCOMPARE(page.error, noted ? words + "; next try after " + next(page.retryAt) : QString());

    // Refused up to the last second, with the time of the next try; asked again from then on.
    const QDateTime until = now.addSecs(deferred);
    QCOMPARE(deferrals.until("busy:80", now), deferred > 0 ? until : QDateTime());
    QVERIFY(!deferrals.until("other:80", now).isValid());
    const std::optional<HostDeferrals::Deferral> last =
        deferrals.take("busy:80", deferred > 0 ? until.addSecs(-1) : now);
    QCOMPARE(last.has_value(), deferred > 0);
    if (last) {
        const FetchedPage refused = HostDeferrals::refused("http://busy/p", *last);
        QCOMPARE(refused.retryAt, until);
        QCOMPARE(refused.error, words + " earlier; next try after " + next(until));
    }
    QVERIFY(!deferrals.take("busy:80", until));
    QVERIFY(!deferrals.until("busy:80", now).isValid());
}

void TestPageFetcher::busyHostIsLeftAlone_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("retryAfter");
    QTest::addColumn<int>("seconds"); // how long the host is left alone

    QTest::addRow("429 with seconds") << 429 << QByteArray("120") << 120;
    // A date is counted from the fetcher's clock, not the system's.
    QTest::addRow("503 with a date")
        << 503 << QLocale::c().toString(now.addSecs(300), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1()
        << 300;
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
    busy.headers = {{"Retry-After", retryAfter}};
    server.setResponse("/busy-" + tag, busy);
    server.setPage("/other-" + tag, "other page");

    QDateTime clock = now;
    PageFetcher fetcher;
    fetcher.setClock([&clock] { return clock; });
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
    QCOMPARE(answered.retryAt, now.addSecs(seconds));
    QCOMPARE(fetcher.deferredUntil(address(1, "/")), answered.retryAt);

    // Until then no request goes to that host, for any page; other hosts are asked as usual.
    const FetchedPage held = get(1, "/other-" + tag);
    QVERIFY(!held.ok);
    QCOMPARE(held.retryAt, answered.retryAt);
    QCOMPARE(server.hits("/other-" + tag), 0);
    QVERIFY(get(2, "/other-" + tag).ok);
    QCOMPARE(server.hits("/other-" + tag), 1);

    clock = answered.retryAt;
    QVERIFY(get(1, "/other-" + tag).ok);
    QCOMPARE(server.hits("/other-" + tag), 2);
    QCOMPARE(server.hits("/busy-" + tag), 1);
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
