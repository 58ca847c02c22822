// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real window for 500 runs of its own check timer against 50 tasks whose pages keep changing, with
// the clock warped so the one-minute tasks fall due every other run, while a "user" marks results read,
// removes results and updates all tasks now and then. Prints runs, checks, results, threads and memory at
// the start, after 100 runs and at the end, and asserts that nothing is stored twice and that threads and
// memory come back.
#include "app/mainwindow.h"
#include "tests/app/appfixture.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <cstdio>

namespace {
constexpr int TaskCount = 50;
constexpr int LinksPerPage = 4;
constexpr int Runs = 500;
constexpr int WarmUpRuns = 100;
constexpr int IntervalMs = 100;
constexpr int WarpSeconds = 60;
constexpr int FrequencySeconds = 60;
constexpr int BumpEveryRuns = 3;    // the pages' link texts change this often
constexpr int UserActionEvery = 5;  // a result is marked read, every second time one is removed
constexpr int UpdateAllEvery = 150; // "Update Tasks Now"
constexpr qint64 RssGrowthLimitKb = 30 * 1024;

QString pagePath(int task)
{
    return QStringLiteral("/page%1.html").arg(task);
}

QString linkPath(int task, int link)
{
    return QStringLiteral("/t%1/l%2").arg(task).arg(link);
}

QString linkText(int task, int link, int version)
{
    return QStringLiteral("Item %1-%2 v%3").arg(task).arg(link).arg(version);
}

// The stored links with the current version, plus one link no result holds (never reported).
QByteArray pageBody(int task, int version)
{
    QByteArray html = "<html><head><title>Page</title></head><body>\n";
    for (int link = 0; link < LinksPerPage; ++link)
        html += "<p><a href=\"" + linkPath(task, link).toUtf8() + "\">" + linkText(task, link, version).toUtf8() +
                "</a></p>\n";
    html += "<p><a href=\"/t" + QByteArray::number(task) + "/unstored\">Item unstored v" + QByteArray::number(version) +
            "</a></p>\n";
    return html + "</body></html>\n";
}

struct Figures
{
    int runs = 0;
    int started = 0;
    int inMemory = 0;
    int inFile = 0;
    int threads = 0;
    qint64 rssKb = 0;
};

void print(const char* when, const Figures& f, int running)
{
    std::printf("%-10s runs %4d  background checks started %6d  results in memory %5d  in task.db %5d  "
                "threads %3d  VmRSS %7lld kB  downloads running %d\n",
                when, f.runs, f.started, f.inMemory, f.inFile, f.threads, static_cast<long long>(f.rssKb), running);
    std::fflush(stdout);
}

// Every result in memory as "task id|text|link|state", sorted.
QStringList rowsInMemory(const QList<Task*>& tasks)
{
    QStringList rows;
    for (const Task* task : tasks) {
        for (const Task::ResultPtr& result : task->results())
            rows
                << QStringLiteral("%1|%2|%3|%4").arg(result->taskId).arg(result->text, result->link).arg(result->state);
    }
    rows.sort();
    return rows;
}

// (task id, text, link) of every result held more than once in memory.
QStringList duplicatesInMemory(const QList<Task*>& tasks)
{
    QStringList duplicates;
    for (const Task* task : tasks) {
        QSet<QString> seen;
        for (const Task::ResultPtr& result : task->results()) {
            const QString key = QStringLiteral("%1|%2|%3").arg(result->taskId).arg(result->text, result->link);
            if (seen.contains(key))
                duplicates << key;
            seen.insert(key);
        }
    }
    return duplicates;
}
} // namespace

struct WarpClock : Clock
{
    qint64 offsetSeconds = 0;
    QDateTime now() const override { return QDateTime::currentDateTime().addSecs(offsetSeconds); }
};

class TestLongRun : public QObject
{
    Q_OBJECT

