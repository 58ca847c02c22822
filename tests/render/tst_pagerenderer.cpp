// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-render as the program that starts it sees it: its output frame and its exit statuses.
#include "engine/rendering/renderframe.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <optional>

namespace {
// A page whose list is filled from JSON the page's script fetches after loading.
const QByteArray kFetchedLinks =
    R"(<html><head><link rel="icon" href="/icon.png"></head><body><ul id="jobs"></ul><script>
fetch('/jobs.json').then(function (r) { return r.json(); }).then(function (jobs) {
  jobs.forEach(function (job) {
    var a = document.createElement('a'); a.href = job.href; a.textContent = job.title;
    var li = document.createElement('li'); li.appendChild(a); document.getElementById('jobs').appendChild(li);
  });
});
</script></body></html>)";
const QByteArray kJobsJson =
    R"([{"href": "/job/1", "title": "Job: welder"}, {"href": "job/2", "title": "Job: baker"}])";
// Links in the HTML whose text a script changes a moment after loading.
const QByteArray kChangedLinks = R"(<html><body><a id="a" href="/x">Job: old text</a><script>
setTimeout(function () { document.getElementById('a').textContent = 'Job: new text'; }, 200);
</script></body></html>)";
// A DOM that changes every 50 ms for ever.
const QByteArray kRestless = R"(<html><body><a href="/x">Job: steady</a><span id="n">0</span><script>
var n = 0; setInterval(function () { document.getElementById('n').textContent = ++n; }, 50);
</script></body></html>)";
// A document whose script never arrives, so it never finishes loading.
const QByteArray kNeverLoads =
    R"(<html><body><a href="/x">Job: here</a><script src="/never.js"></script></body></html>)";
// Pages that try to take all memory or all time; each says in a link what its script could keep.
const QByteArray kAnchors = R"(<html><body><div id="d"></div><script>
var text = 'x'.repeat(1000), d = document.getElementById('d');
for (var i = 0; i < 200000; i++) { var a = document.createElement('a'); a.href = '/a' + i; a.textContent = text;
  d.appendChild(a); }</script></body></html>)";
const QByteArray kCanvases = R"(<html><body><a id="r" href="/x">Job: none</a><script>
var kept = [], drawn = 0;
for (var i = 0; i < 4; i++) { var c = document.createElement('canvas'); c.width = c.height = 16384;
  var g = c.getContext('2d'); g.fillStyle = '#f00'; g.fillRect(0, 0, 16384, 16384);
  if (g.getImageData(16383, 16383, 1, 1).data[0] == 255) drawn++; kept.push(c); }
document.getElementById('r').textContent = 'Job: ' + (drawn < 4 ? 'refused' : 'kept');</script></body></html>)";
const QByteArray kTypedArrays = R"(<html><body><a id="r" href="/x">Job: none</a><script>
var kept = [];
try { for (var i = 0; i < 64; i++) kept.push(new Uint8Array(64 * 1024 * 1024).fill(1)); } catch (e) {}
document.getElementById('r').textContent = 'Job: ' + (kept.length < 64 ? 'refused' : 'kept');</script></body></html>)";
const QByteArray kNestedFrames = R"(<html><body><script>
var doc = document;
for (var i = 0; i < 2000; i++) { var f = doc.createElement('iframe'); doc.body.appendChild(f); doc = f.contentDocument;
  doc.open(); doc.write('<body></body>'); doc.close(); }</script></body></html>)";
const QByteArray kSpinning = R"(<html><body><a href="/x">Job: spin</a><script>
setTimeout(function () { for (;;) {} }, 50);</script></body></html>)";
constexpr qint64 MiB = 1024 * 1024;
} // namespace

