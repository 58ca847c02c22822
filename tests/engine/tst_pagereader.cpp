// SPDX-License-Identifier: GPL-3.0-or-later
// Pages read on a pool of workers (PageReader), and a task's use of the reading a page carries.
#include <QtTest>

#include "engine/definition/task.h"
#include "engine/matching/pagereader.h"
#include "engine/matching/readingresult.h"

class TestPageReader : public QObject
{
    Q_OBJECT

private slots:
    void pageReader_data();
    void pageReader();
    void readerStopsItsReadings_data();
    void readerStopsItsReadings();
    void readingOfAnotherRule_data();
    void readingOfAnotherRule();
};

namespace {
// Page i of a set: 30 links, 20 of them with the keyword, two of which repeat a link with another text.
FetchedPage numberedPage(int i, bool ok = true)
{
    QByteArray html = "<html><body>";
    for (int k = 0; k < 30; ++k)
        html += QStringLiteral("<a href=\"/p%1/%2\">%3 %4 of %1</a>")
                    .arg(i)
                    .arg(k % 25)
                    .arg(k % 3 ? "Item" : "Other")
                    .arg(k)
                    .toUtf8();
    FetchedPage page;
    page.ok = ok;
    page.body = html + "</body></html>";
    page.url = QUrl(QStringLiteral("http://h%1/index.html").arg(i));
    return page;
}

LinkRule ruleOf(int i)
{
    return {QStringLiteral("http://h%1/index.html").arg(i), QStringLiteral("item"), {}, {}};
}

QStringList linesOf(const QList<PageLink>& links)
{
    QStringList lines;
    for (const PageLink& link : links)
        lines.append(link.link + u' ' + link.text);
    return lines;
}
} // namespace

void TestPageReader::pageReader_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<QString>("drop"); // what happens to the readings once every page was handed over
    QTest::addColumn<QList<int>>("delivered");
    QTest::addColumn<bool>("asRead"); // PageReader::Order::AsRead instead of the order given
    QList<int> all, even;
    for (int i = 0; i < 24; ++i) {
        all.append(i);
        if (i % 2 == 0)
            even.append(i);
    }
    QTest::newRow("on the calling thread") << 0 << "" << all << false;
    QTest::newRow("one worker") << 1 << "" << all << false;
    QTest::newRow("four workers") << 4 << "" << all << false;
    QTest::newRow("contexts of odd pages destroyed") << 4 << "odd contexts" << even << false;
    QTest::newRow("every reading dropped") << 1 << "abort" << QList<int>() << false;
    QTest::newRow("reader gone") << 4 << "reader" << QList<int>() << false;
    QTest::newRow("as read, no workers asked") << 0 << "" << all << true;
    QTest::newRow("as read, one worker") << 1 << "" << all << true;
    QTest::newRow("as read, four workers") << 4 << "" << all << true;
}

