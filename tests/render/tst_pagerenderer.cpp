// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-render as the program that starts it sees it: its output frame and its exit statuses.
#include "engine/renderframe.h"
#include "tests/support/testserver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {
// A page whose list is filled from JSON the page's script fetches after loading.
const QByteArray kFetchedLinks = R"(<html><body><ul id="jobs"></ul><script>
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
} // namespace

class TestPageRenderer : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int exitStatus = -1;
        QByteArray out;
        QByteArray err;
        qint64 ms = 0;
    };
    Run render(const QUrl& url, const QStringList& extra = {})
    {
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(VANTREL_RENDER_PATH), QStringList{url.toString()} + extra);
        // The server answers on this thread, so the wait runs its events.
        QSignalSpy finished(&process, &QProcess::finished);
        if (!finished.wait(25000)) {
            process.kill();
            process.waitForFinished(5000);
            return {};
        }
        Run run;
        run.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        run.ms = clock.elapsed();
        return run;
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
        QVERIFY2(run.exitStatus == exitStatus,
                 qPrintable(QStringLiteral("exit %1, stderr: %2").arg(run.exitStatus).arg(QString(run.err))));
        // The bounds hold: 3 s for the whole run, 1.5 s for the settling, plus the engine's start.
        QVERIFY2(run.ms < 12000, qPrintable(QString::number(run.ms)));
        if (exitStatus != RenderFrame::Rendered) {
            QVERIFY(run.out.isEmpty());
            // The one-line reason; the engine's own processes may still write lines of theirs around it.
            QVERIFY2(run.err.startsWith("vantrel-render: ") || run.err.contains("\nvantrel-render: "),
                     run.err.constData());
            return;
        }
        const std::optional<RenderFrame::Page> page = RenderFrame::decode(run.out);
        QVERIFY2(page, run.out.left(200).constData());
        QCOMPARE(page->url, server.url(finalPath));
        QCOMPARE(page->status, 200);
        const QString document = QString::fromUtf8(page->document);
        for (const QString& text : present)
            QVERIFY2(document.contains(text), qPrintable(document));
        for (const QString& text : absent)
            QVERIFY2(!document.contains(text), qPrintable(document));
    }

    void frame_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("whole");
        const QByteArray good = RenderFrame::encode({QUrl("http://a/b?c=d"), 200, "<html>\n\xc3\xa9</html>"});
        QTest::newRow("whole") << good << true;
        QTest::newRow("cut") << good.left(good.size() - 1) << false;
        QTest::newRow("bytes after the document") << good + "x" << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("noise before") << "warning\n" + good << false;
        QTest::newRow("length not a number")
            << QByteArray("vantrel-render 1\nurl: http://a/\nstatus: 200\nlength: x\n\n") << false;
        QTest::newRow("negative length") << QByteArray("vantrel-render 1\nurl: http://a/\nstatus: 200\nlength: -1\n\n")
                                         << false;
    }
    void frame()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, whole);
        const std::optional<RenderFrame::Page> page = RenderFrame::decode(output);
        QCOMPARE(bool(page), whole);
        if (whole) {
            QCOMPARE(page->url, QUrl("http://a/b?c=d"));
            QCOMPARE(QString::fromUtf8(page->document), QString::fromUtf8("<html>\n\xc3\xa9</html>"));
        }
    }
};

QTEST_GUILESS_MAIN(TestPageRenderer)
#include "tst_pagerenderer.moc"