    QThread serverThread;
    TestServer* server = nullptr;

private slots:
    void initTestCase()
    {
        serverThread.setObjectName(QStringLiteral("server"));
        server = new TestServer;
        for (int task = 0; task < TaskCount; ++task)
            server->setPage(pagePath(task), pageBody(task, 1));
        server->moveToThread(&serverThread);
        connect(&serverThread, &QThread::finished, server, &QObject::deleteLater);
        serverThread.start();
        bool listening = false;
        QMetaObject::invokeMethod(
            server, [&] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
        QVERIFY(listening);
    }

    void cleanupTestCase()
    {
        serverThread.quit();
        serverThread.wait(10000);
    }

    void fiveHundredTimerRuns()
    {
        AppFixture fixture;
        const QDateTime now = QDateTime::currentDateTime();
        const QString today = QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy"));
        {
            DbFile file(fixture.path(QStringLiteral("task.db")));
            for (int task = 0; task < TaskCount; ++task) {
                // Half fall due at the first run, half at the second, so each run checks about 25 tasks.
                const QDateTime last = task % 2 == 0 ? now.addSecs(-FrequencySeconds) : now;
                file.addTask(task, QStringLiteral("Task %1").arg(task), server->url(pagePath(task)).toString(),
                             QStringLiteral("item"), FrequencySeconds, last.toString(Qt::ISODate), today);
                for (int link = 0; link < LinksPerPage; ++link)
                    file.addResult(task, today, linkText(task, link, 0), server->url(linkPath(task, link)).toString());
            }
        }

        const int threadsBeforeWindow = ProcStatus::threads();
        WindowParts parts;
        MainWindow& window = *parts.window;
        QVERIFY(parts.databaseOk());
        // Tasks fall due without waiting for real minutes: the clock moves on after every check run.
        WarpClock clock;
        window.checker().setClock(&clock);
        PeriodicChecks& periodic = window.checker().periodic();
        periodic.setInterval(IntervalMs);
        periodic.startSchedule();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QList<Task*> tasks = window.taskList();
        QCOMPARE(tasks.size(), TaskCount);

        auto* checkTimer = periodic.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY2(checkTimer && checkTimer->interval() == IntervalMs, "the check schedule's timer was not found");

        auto* tree = window.findChild<QTreeView*>(QStringLiteral("treeWidgetTaskList"));
        auto* table = window.findChild<QTableView*>(QStringLiteral("tableWidget"));
        auto* removeResult = window.findChild<QAction*>(QStringLiteral("actionRemove_Result"));
        auto* updateAll = window.findChild<QAction*>(QStringLiteral("actionUpdate_Tasks"));

        QHash<const Task*, QString> lastUpdates;
        for (const Task* task : tasks)
            lastUpdates.insert(task, task->lastUpdateText());

        Figures figures;
        int version = 1;
        int marked = 0;
        int removed = 0;
        int updateAlls = 0;
        int peakThreads = 0;
        int peakRunning = 0;
        const auto resultsInMemory = [&] {
            int count = 0;
            for (const Task* task : tasks)
                count += task->results().size();
            return count;
        };
        const auto snapshot = [&](const char* when) {
            figures.inMemory = resultsInMemory();
            figures.inFile = DbFile(fixture.path(QStringLiteral("task.db"))).count(QStringLiteral("results"));
            figures.threads = ProcStatus::threads();
            figures.rssKb = ProcStatus::residentKb();
            print(when, figures, window.checker().fetcher().running());
            return figures;
        };

        // Connected after the schedule's own run, so it sees each run once that run is over.
        connect(checkTimer, &QTimer::timeout, this, [&] {
            clock.offsetSeconds += WarpSeconds;
            ++figures.runs;
            peakThreads = qMax(peakThreads, ProcStatus::threads());
            peakRunning = qMax(peakRunning, window.checker().fetcher().running());
            // A task whose last-update time moved on was due: it started one background check.
            for (const Task* task : tasks) {
                const QString text = task->lastUpdateText();
                if (text != lastUpdates.value(task)) {
                    ++figures.started;
                    lastUpdates.insert(task, text);
                }
            }
            if (figures.runs % BumpEveryRuns == 0) {
                ++version;
                for (int task = 0; task < TaskCount; ++task)
                    server->setPage(pagePath(task), pageBody(task, version));
            }
            // The user, while the window is enabled (update-all disables it): selects a task, clicks its
            // newest row, and every second time removes that row, which lets the task report links again.
            if (figures.runs % UserActionEvery == 0 && window.isEnabled()) {
                const int pick = (figures.runs / UserActionEvery) % TaskCount;
                Views::select(tree, pick);
                table->setFocus();
                if (table->hasFocus() && Views::rows(table) > 0) {
                    table->setCurrentIndex(Views::at(table, 0, 2));
                    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, Views::rect(table, 0, 2).center());
                    ++marked;
                    if ((figures.runs / UserActionEvery) % 2 == 0) {
                        removeResult->trigger();
                        ++removed;
                    }
                }
            }
            if (figures.runs % UpdateAllEvery == 0) {
                ++updateAlls;
                QMetaObject::invokeMethod(updateAll, &QAction::trigger, Qt::QueuedConnection);
            }
        });

        QTRY_COMPARE(window.checker().fetcher().running(), 0);
        const Figures start = snapshot("start");
        std::printf("threads before the window %d (the server's thread runs already)\n", threadsBeforeWindow);
        QElapsedTimer elapsed;
        elapsed.start();

        QTRY_VERIFY_WITH_TIMEOUT(figures.runs >= WarmUpRuns, 120000);
        const Figures warm = snapshot("100 runs");
        // The first update-all may bring up the spare connections that downloads the user waits for get
        // beside busy background checks: one network thread more, made once. Counted from then on.
        QTRY_VERIFY_WITH_TIMEOUT(updateAlls > 0 && window.isEnabled(), 300000);
        QTRY_COMPARE_WITH_TIMEOUT(window.checker().fetcher().running(), 0, 30000);
        const int threadsAfterUpdateAll = qMax(start.threads, ProcStatus::threads());
        QTRY_VERIFY_WITH_TIMEOUT(figures.runs >= Runs, 600000);
        checkTimer->stop();
        const qint64 elapsedMs = elapsed.elapsed();
        // Every check started has ended and its thread object is gone.
        QTRY_COMPARE_WITH_TIMEOUT(window.checker().fetcher().running(), 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(ProcStatus::threads() <= threadsAfterUpdateAll, 30000);
        const Figures end = snapshot("end");

        int requests = 0;
        for (int task = 0; task < TaskCount; ++task)
            requests += server->hits(pagePath(task));
        std::printf("%d runs in %lld ms; pages changed %d times; rows clicked %d, results removed %d, "
                    "update-all %d times; page requests served %d (= %d background + %d update-all)\n",
                    end.runs, static_cast<long long>(elapsedMs), version - 1, marked, removed, updateAlls, requests,
                    end.started, updateAlls * TaskCount);
        std::printf("peak while running (sampled after each run): threads %d, downloads running %d\n", peakThreads,
                    peakRunning);
        std::printf("VmRSS growth after warm-up: %lld kB (limit %lld kB)\n",
                    static_cast<long long>(end.rssKb - warm.rssKb), static_cast<long long>(RssGrowthLimitKb));
        std::fflush(stdout);

        // The counts agree with what the server saw: every check started reached it, none more. A task still
        // waiting for its previous page when it fell due again was not checked twice at once.
        const int sent = window.checker().periodic().started();
        std::printf("background checks sent %d of %d due\n", sent, end.started);
        QVERIFY(sent <= end.started);
        QCOMPARE(requests, sent + updateAlls * TaskCount);
        QVERIFY(end.started >= Runs * TaskCount / 2 - TaskCount);
        QVERIFY(removed > 0);
        // Results came in (each removal lets a task report its changed links again) and every one reached
        // the file.
        QVERIFY(end.inMemory > TaskCount * LinksPerPage);
        QCOMPARE(end.inFile, end.inMemory);
        // Memory and file hold the same results with the same read states.
        QStringList rowsInFile = DbFile(fixture.path(QStringLiteral("task.db")))
                                     .column(QStringLiteral("SELECT taskid || '|' || text || '|' || link || '|' || "
                                                            "result_state FROM results"));
        rowsInFile.sort();
        QCOMPARE(rowsInMemory(tasks), rowsInFile);

        const QStringList memoryDuplicates = duplicatesInMemory(tasks);
        QVERIFY2(memoryDuplicates.isEmpty(), qPrintable(memoryDuplicates.join(QLatin1Char('\n'))));
        const QStringList fileDuplicates = DbFile(fixture.path(QStringLiteral("task.db")))
                                               .column(QStringLiteral("SELECT taskid || '|' || text || '|' || link "
                                                                      "FROM results GROUP BY taskid, text, link "
                                                                      "HAVING count(*) > 1"));
        QVERIFY2(fileDuplicates.isEmpty(), qPrintable(fileDuplicates.join(QLatin1Char('\n'))));

        // Threads made once (the network layer's, the spare connections') stay; none is added per check.
        QVERIFY2(end.threads <= threadsAfterUpdateAll,
                 qPrintable(QStringLiteral("%1 threads at the end, %2 after the first update-all")
                                .arg(end.threads)
                                .arg(threadsAfterUpdateAll)));
        QVERIFY2(end.rssKb - warm.rssKb < RssGrowthLimitKb,
                 qPrintable(QStringLiteral("VmRSS grew by %1 kB after warm-up").arg(end.rssKb - warm.rssKb)));
        window.close();
    }
};

QTEST_MAIN(TestLongRun)
#include "tst_longrun.moc"