// Pages read on workers come back on the caller's thread, in the order they were given (or as they are read), with
// the reading the caller would have made; a page whose context is gone, or that was dropped, comes back never, and
// nothing is touched after that. A page not read is handed on as read at once; one given while every worker is busy
// waits for one, and is never read on the calling thread.
void TestPageReader::pageReader()
{
    QFETCH(int, workers);
    QFETCH(QString, drop);
    QFETCH(QList<int>, delivered);
    QFETCH(bool, asRead);
    const PageReader::Order given = asRead ? PageReader::Order::AsRead : PageReader::Order::Given;
    constexpr int Pages = 24;
    std::optional<PageReader> reader(std::in_place, workers);
    std::atomic<int> onCaller{0};
    reader->setReadingEnded([&onCaller](const PageReading&) {
        onCaller += QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    std::vector<std::unique_ptr<QObject>> contexts;
    QHash<int, QStringList> got;
    QList<int> order; // i for page i read, -1 - i for its failed twin, as they were handed on
    for (int i = 0; i < Pages; ++i) {
        contexts.push_back(std::make_unique<QObject>());
        reader->read(
            numberedPage(i), ruleOf(i), contexts.back().get(),
            [&got, &order, i](const FetchedPage& page) {
                QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
                QVERIFY(page.reading);
                QVERIFY(!page.body.isEmpty());
                got.insert(i, linesOf(page.reading->links) << QString::number(page.reading->found.size()));
                order.append(i);
            },
            given);
        // No event loop has run: every page is still with the workers or waits for one.
        QVERIFY(!order.contains(i));
        // A page not read whole is not read, and keeps its place.
        reader->read(
            numberedPage(i, false), ruleOf(i), contexts.back().get(),
            [&order, i](const FetchedPage& page) {
                QVERIFY(!page.reading);
                order.append(-1 - i);
            },
            given);
        if (asRead)
            QVERIFY(order.contains(-1 - i));
    }
    if (drop == u"odd contexts") {
        for (int i = 1; i < Pages; i += 2)
            contexts[size_t(i)].reset();
    } else if (drop == u"abort") {
        reader->abortAll();
        // With one worker the readings end in order: once this one is back, every dropped one has ended.
        bool after = false;
        reader->read(numberedPage(0), ruleOf(0), contexts[0].get(), [&after](const FetchedPage&) { after = true; });
        QTRY_VERIFY(after);
    } else if (drop == u"reader") {
        reader.reset();
    }
    QList<int> expected;
    for (int i : delivered)
        expected << i << -1 - i;
    QTRY_COMPARE(order.size(), expected.size());
    reader.reset(); // waits for the workers
    QCoreApplication::sendPostedEvents();
    if (asRead) {
        std::sort(order.begin(), order.end());
        std::sort(expected.begin(), expected.end());
    }
    QCOMPARE(order, expected);
    QCOMPARE(onCaller.load(), 0);
    for (int i : delivered) {
        const PageReading reading = Task::readPage(numberedPage(i), ruleOf(i));
        QCOMPARE(got.value(i), linesOf(reading.links) << QString::number(reading.found.size()));
        QCOMPARE(reading.links.size(), 20);
        QCOMPARE(reading.found.size(), 18);
    }
}

void TestPageReader::readerStopsItsReadings_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("stop"); // "reader": the reader is destroyed; "abort": abortAll(); "budget": none
    QTest::addColumn<QString>("error");
    const QString slow = QStringLiteral("//*[string-length(/) > 0]");
    const QString cancelled = QStringLiteral("the reading of the region was cancelled");
    QTest::newRow("reader destroyed") << slow << "reader" << cancelled;
    QTest::newRow("pages dropped") << slow << "abort" << cancelled;
    QTest::newRow("time spent") << slow << "budget"
                                << "the region took too long to evaluate";
    // The links read from the page's text count as the tree's memory does.
    QTest::newRow("memory spent") << "p"
                                  << "budget"
                                  << "the region took too much memory to evaluate";
    QTest::newRow("memory spent on the tree") << "p:first-child"
                                              << "budget"
                                              << "the region took too much memory to evaluate";
}

// A reading under way stops at once when the reader ends or drops its pages (cancelled, not run to its time
// limit), and one past its budget fails its page with the reason.
void TestPageReader::readerStopsItsReadings()
{
    QFETCH(QString, region);
    QFETCH(QString, stop);
    QFETCH(QString, error);
    // An hour of CPU would be spent on the whole-document function of every element, but for the stop.
    ReadingLimits limits{3600'000'000'000LL, ReadingLimits::DefaultMemoryBytes};
    if (error.contains(u"long"))
        limits.cpuNs = 100'000'000;
    else if (error.contains(u"memory"))
        limits.memoryBytes = 64 * 1024;
    std::optional<PageReader> reader(std::in_place, 1, limits);
    QMutex mutex;
    QStringList ended;
    reader->setReadingEnded([&](const PageReading& reading) {
        const QMutexLocker lock(&mutex);
        ended.append(reading.error);
    });
    FetchedPage page;
    page.ok = true;
    page.body =
        "<html><body>" + QByteArray("<p><a href=\"/w\">words of text</a></p>").repeated(20000) + "</body></html>";
    page.contentType = "text/html; charset=utf-8";
    QObject context;
    FetchedPage got;
    reader->read(page, {QStringLiteral("http://h/"), QStringLiteral("t"), {}, region}, &context,
                 [&got](const FetchedPage& read) { got = read; });
    if (stop == u"budget") {
        QTRY_VERIFY(!got.error.isEmpty());
        QCOMPARE(got.error, error);
        QVERIFY(!got.ok);
        QVERIFY(!got.reading);
        return;
    }
    QTRY_COMPARE(reader->readingsRunning(), 1);
    if (stop == u"abort") {
        reader->abortAll();
        QTRY_COMPARE(reader->readingsRunning(), 0);
    } else {
        reader.reset();
    }
    const QMutexLocker lock(&mutex);
    QCOMPARE(ended, QStringList{error});
    QCoreApplication::sendPostedEvents();
    QVERIFY(got.body.isEmpty()); // never handed on
}

void TestPageReader::readingOfAnotherRule_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("used");
    QTest::newRow("same rule") << "" << true;
    QTest::newRow("keyword changed") << "keyword" << false;
    QTest::newRow("address changed") << "address" << false;
    QTest::newRow("excluded words changed") << "excluded" << false;
    QTest::newRow("region changed") << "region" << false;
}

// A task uses a page's reading only when it was made by the task's rule as it is now: a task edited while its page
// was read reads the page again by its new rule.
void TestPageReader::readingOfAnotherRule()
{
    QFETCH(QString, change);
    QFETCH(bool, used);
    Task task(1, {"t", "http://h1/index.html", "item", 60, {}});
    LinkRule rule = task.linkRule();
    if (change == u"keyword")
        rule.keyword = "other";
    else if (change == u"address")
        rule.address = "http://h2/index.html";
    else if (change == u"excluded")
        rule.excluded = QStringList{"3"};
    else if (change == u"region")
        rule.region = "#none";
    FetchedPage page = numberedPage(1);
    PageReading reading = Task::readPage(page, rule);
    QCOMPARE(reading.regionMissed, change == u"region");
    reading.links.append(PageLink{"http://marker/", "Item marker"});
    reading.found.insert("http://marker/", "Item marker");
    page.reading = std::make_shared<const PageReading>(reading);

    QStringList results;
    for (const Task::ResultPtr& result : task.resultsOfPage(page, QDate(2026, 1, 1)))
        results.append(result->link + u' ' + result->text);
    QCOMPARE(results, used ? linesOf(reading.links) : linesOf(Task::readPage(numberedPage(1), task.linkRule()).links));
    QCOMPARE(linesOf(task.linksOfPage(page)), results);
    QVERIFY(!task.regionMatchedNothing());
    // The comparison meets the marker only through the reading.
    Task::ResultList stored;
    stored.append(Task::ResultPtr::create(TaskResult{1, QDate(2026, 1, 1), "Item old", "http://marker/", 0}));
    task.setResults(stored);
    QCOMPARE(task.takeUpdatePage(page, QDate(2026, 1, 2)), used);
}

QTEST_GUILESS_MAIN(TestPageReader)
#include "tst_pagereader.moc"
