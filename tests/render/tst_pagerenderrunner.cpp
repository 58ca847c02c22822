// SPDX-License-Identifier: GPL-3.0-or-later
// The program's side of a render: vantrel-render started, bounded, killed, and its page handed back as a
// download's.
#include "engine/definition/task.h"
#include "engine/rendering/pagerenderrunner.h"
#include "tests/support/testserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>

namespace {
const QByteArray kScriptBuilt = R"(<html><body><div id="d"></div><script>
setTimeout(function () {
  var a = document.createElement('a'); a.href = 'offer/7'; a.textContent = 'Offer: caf\u00e9';
  document.getElementById('d').appendChild(a);
}, 100);
</script></body></html>)";
const QByteArray kNeverLoads = R"(<html><body><script src="/never.js"></script></body></html>)";

// An answer frame as a shell's printf writes it.
QByteArray answer(const QByteArray& id, const QByteArray& result, const QByteArray& reason)
{
    return "vantrel-render 1\\nid: " + id + "\\nresult: " + result + "\\nreason: " + reason +
           "\\nurl: \\nstatus: 0\\nlength: 0\\n\\n";
}

bool alive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0;
}
} // namespace

class TestPageRenderRunner : public QObject
{
    Q_OBJECT

private:
    // Renders once and waits (bounded) for the callback.
    std::optional<FetchedPage> renderOnce(PageRenderRunner& runner, const QString& address, int waitMs = 20000)
    {
        std::optional<FetchedPage> got;
        runner.render(address, this, [&got](const FetchedPage& page) { got = page; });
        if (!QTest::qWaitFor([&got] { return got.has_value(); }, waitMs))
            qWarning("no page after %d ms", waitMs);
        return got;
    }
    // A stand-in helper: a shell script with the given body.
    QString fakeHelper(const QByteArray& body)
    {
        const QString path = m_dir.filePath(QStringLiteral("helper-%1").arg(++m_fakes));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    TestServer server;
    QTemporaryDir m_dir;
    int m_fakes = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(server.listen());
        server.setPage("/built", kScriptBuilt);
        server.setPage("/never-loads", kNeverLoads);
        TestServer::Response never;
        never.never = true;
        server.setResponse("/never.js", never);
        TestServer::Response late;
        late.body = kScriptBuilt;
        late.delayMs = 600;
        for (int i = 0; i < 4; ++i)
            server.setResponse(QStringLiteral("/late%1").arg(i), late);
    }

