// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks left alone: when a task needs the user's look (the causes, their recovery, the one announcement per
// break, the mark kept across a restart and said at once when a task is created); pause and mute, kept by
// task.db, an edit, an export and an import; the due rule with the user's hours on the test clock (across
// midnight, a day left out, a task due just before the hours end, the bounds of a varied check, tasks falling
// due together, update-all ignoring the hours).
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/testserver.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {
// A path of the test server for the case: the tag without its spaces and punctuation.
QString pathOf(const char* folder)
{
    return QStringLiteral("/%1/%2").arg(
        QLatin1String(folder), QString::fromLatin1(QTest::currentDataTag()).replace(QRegularExpression("\\W"), "-"));
}

QByteArray page(int keywordLinks, const QByteArray& wrapperId = "main")
{
    QByteArray html = "<html><body><div id=\"" + wrapperId + "\">\n";
    for (int i = 0; i < keywordLinks; ++i)
        html += "<a href=\"/l" + QByteArray::number(i) + "\">qt " + QByteArray::number(i) + "</a>\n";
    return html + "<a href=\"/other\">other</a></div></body></html>";
}

// What the server answers at one check, by a word of the tables.
TestServer::Response answer(const QString& step)
{
    TestServer::Response response;
    if (step == "links") {
        response.body = page(2);
    } else if (step == "none") {
        response.body = page(0);
    } else if (step == "same") { // no keyword link, and "not modified" when asked with its validator
        response.body = page(0);
        response.etag = "\"e1\"";
    } else if (step == "fail") {
        response.status = 500;
    } else if (step == "pdf") {
        response.contentType = "application/pdf";
        response.body = "%PDF-1.4 qt";
    } else if (step == "text") {
        response.contentType = "text/plain; charset=utf-8";
        response.body = "<a href=\"/l0\">qt 0</a>";
    } else if (step == "many") {
        response.body = page(Task::MaxLinksPerPage + 1);
    } else if (step == "moved") { // the region's element is gone, the links are elsewhere
        response.body = page(2, "elsewhere");
    }
    return response;
}

// 7 December 2026 is a Monday.
QDateTime at(int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}
const QString Office = QStringLiteral("08:00-18:00 12345");
} // namespace