class TestPageRenderer : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitStatus = -1; // the render's result, or the process's exit status when it answered nothing
        QString reason;
        std::optional<RenderFrame::Page> page;
        QByteArray err;
        qint64 ms = 0;
    };
    // Asks one helper for the requests (ids 1, 2, ...) on its standard input, all at once or each after the
    // answer to the one before, cancels those named, closes its input and reads its answers until it ends.
    QList<Run> renderAll(const QList<RenderFrame::Request>& requests, const QStringList& extra = {},
                         const QList<quint64>& cancelled = {}, bool oneByOne = false)
    {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(VANTREL_RENDER_PATH), extra);
        qsizetype sent = 0;
        auto sendNext = [&] {
            while (sent < requests.size()) {
                process.write(RenderFrame::encodeRequest(requests[sent++]));
                if (oneByOne)
                    return;
            }
            for (quint64 id : cancelled)
                process.write(RenderFrame::encodeCancel(id));
            process.closeWriteChannel();
        };
        sendNext();
        QList<Run> runs(requests.size());
        RenderFrame::Reader reader;
        auto read = [&] {
            reader.feed(process.readAllStandardOutput());
            while (const std::optional<RenderFrame::Answer> answer = reader.nextAnswer()) {
                Run& run = runs[qsizetype(answer->id - 1)];
                run.exitStatus = answer->result;
                run.reason = answer->reason;
                if (answer->result == RenderFrame::Rendered)
                    run.page = answer->page;
                run.ms = clock.elapsed();
                if (oneByOne)
                    sendNext();
            }
        };
        QObject::connect(&process, &QProcess::readyReadStandardOutput, read);
        // The server answers on this thread, so the wait runs its events.
        QSignalSpy finished(&process, &QProcess::finished);
        if (!finished.wait(25000)) {
            process.kill();
            process.waitForFinished(5000);
            return {};
        }
        read();
        for (Run& run : runs)
            run.err = process.readAllStandardError();
        if (reader.failed() || reader.buffered() > 0)
            return {};
        return runs;
    }
    Run render(const QUrl& url, QStringList extra = {})
    {
        RenderFrame::Request request;
        request.id = 1;
        request.url = url;
        // The bound travels with the request.
        const qsizetype at = extra.indexOf(QStringLiteral("--timeout-ms"));
        if (at >= 0) {
            request.timeoutMs = extra.value(at + 1).toInt();
            extra.remove(at, 2);
        }
        return renderAll({request}, extra).value(0);
    }
    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setPage("/fetched", kFetchedLinks);
        server.setPage("/jobs.json", kJobsJson, "application/json");
        server.setPage("/changed", kChangedLinks);
        server.setPage("/restless", kRestless);
        server.setPage("/never-loads", kNeverLoads);
        TestServer::Response never;
        never.never = true;
        server.setResponse("/never.js", never);
        server.setStatus("/missing", 404, "<html><body><a href=\"/x\">Job: not found</a></body></html>");
        server.setRedirect("/moved", server.url("/changed").toEncoded());
        server.setRedirect("/loop", server.url("/loop").toEncoded());
        server.setPage("/anchors", kAnchors);
        server.setPage("/canvases", kCanvases);
        server.setPage("/typed-arrays", kTypedArrays);
        server.setPage("/nested-frames", kNestedFrames);
        server.setPage("/spinning", kSpinning);
    }

    void renders_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("finalPath");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("links a script inserted after a fetch")
            << "/fetched" << QStringList{} << int(RenderFrame::Rendered) << "/fetched"
            << QStringList{"<a href=\"/job/1\">Job: welder</a>", "<a href=\"job/2\">Job: baker</a>"} << QStringList{};
        QTest::newRow("link texts a script changed")
            << "/changed" << QStringList{} << int(RenderFrame::Rendered) << "/changed" << QStringList{"Job: new text"}
            << QStringList{"Job: old text"};
        QTest::newRow("a redirection is followed") << "/moved" << QStringList{} << int(RenderFrame::Rendered)
                                                   << "/changed" << QStringList{"Job: new text"} << QStringList{};
        QTest::newRow("a DOM that never settles: the cap ends the wait")
            << "/restless" << QStringList{"--settle-cap-ms", "1500"} << int(RenderFrame::Rendered) << "/restless"
            << QStringList{"Job: steady"} << QStringList{};
        QTest::newRow("a page that never finishes loading")
            << "/never-loads" << QStringList{"--timeout-ms", "3000"} << int(RenderFrame::TimedOut) << QString()
            << QStringList{} << QStringList{};
        QTest::newRow("404") << "/missing" << QStringList{} << int(RenderFrame::HttpError) << QString() << QStringList{}
                             << QStringList{};
        QTest::newRow("endless redirections")
            << "/loop" << QStringList{} << int(RenderFrame::LoadFailed) << QString() << QStringList{} << QStringList{};
        QTest::newRow("larger than the output bound")
            << "/changed" << QStringList{"--max-bytes", "64"} << int(RenderFrame::TooLarge) << QString()
            << QStringList{} << QStringList{};
        QTest::newRow("nothing listening") << "http://127.0.0.1:9/" << QStringList{} << int(RenderFrame::LoadFailed)
                                           << QString() << QStringList{} << QStringList{};
        QTest::newRow("not a web address") << "file:///etc/passwd" << QStringList{} << int(RenderFrame::Usage)
                                           << QString() << QStringList{} << QStringList{};
    }
    void renders()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, options);
        QFETCH(int, exitStatus);
        QFETCH(QString, finalPath);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        const QUrl url = path.startsWith('/') ? server.url(path) : QUrl(path);
        const Run run = render(url, options);
        QVERIFY2(
            run.exitStatus == exitStatus,
            qPrintable(
                QStringLiteral("result %1 (%2), stderr: %3").arg(run.exitStatus).arg(run.reason, QString(run.err))));
        // The bounds hold: 3 s for the whole run, 1.5 s for the settling, plus the engine's start.
        QVERIFY2(run.ms < 12000, qPrintable(QString::number(run.ms)));
        if (exitStatus != RenderFrame::Rendered) {
            QVERIFY(!run.page);
            QVERIFY(!run.reason.isEmpty());
            return;
        }
        const std::optional<RenderFrame::Page> page = run.page;
        QVERIFY(page);
        QCOMPARE(page->url, server.url(finalPath));
        QCOMPARE(page->status, 200);
        // No icon is asked for, whether the page names one or not.
        QCOMPARE(server.hits("/icon.png") + server.hits("/favicon.ico"), 0);
        // Without a User-Agent of the task's own, the engine sends its own.
        QVERIFY2(server.lastHeader(finalPath, "user-agent").contains("QtWebEngine/"),
                 server.lastHeader(finalPath, "user-agent").constData());
        const QString document = QString::fromUtf8(page->document);
        for (const QString& text : present)
            QVERIFY2(document.contains(text), qPrintable(document));
        for (const QString& text : absent)
            QVERIFY2(!document.contains(text), qPrintable(document));
    }

    // The answers are read from a stream as it comes, in pieces of any size, and bounded.
    void answers_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("answers");
        QTest::addColumn<bool>("failed");
        RenderFrame::Answer rendered{
            7, RenderFrame::Rendered, {}, {QUrl("http://a/b?c=d"), 200, "<html>\n\n\xc3\xa9</html>"}};
        const QByteArray good = RenderFrame::encodeAnswer(rendered);
        const QByteArray refused = RenderFrame::encodeAnswer({8, RenderFrame::HttpError, "HTTP status 404\nx", {}});
        QTest::newRow("one") << good << 1 << false;
        QTest::newRow("two, the second a failure") << good + refused << 2 << false;
        QTest::newRow("cut: waits for the rest") << good.left(good.size() - 1) << 0 << false;
        QTest::newRow("empty") << QByteArray() << 0 << false;
        QTest::newRow("noise before") << "warning\n" + good << 0 << true;
        QTest::newRow("no id") << QByteArray("vantrel-render 1\nresult: 0\nurl: http://a/\nstatus: 200\nlength: 0\n\n")
                               << 0 << true;
        QTest::newRow("length not a number")
            << QByteArray("vantrel-render 1\nid: 1\nresult: 0\nurl: http://a/\nstatus: 200\nlength: x\n\n") << 0
            << true;
        QTest::newRow("negative length")
            << QByteArray("vantrel-render 1\nid: 1\nresult: 0\nurl: http://a/\nstatus: 200\nlength: -1\n\n") << 0
            << true;
        QTest::newRow("a document past the bound")
            << QByteArray("vantrel-render 1\nid: 1\nresult: 0\nurl: http://a/\nstatus: 200\nlength: 1025\n\n") << 0
            << true;
        QTest::newRow("lines without end") << QByteArray(RenderFrame::MaxFieldBytes + 1, 'x') << 0 << true;
    }
    void answers()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, answers);
        QFETCH(bool, failed);
        RenderFrame::Reader reader(1024);
        QList<RenderFrame::Answer> got;
        for (qsizetype at = 0; at < output.size(); at += 7) {
            reader.feed(output.mid(at, 7));
            while (const std::optional<RenderFrame::Answer> answer = reader.nextAnswer())
                got.append(*answer);
        }
        QCOMPARE(got.size(), answers);
        QCOMPARE(reader.failed(), failed);
        if (answers > 0) {
            QCOMPARE(got[0].id, 7u);
            QCOMPARE(got[0].page.url, QUrl("http://a/b?c=d"));
            QCOMPARE(QString::fromUtf8(got[0].page.document), QString::fromUtf8("<html>\n\n\xc3\xa9</html>"));
        }
        if (answers > 1) {
            QCOMPARE(got[1].result, int(RenderFrame::HttpError));
            QCOMPARE(got[1].reason, QStringLiteral("HTTP status 404 x")); // one line
        }
    }

    // A request keeps its headers; one that would break the frame is left out.
    void request()
    {
        RenderFrame::Request request{3,
                                     QUrl("https://h:8443/p?q=1"),
                                     1234,
                                     "Agent/1",
                                     {{"Cookie", "a=b; c=d"}, {"X-Bad", "1\r\nHost: x"}, {"X-Token", "t"}}};
        RenderFrame::Reader reader(0);
        reader.feed(RenderFrame::encodeRequest(request) + RenderFrame::encodeCancel(3));
        bool cancel = true;
        const std::optional<RenderFrame::Request> read = reader.nextRequest(&cancel);
        QVERIFY(read);
        QVERIFY(!cancel);
        QCOMPARE(read->id, 3u);
        QCOMPARE(read->url, request.url);
        QCOMPARE(read->timeoutMs, 1234);
        QCOMPARE(read->userAgent, QByteArray("Agent/1"));
        const RenderFrame::Headers expected{{"Cookie", "a=b; c=d"}, {"X-Token", "t"}};
        QCOMPARE(read->headers, expected);
        const std::optional<RenderFrame::Request> cancelled = reader.nextRequest(&cancel);
        QVERIFY(cancelled && cancel);
        QCOMPARE(cancelled->id, 3u);
        QVERIFY(!reader.failed());
    }

    // One engine renders several pages at once; a cancelled one is not answered.
    void severalAtOnce()
    {
        QList<RenderFrame::Request> requests;
        for (const char* path : {"/fetched", "/changed", "/never-loads", "/moved"})
            requests.append({quint64(requests.size() + 1), server.url(path), 20000, {}, {}});
        const QList<Run> runs = renderAll(requests, {}, {3});
        QCOMPARE(runs.size(), 4);
        QVERIFY(runs[0].page && runs[0].page->document.contains("Job: welder"));
        QVERIFY(runs[1].page && runs[1].page->document.contains("Job: new text"));
        QCOMPARE(runs[2].exitStatus, -1); // cancelled: no answer, and the helper ended without waiting for it
        QVERIFY(runs[3].page && runs[3].page->url == server.url("/changed"));
    }

    // A hostile page rendered beside three harmless ones, under small injected bounds: it fails with its
    // reason, or its allocations are refused and it renders within its bound; the others render.
    void hostilePageBesideHarmlessOnes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("pageMemory");
        QTest::addColumn<qint64>("totalMemory");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("reasonOrText");
        const QString past192 = QStringLiteral("the page used more than 192 MB while rendering");
        QTest::newRow("200,000 anchors of 1 KB")
            << "/anchors" << 192 * MiB << 1024 * MiB << 20000 << int(RenderFrame::OutOfMemory) << past192;
        QTest::newRow("2,000 nested frames")
            << "/nested-frames" << 192 * MiB << 1024 * MiB << 20000 << int(RenderFrame::OutOfMemory) << past192;
        QTest::newRow("four 16384x16384 canvases")
            << "/canvases" << 192 * MiB << 1024 * MiB << 20000 << int(RenderFrame::Rendered) << "Job: refused";
        QTest::newRow("4 GB of typed arrays")
            << "/typed-arrays" << 192 * MiB << 1024 * MiB << 20000 << int(RenderFrame::Rendered) << "Job: refused";
        QTest::newRow("the pages together past the total")
            << "/anchors" << 1024 * MiB << 450 * MiB << 20000 << int(RenderFrame::OutOfMemory)
            << "the pages rendered at once used more than 450 MB, this one the most";
        QTest::newRow("a timer spinning for ever")
            << "/spinning" << 192 * MiB << 1024 * MiB << 4000 << int(RenderFrame::TimedOut) << "no page after 4 s";
    }
    void hostilePageBesideHarmlessOnes()
    {
        QFETCH(QString, path);
        QFETCH(qint64, pageMemory);
        QFETCH(qint64, totalMemory);
        QFETCH(int, timeoutMs);
        QFETCH(int, exitStatus);
        QFETCH(QString, reasonOrText);
        QList<RenderFrame::Request> requests{{1, server.url(path), timeoutMs, {}, {}}};
        for (const char* harmless : {"/changed", "/fetched", "/moved"})
            requests.append({quint64(requests.size() + 1), server.url(harmless), 20000, {}, {}});
        const QList<Run> runs = renderAll(requests, {QStringLiteral("--page-memory"), QString::number(pageMemory),
                                                     QStringLiteral("--total-memory"), QString::number(totalMemory)});
        QCOMPARE(runs.size(), 4);
        // Where the engine refuses an allocation the page renders, but the engine may as well end the page's
        // process at its bound instead (it does so for some allocations, at random): either way the page stays
        // within its bound, and the second ending is told as the bound's.
        const QString pastPage = QStringLiteral("the page used more than %1 MB while rendering").arg(pageMemory / MiB);
        if (exitStatus == RenderFrame::Rendered && runs[0].exitStatus == RenderFrame::OutOfMemory)
            QCOMPARE(runs[0].reason, pastPage);
        else
            QVERIFY2(runs[0].exitStatus == exitStatus,
                     qPrintable(QStringLiteral("result %1 (%2)").arg(runs[0].exitStatus).arg(runs[0].reason)));
        if (exitStatus != RenderFrame::Rendered)
            QCOMPARE(runs[0].reason, reasonOrText);
        else if (runs[0].exitStatus == RenderFrame::Rendered)
            QVERIFY2(runs[0].page->document.contains(reasonOrText.toUtf8()),
                     runs[0].page->document.right(300).constData());
        for (qsizetype i = 1; i < runs.size(); ++i)
            QVERIFY2(runs[i].page && runs[i].page->document.contains("Job:"), qPrintable(runs[i].reason));
    }

    // The pages of one helper keep nothing from each other: a cookie one page got is not sent with a later
    // page of the same site, whose task has cookies of its own or none.
    void pagesKeepNoCookies()
    {
        TestServer::Response setting;
        setting.body = kChangedLinks;
        setting.headers = {{"Set-Cookie", "theirs=1; Path=/"}};
        server.setResponse("/sets-cookie", setting);
        server.setPage("/later", kChangedLinks);
        server.setPage("/later-own", kChangedLinks);
        const QList<Run> runs = renderAll({{1, server.url("/sets-cookie"), 20000, {}, {}},
                                           {2, server.url("/later"), 20000, {}, {}},
                                           {3, server.url("/later-own"), 20000, {}, {{"Cookie", "mine=2"}}}},
                                          {}, {}, true);
        QCOMPARE(runs.size(), 3);
        for (const Run& run : runs)
            QVERIFY(run.page);
        QCOMPARE(server.lastHeader("/later", "cookie"), QByteArray());
        QCOMPARE(server.lastHeader("/later-own", "cookie"), QByteArray("mine=2"));
    }
};

QTEST_GUILESS_MAIN(TestPageRenderer)
#include "tst_pagerenderer.moc"