    void pageGoesThroughTheDownloadsScan()
    {
        PageRenderRunner runner;
        runner.setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        QVERIFY(runner.isAvailable());
        const std::optional<FetchedPage> page = renderOnce(runner, server.url("/built").toString());
        QVERIFY(page);
        QVERIFY2(page->ok, qPrintable(page->error));
        QCOMPARE(page->status, 200);
        QCOMPARE(page->url, server.url("/built"));
        Task task(1, {"t", server.url("/built").toString(), QStringLiteral("café"), 60, {}});
        const Task::ResultList results = task.resultsOfPage(*page, QDate::currentDate());
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0]->link, server.url("/offer/7").toString());
        QCOMPARE(results[0]->text, QStringLiteral("Offer: café"));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: no helper at all
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("status");
        QTest::newRow("helper missing") << QByteArray() << 30000 << PageRenderRunner::missingMessage() << 0;
        QTest::newRow("reason of its own")
            << QByteArray("echo 'engine noise' >&2; echo 'vantrel-render: net::ERR_X' >&2; "
                          "echo 'vantrel-render: boom' >&2; exit 2")
            << 30000 << "boom" << 0;
        QTest::newRow("HTTP error status as a download's")
            << QByteArray("read -r line; printf '" + answer("1", "3", "HTTP status 404") + "'; read -r line") << 30000
            << "HTTP status 404" << 404;
        QTest::newRow("no reason") << QByteArray("exit 4") << 30000 << "rendering the page took too long" << 0;
        QTest::newRow("a cut frame")
            << QByteArray("printf 'vantrel-render 1\\nurl: http://a/\\nstatus: 200\\nlength: 99\\n\\nab'") << 30000
            << "the page renderer wrote no whole page" << 0;
        QTest::newRow("outlives its bound")
            << QByteArray("exec sleep 60") << 200 << "rendering the page took too long" << 0;
        QTest::newRow("killed by a signal")
            << QByteArray("kill -9 $$") << 30000 << "the page renderer stopped unexpectedly" << 0;
        QTest::newRow("floods its error output") << QByteArray("exec yes 'console noise'  >&2") << 30000
                                                 << "the page renderer wrote too much on its error output" << 0;
        QTest::newRow("writes what is not a page")
            << QByteArray("exec yes 'noise'") << 30000 << "the page renderer wrote no whole page" << 0;
    }
    void failures()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, timeoutMs);
        QFETCH(QString, reason);
        QFETCH(int, status);
        PageRenderRunner runner;
        runner.setProgram(script.isEmpty() ? m_dir.filePath("no-such-helper") : fakeHelper(script));
        QCOMPARE(runner.isAvailable(), !script.isEmpty());
        runner.setTimeoutMs(timeoutMs);
        const std::optional<FetchedPage> page = renderOnce(runner, "http://127.0.0.1:9/", 10000);
        QVERIFY(page);
        QVERIFY(!page->ok);
        QCOMPARE(page->error, reason);
        QCOMPARE(page->status, status);
        QVERIFY(page->body.isEmpty());
        QCOMPARE(runner.running(), 0);
    }

    // A crash of the helper fails the pages it held, not those still waiting; they get a fresh helper.
    void crashFailsOnlyWhatItHeld()
    {
        PageRenderRunner runner;
        runner.setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        runner.setMaxRunning(2);
        QStringList got;
        for (const char* path : {"/never-loads", "/never-loads", "/built"})
            runner.render(server.url(path).toString(), this,
                          [&got](const FetchedPage& page) { got.append(page.ok ? QStringLiteral("ok") : page.error); });
        QCOMPARE(runner.running(), 2);
        QCOMPARE(runner.queued(), 1);
        const QList<qint64> first = runner.processIds();
        QCOMPARE(first.size(), 1);
        QTest::qWait(500); // let the engine start
        ::kill(pid_t(first[0]), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 3, 20000);
        const QStringList expected{"the page renderer stopped unexpectedly", "the page renderer stopped unexpectedly",
                                   "ok"};
        QCOMPARE(got, expected);
    }

    // One helper renders the pages at once, then ends when it has had nothing to do for a while.
    void sharedHelperThenIdleEndAndAbort()
    {
        PageRenderRunner runner;
        runner.setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        runner.setIdleMs(200);
        QCOMPARE(runner.maxRunning(), PageRenderRunner::DefaultMaxRunning);
        int delivered = 0;
        for (int i = 0; i < 4; ++i)
            runner.render(server.url(QStringLiteral("/late%1").arg(i)).toString(), this,
                          [&delivered](const FetchedPage& page) { delivered += page.ok ? 1 : 100; });
        QCOMPARE(runner.running(), 4);
        QCOMPARE(runner.processIds().size(), 1);
        const qint64 pid = runner.processIds()[0];
        QTRY_COMPARE_WITH_TIMEOUT(delivered, 4, 40000);
        QCOMPARE(runner.peakRunning(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(runner.processIds().isEmpty(), 10000);
        QVERIFY(!alive(pid));

        // Abort: the renders end at once, and nothing is delivered.
        delivered = 0;
        runner.setMaxRunning(2);
        for (int i = 0; i < 3; ++i)
            runner.render(server.url("/never-loads").toString(), this,
                          [&delivered](const FetchedPage&) { ++delivered; });
        QCOMPARE(runner.running(), 2);
        QCOMPARE(runner.queued(), 1);
        const QList<qint64> pids = runner.processIds();
        QElapsedTimer clock;
        clock.start();
        runner.abortAll();
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        for (qint64 id : pids)
            QVERIFY(!alive(id));
        QCOMPARE(runner.running() + runner.queued(), 0);
        QTest::qWait(200);
        QCOMPARE(delivered, 0);
    }

    // A cancelled render gets no callback, and the helper it leaves idle ends.
    void cancelledRenderLeavesTheHelperIdle()
    {
        PageRenderRunner runner;
        runner.setProgram(QStringLiteral(VANTREL_RENDER_PATH));
        runner.setIdleMs(200);
        bool called = false;
        const quint64 ticket = runner.render(server.url("/never-loads").toString(), this,
                                             [&called](const FetchedPage&) { called = true; });
        QCOMPARE(runner.processIds().size(), 1);
        QTest::qWait(300); // the request reaches the helper
        runner.cancel(ticket);
        QCOMPARE(runner.running(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(runner.processIds().isEmpty(), 10000);
        QVERIFY(!called);
    }

    // Renders the user waits for start before background ones that were asked for earlier.
    void waitedGoFirst()
    {
        // Answers every render at once, failing it with its id as the reason.
        const QString helper = fakeHelper("while read -r word id; do [ \"$word\" = render ] && printf '" +
                                          answer("%s", "2", "%s") + "' \"$id\" \"$id\"; done");
        PageRenderRunner runner;
        runner.setProgram(helper);
        runner.setMaxRunning(1);
        QStringList order;
        auto record = [&order](const FetchedPage& page) { order.append(page.error); };
        using P = PageRenderRunner::Priority;
        for (P priority : {P::Background, P::Background, P::Background, P::Waited, P::Waited})
            runner.render(QStringLiteral("http://127.0.0.1:9/"), this, record, priority);
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 5, 10000);
        const QStringList expected{"1", "4", "5", "2", "3"};
        QCOMPARE(order, expected);
    }

    // The time a render waits in the queue counts against its bound.
    void queueTimeCounts()
    {
        PageRenderRunner runner;
        runner.setProgram(fakeHelper("exec sleep 30"));
        runner.setMaxRunning(1);
        runner.setTimeoutMs(300);
        std::optional<FetchedPage> first, second;
        runner.render("http://127.0.0.1:9/a", this, [&first](const FetchedPage& page) { first = page; });
        runner.render("http://127.0.0.1:9/b", this, [&second](const FetchedPage& page) { second = page; });
        QTRY_VERIFY_WITH_TIMEOUT(second.has_value(), 10000);
        QVERIFY(!first); // still held by the helper, which the runner ends only a grace time later
        QCOMPARE(runner.running(), 1);
        QCOMPARE(second->error, QStringLiteral("rendering the page took too long"));
        runner.abortAll();
    }

    // Whether the engine starts at all is learnt once, in the background, before anyone relies on it.
    void probe_data()
    {
        QTest::addColumn<QByteArray>("script"); // empty: the real helper
        QTest::addColumn<bool>("works");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the real helper") << QByteArray() << true << QString();
        QTest::newRow("engine refuses") << QByteArray("echo 'vantrel-render: no GPU process' >&2; exit 7") << false
                                        << "The browser engine of vantrel-render cannot start here: no GPU process";
        QTest::newRow("engine aborts")
            << QByteArray("kill -6 $$") << false
            << "The browser engine of vantrel-render cannot start here: it stopped unexpectedly";
    }
    void probe()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, works);
        QFETCH(QString, reason);
        PageRenderRunner runner;
        runner.setProgram(script.isEmpty() ? QStringLiteral(VANTREL_RENDER_PATH) : fakeHelper(script));
        QVERIFY(runner.isAvailable()); // installed: offered until the probe says otherwise
        QSignalSpy checked(&runner, &PageRenderRunner::engineChecked);
        runner.probeEngine();
        runner.probeEngine(); // once only
        QVERIFY(checked.wait(15000));
        QTest::qWait(100);
        QCOMPARE(checked.count(), 1);
        QCOMPARE(checked.at(0).at(0).toBool(), works);
        QCOMPARE(runner.isAvailable(), works);
        QCOMPARE(runner.unavailableReason(), reason);
        QCOMPARE(checked.at(0).at(1).toString(), reason);
    }

    void goneContextGetsNothing()
    {
        PageRenderRunner runner;
        runner.setProgram(fakeHelper("sleep 0.2; exit 2"));
        bool called = false;
        auto context = std::make_unique<QObject>();
        runner.render("http://127.0.0.1:9/", context.get(), [&called](const FetchedPage&) { called = true; });
        context.reset();
        QTRY_COMPARE(runner.running(), 0);
        QTest::qWait(100);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestPageRenderRunner)
#include "tst_pagerenderrunner.moc"