class TestTaskHealth : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    // After each check the task's cause (empty: none); announcements counted over the whole run.
    void causesAndRecoveries_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("causes");
        QTest::addColumn<QString>("region");
        QTest::addColumn<bool>("hadResults");
        QTest::addColumn<int>("announced");
        QTest::addColumn<QString>("reasonHolds"); // the reason given at the first announcement

        QTest::addRow("links stop, come back, stop again")
            << QStringList{"links", "none", "none", "none", "none", "links", "none", "none", "none"}
            << QStringList{"", "", "", "no_links", "no_links", "", "", "", "no_links"} << QString() << true << 2
            << "the page held no link with \"qt\" at the last 3 checks: it may have changed its layout";
        QTest::addRow("links stop, the page then answers not modified")
            << QStringList{"links", "same", "same", "same", "links"} << QStringList{"", "", "", "no_links", ""}
            << QString() << true << 1 << "at the last 3 checks";
        QTest::addRow("a page that never had keyword links")
            << QStringList{"none", "none", "none", "none"} << QStringList{"", "", "", ""} << QString() << false << 0
            << QString();
        QTest::addRow("failures in a row, then a page")
            << QStringList{"fail", "fail", "fail", "fail", "links"} << QStringList{"", "", "failing", "failing", ""}
            << QString() << true << 1 << "the last 3 checks failed (HTTP 500)";
        QTest::addRow("a failure between empty pages does not count")
            << QStringList{"none", "fail", "none", "links"} << QStringList{"", "", "", ""} << QString() << true << 0
            << QString();
        QTest::addRow("a PDF at once, then a page")
            << QStringList{"pdf", "pdf", "links"} << QStringList{"not_page", "not_page", ""} << QString() << true << 1
            << "application/pdf";
        QTest::addRow("plain text") << QStringList{"text"} << QStringList{"not_page"} << QString() << true << 1
                                    << "text/plain, not a web page or feed";
        QTest::addRow("failing, then a PDF: one break")
            << QStringList{"fail", "fail", "fail", "pdf", "links"} << QStringList{"", "", "failing", "not_page", ""}
            << QString() << true << 1 << "HTTP 500";
        QTest::addRow("links cut at the bound") << QStringList{"many", "links"} << QStringList{"links_cut", ""}
                                                << QString() << true << 1 << "only the first";
        QTest::addRow("the region is gone")
            << QStringList{"links", "moved", "moved", "moved", "links"} << QStringList{"", "", "", "region", ""}
            << "#main" << false << 1 << "the region \"#main\" matched nothing on the page at the last 3 checks";
    }
    void causesAndRecoveries()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, causes);
        QFETCH(QString, region);
        QFETCH(bool, hadResults);
        QFETCH(int, announced);
        QFETCH(QString, reasonHolds);
        TempFolder fixture;
        const QString path = pathOf("health");
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt");
            if (hadResults)
                file.addResult(0, "01/01/2009", "qt 0", server.url("/l0").toString());
        }
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        if (!region.isEmpty()) {
            QHash<QString, QString> options{{QLatin1String(Task::RegionOption), region}};
            QCOMPARE(checker.editor().run(task,
                                          {task->name(), task->address(), task->keyword(), task->frequency(), options}),
                     Commands::Outcome::Done);
        }
        // A receiver that is down keeps what it was sent in the outbox.
        server.setStatus("/down", 503);
        checker.news().setDestinations({{NewsDestination::Kind::Post, server.url("/down").toString(), {}, false}});
        QSignalSpy needsLook(&checker.health(), &TaskHealth::lookNeeded);
        QStringList seen;
        for (const QString& step : std::as_const(steps)) {
            server.setResponse(path, answer(step));
            QVERIFY(checker.updater().run().ran);
            seen << task->options().value(QLatin1String(TaskHealth::CauseOption));
        }
        QCOMPARE(seen, causes);
        QCOMPARE(needsLook.count(), announced);
        if (announced > 0) {
            QCOMPARE(needsLook.at(0).at(0).value<Task*>(), task);
            const QString reason = needsLook.at(0).at(1).toString();
            QVERIFY2(reason.contains(reasonHolds), qPrintable(reason));
        }
        // The destinations of its news hear of each break once.
        QCOMPARE(DbFile(fixture.path("task.db"))
                     .column("SELECT event_id FROM news_outbox WHERE payload LIKE '%\"kind\":\"broken\"%'")
                     .size(),
                 announced);
        // The mark is what task.db keeps for the next start.
        QCOMPARE(
            DbFile(fixture.path("task.db")).column("SELECT value FROM task_options WHERE name = 'look_cause'").value(0),
            causes.last());
    }

    // A task marked by an earlier run keeps its mark and is not announced again while it stays broken; the
    // periodic checks judge it as every other check does, and an export does not carry the mark.
    void markSurvivesRestart()
    {
        TempFolder fixture;
        TestClock clock;
        const QString path = QStringLiteral("/health/restart");
        server.setResponse(path, answer("none"));
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", 3600, clock.at.toString(Qt::ISODate));
            file.addResult(0, "01/01/2009", "qt 0", server.url("/l0").toString());
        }
        for (int run = 0; run < 2; ++run) {
            Loaded loaded(fixture, &clock);
            TaskChecker& checker = loaded.checker;
            Task* task = checker.watches().tasks().at(0);
            QCOMPARE(checker.health().needsLook(task), run == 1);
            QSignalSpy needsLook(&checker.health(), &TaskHealth::lookNeeded);
            for (int check = 0; check < 3; ++check) {
                clock.at = clock.at.addSecs(3600);
                QCOMPARE(checker.periodic().checkDueTasks().started.size(), 1);
                QTRY_COMPARE(server.hits(path), run * 3 + check + 1);
                QTRY_VERIFY(!checker.fetcher().running() && !checker.fetcher().queued());
                QTRY_COMPARE(task->options().value(QLatin1String(TaskHealth::EmptyChecksOption)).toInt(),
                             run * 3 + check + 1);
            }
            QCOMPARE(needsLook.count(), run == 0 ? 1 : 0);
            QVERIFY(checker.health().needsLook(task));
            const QByteArray exported = TaskExchange::toJson(checker.watches().tasks(), false);
            QVERIFY2(!exported.contains("look_"), exported.constData());
        }
    }

    // New Task learns at once what the first download shows, and nothing is announced besides.
    void saidAtCreation_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("cause");
        QTest::addRow("a PDF") << "pdf" << QString() << "not_page";
        QTest::addRow("a region matching nothing") << "links"
                                                   << "#nowhere"
                                                   << "region";
        QTest::addRow("a page without keyword links yet") << "none" << QString() << QString();
    }
    void saidAtCreation()
    {
        QFETCH(QString, step);
        QFETCH(QString, region);
        QFETCH(QString, cause);
        TempFolder fixture;
        const QString path = pathOf("new");
        server.setResponse(path, answer(step));
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        QSignalSpy needsLook(&checker.health(), &TaskHealth::lookNeeded);
        QHash<QString, QString> options;
        if (!region.isEmpty())
            options.insert(QLatin1String(Task::RegionOption), region);
        const Commands::Created created =
            checker.creator().run({"A", server.url(path).toString(), "qt", 3600, options});
        QCOMPARE(created.outcome, Commands::Outcome::Done);
        QCOMPARE(created.task->options().value(QLatin1String(TaskHealth::CauseOption)), cause);
        QCOMPARE(checker.health().reason(created.task).isEmpty(), cause.isEmpty());
        QCOMPARE(needsLook.count(), 0);
    }

    void pausedAndMuted_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("muted");
        QTest::addRow("neither") << false << false;
        QTest::addRow("paused") << true << false;
        QTest::addRow("muted") << false << true;
        QTest::addRow("both") << true << true;
    }
    void pausedAndMuted()
    {
        QFETCH(bool, paused);
        QFETCH(bool, muted);
        TempFolder fixture;
        TestClock clock;
        const QString path = QStringLiteral("/switch/%1").arg(QTest::currentDataTag());
        const QString link = server.url("/l0").toString();
        // The stored result's link shows a new text at every check: each check that reads the page finds one.
        int edition = 0;
        const auto nextPage = [&] {
            ++edition;
            server.setPage(path, "<a href=\"/l0\">qt " + QByteArray::number(edition) + "</a>");
        };
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", 3600, clock.at.toString(Qt::ISODate));
            file.addResult(0, "01/01/2009", "qt 0", link);
        }
        {
            Loaded loaded(fixture, &clock);
            TaskChecker& checker = loaded.checker;
            Task* task = checker.watches().tasks().at(0);
            QCOMPARE(checker.setSwitch(task, TaskChecker::Switch::Paused, paused), Commands::Outcome::Done);
            QCOMPARE(checker.setSwitch(task, TaskChecker::Switch::Muted, muted), Commands::Outcome::Done);
            // An edit of the task's definition keeps both.
            QCOMPARE(checker.editor().run(task, {"B", task->address(), task->keyword(), task->frequency(), {}}),
                     Commands::Outcome::Done);
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        QCOMPARE(task->isPaused(), paused);
        QCOMPARE(task->isMuted(), muted);
        QSignalSpy runNews(&checker.periodic(), &PeriodicChecks::runNewsFound);
        for (int run = 0; run < 3; ++run) {
            nextPage();
            clock.at = clock.at.addSecs(3600);
            QCOMPARE(checker.periodic().checkDueTasks().started.size(), paused ? 0 : 1);
            if (!paused)
                QTRY_COMPARE(DbFile(fixture.path("task.db")).count("results"), 2 + run);
        }
        nextPage();
        const Commands::UpdateRun update = checker.updater().run();
        QCOMPARE(server.hits(path), paused ? 0 : 4);
        QCOMPARE(DbFile(fixture.path("task.db")).count("results"), paused ? 1 : 5);
        QCOMPARE(update.anyNew, !paused);
        QCOMPARE(update.news.size(), paused || muted ? 0 : 1);
        QTest::qWait(20);
        QCOMPARE(runNews.count(), paused || muted ? 0 : 3);

        // Carried by an export into another task.db; a paused task is imported without a download.
        const TaskExchange::Read read = TaskExchange::parse(TaskExchange::toJson(checker.watches().tasks(), false));
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        TempFolder other;
        Loaded imported(other);
        QCOMPARE(imported.checker.importer().run(read.tasks).imported, 1);
        QCOMPARE(imported.checker.watches().tasks().at(0)->isPaused(), paused);
        QCOMPARE(imported.checker.watches().tasks().at(0)->isMuted(), muted);
        QCOMPARE(server.hits(path), paused ? 0 : 5);
    }

    void dueWithinHours_data()
    {
        QTest::addColumn<QString>("hours"); // of the options
        QTest::addColumn<QString>("own");   // of the task
        QTest::addColumn<QDateTime>("last");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("due");
        QTest::addRow("due inside the hours") << Office << QString() << at(7, 9) << at(7, 10) << at(7, 10);
        QTest::addRow("not yet due") << QString() << QString() << at(7, 9, 30) << at(7, 10) << at(7, 10, 30);
        QTest::addRow("a second before it is due")
            << Office << QString() << at(7, 9, 0, 1) << at(7, 10) << at(7, 10, 0, 1);
        QTest::addRow("due at night waits for the morning")
            << Office << QString() << at(7, 17, 30) << at(7, 18, 30) << at(8, 8);
        QTest::addRow("checked when the hours begin") << Office << QString() << at(7, 17, 30) << at(8, 8) << at(8, 8);
        QTest::addRow("due just before the hours end")
            << Office << QString() << at(7, 16, 59, 30) << at(7, 17, 59, 30) << at(7, 17, 59, 30);
        QTest::addRow("the timer came after the end")
            << Office << QString() << at(7, 16, 59, 30) << at(7, 18, 0, 30) << at(8, 8);
        QTest::addRow("a day left out") << Office << QString() << at(11, 17, 30) << at(12, 10) << at(14, 8);
        QTest::addRow("across midnight, before it")
            << QString() << "22:00-06:00 12345" << at(7, 21, 30) << at(7, 22, 30) << at(7, 22, 30);
        QTest::addRow("across midnight, after it")
            << QString() << "22:00-06:00 12345" << at(8, 5, 30) << at(8, 6, 30) << at(8, 22);
        QTest::addRow("a task's own hours replace the options'")
            << Office << "00:00-00:00 67" << at(12, 10) << at(12, 11) << at(12, 11);
    }
    void dueWithinHours()
    {
        QFETCH(QString, hours);
        QFETCH(QString, own);
        QFETCH(QDateTime, last);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, due);
        TempFolder fixture;
        TestClock clock;
        clock.at = now;
        const QString path = pathOf("hours");
        server.setPage(path, "<a href=\"/l0\">qt 0</a>");
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url(path).toString(), "qt", 3600, last.toString(Qt::ISODate));
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        checker.checks().setHours(*CheckHours::fromText(hours));
        Task* task = checker.watches().tasks().at(0);
        if (!own.isEmpty()) {
            QHash<QString, QString> options{{QLatin1String(CheckHours::TaskOption), own}};
            QCOMPARE(checker.editor().run(task, {"A", task->address(), "qt", 3600, options}), Commands::Outcome::Done);
        }
        QCOMPARE(checker.checks().dueTime(task, now), due);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), due <= now ? 1 : 0);
        QTRY_COMPARE(server.hits(path), due <= now ? 1 : 0);
        // Update Tasks Now is the user's own wish: the hours do not hold it back.
        QVERIFY(checker.updater().run().ran);
        QCOMPARE(server.hits(path), due <= now ? 2 : 1);
    }

    void variationBounds_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("span");
        QTest::addRow("a minute: six seconds") << 60 << 6;
        QTest::addRow("ten minutes: one minute") << 600 << 60;
        QTest::addRow("an hour: at most five minutes") << 3600 << 300;
        QTest::addRow("a day: at most five minutes") << 86400 << 300;
        QTest::addRow("five seconds: none") << 5 << 0;
    }
    void variationBounds()
    {
        QFETCH(int, interval);
        QFETCH(int, span);
        qint64 low = 0;
        qint64 high = 0;
        for (int i = 0; i < 400; ++i) {
            const QDateTime last = at(7, 9).addSecs(i * 61);
            const qint64 moved = CheckStates::variation(i % 7, last, interval);
            QVERIFY2(qAbs(moved) <= span, qPrintable(QString::number(moved)));
            QCOMPARE(CheckStates::variation(i % 7, last, interval), moved); // the same at every run
            low = qMin(low, moved);
            high = qMax(high, moved);
        }
        // The checks do vary, over most of the span.
        QVERIFY(high - low >= span);
    }

    // Twelve tasks falling due at once: eight are sent at once, the others follow within the spread.
    void dueTogetherAreSpread()
    {
        TempFolder fixture;
        TestClock clock;
        {
            DbFile file(fixture.path("task.db"));
            for (int i = 0; i < 12; ++i)
                file.addTask(i, QString::number(i), server.url(QStringLiteral("/spread/%1").arg(i)).toString(), "qt");
        }
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        checker.periodic().setSpread(8, 400);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), 12);
        QCOMPARE(checker.periodic().started(), 8);
        QTRY_COMPARE(checker.periodic().started(), 12);
        for (int i = 0; i < 12; ++i)
            QTRY_COMPARE(server.hits(QStringLiteral("/spread/%1").arg(i)), 1);
    }
};

QTEST_GUILESS_MAIN(TestTaskHealth)
#include "tst_taskhealth.moc"
