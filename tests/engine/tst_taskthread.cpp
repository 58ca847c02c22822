// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagefetch.h"
#include "engine/task.h"
#include "engine/taskthread.h"
#include "tests/engine/resultlinks.h"
#include "tests/support/procstatus.h"
#include "tests/support/testserver.h"

#include <QTest>

#include <memory>

using namespace ResultLinks;

namespace {
constexpr int WaitMs = 15000;
} // namespace

class TestTaskThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void deliveries_data();
    void deliveries();
    void everyNewTextReportedOnce();
    void seenTextBecomesKnown();
    void taskDeletedMidFlight();
    void threadsComeBack();
    void shutdownEndsRunningChecks();

private:
    // Starts a background check of the task, waits until its thread object is gone (it is released
    // right after the delivery), returns what startBackgroundCheck() answered.
    bool runCheck(Task& task);
    QString origin() const { return server.url(QString()).toString(); }

    TestServer server;
};

void TestTaskThread::initTestCase()
{
    QVERIFY(server.listen());
    QCOMPARE(TaskThread::instanceCount(), 0);
}

void TestTaskThread::cleanup()
{
    PageFetch::setTransferTimeout(PageFetch::DefaultTransferTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(TaskThread::instanceCount(), 0, WaitMs);
    QCOMPARE(TaskThread::runningCount(), 0);
}

bool TestTaskThread::runCheck(Task& task)
{
    const bool had = task.startBackgroundCheck();
    // A check that does not end shows up in cleanup(), which requires every thread object gone.
    if (!QTest::qWaitFor([] { return TaskThread::instanceCount() == 0; }, WaitMs))
        qWarning("background check did not end");
    return had;
}

void TestTaskThread::deliveries_data()
{
    QTest::addColumn<TestServer::Response>("response");
    QTest::addColumn<Links>("stored");    // %1 stands for http://127.0.0.1:PORT
    QTest::addColumn<Links>("delivered"); // likewise

    TestServer::Response page;
    page.body = anchors({{"\"a.html\"", "Item new"}, {"'/b'", "Item b"}, {"/c target=_blank", "Item c2"}});
    QTest::addRow("quoted and relative links compared")
        << page
        << Links{{"%1/bg/a.html", "Item old"}, {"%1/b", "Item b"}, {"%1/c", "Item c"}, {"%1/not-on-page", "Item x"}}
        << Links{{"%1/bg/a.html", "Item new"}, {"%1/c", "Item c2"}};
    QTest::addRow("nothing changed") << page << Links{{"%1/b", "Item b"}} << Links{};

    TestServer::Response redirect;
    redirect.status = 302;
    redirect.location = "/elsewhere/page.html";
    QTest::addRow("redirect followed") << redirect << Links{{"%1/elsewhere/a.html", "Item old"}}
                                       << Links{{"%1/elsewhere/a.html", "Item moved"}};

    TestServer::Response notFound;
    notFound.status = 404;
    notFound.body = anchors({{"/b", "Item b2"}});
    QTest::addRow("error page scanned") << notFound << Links{{"%1/b", "Item b"}} << Links{{"%1/b", "Item b2"}};

    TestServer::Response never;
    never.never = true;
    QTest::addRow("no answer delivers nothing") << never << Links{{"%1/b", "Item b"}} << Links{};
}

void TestTaskThread::deliveries()
{
    QFETCH(TestServer::Response, response);
    QFETCH(Links, stored);
    QFETCH(Links, delivered);
    for (Link& link : stored)
        link.first.replace("%1", origin());
    for (Link& link : delivered)
        link.first.replace("%1", origin());

    PageFetch::setTransferTimeout(300);
    server.setResponse("/bg/index.html", response);
    server.setPage("/elsewhere/page.html", anchors({{"a.html", "Item moved"}}));
    Task task(4, "n", server.url("/bg/index.html").toString(), "item", 60);
    task.setResults(records(stored));
    // Something left from an earlier check, replaced by this delivery.
    task.setUpdateResults(records({{"http://h/earlier", "Item earlier"}}));

    QVERIFY(runCheck(task));
    QCOMPARE(linksOf(task.updateResults()), delivered);
    for (const Task::ResultPtr& record : task.updateResults()) {
        QCOMPARE(record->taskId, 4);
        QCOMPARE(record->state, int(StateNew));
    }
    // The next check answers from what this one delivered.
    QCOMPARE(runCheck(task), !delivered.isEmpty());
}

void TestTaskThread::everyNewTextReportedOnce()
{
    const QString a = origin() + "/again/a.html";
    server.setPage("/again/index.html", anchors({{"a.html", "Item 2"}}));
    Task task(1, "n", server.url("/again/index.html").toString(), "item", 60);
    task.setResults(records({{a, "Item 1"}}));

    QVERIFY(!runCheck(task));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item 2"}}));
    QCOMPARE(task.knownLinks().value(a), QStringLiteral("Item 2"));

    // Its text changes once more: reported again. The same text at the next check is not.
    server.setPage("/again/index.html", anchors({{"a.html", "Item 3"}}));
    QVERIFY(runCheck(task));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item 3"}}));
    QVERIFY(runCheck(task));
    QVERIFY(task.updateResults().isEmpty());
    QVERIFY(!runCheck(task));

    // Removing a result forgets the known links; the change is reported again.
    task.appendResults(records({{"http://h/x", "Item x"}}));
    task.removeResult(1);
    QVERIFY(!runCheck(task));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item 3"}}));
    QCOMPARE(server.hits("/again/index.html"), 5);
}

void TestTaskThread::seenTextBecomesKnown()
{
    const QString a = origin() + "/same/a.html";
    server.setPage("/same/index.html", anchors({{"a.html", "Item"}}));
    Task task(1, "n", server.url("/same/index.html").toString(), "item", 60);
    task.setResults(records({{a, "Item"}}));

    QVERIFY(!runCheck(task));
    QVERIFY(task.updateResults().isEmpty());
    // Seen unchanged: a text a stored result holds is never reported, so nothing needs remembering.
    QVERIFY(!task.knownLinks().contains(a));

    server.setPage("/same/index.html", anchors({{"a.html", "Item changed"}}));
    QVERIFY(!runCheck(task));
    QCOMPARE(linksOf(task.updateResults()), Links({{a, "Item changed"}}));
}

void TestTaskThread::taskDeletedMidFlight()
{
    TestServer::Response late;
    late.body = anchors({{"a.html", "Item new"}});
    late.delayMs = 300;
    server.setResponse("/late/index.html", late);

    auto task = std::make_unique<Task>(1, "n", server.url("/late/index.html").toString(), "item", 60);
    task->setResults(records({{origin() + "/late/a.html", "Item old"}}));
    task->startBackgroundCheck();
    task->startBackgroundCheck();
    QCOMPARE(TaskThread::instanceCount(), 2);
    task.reset();

    // Both checks complete, find their task gone and release themselves.
    QTRY_COMPARE_WITH_TIMEOUT(TaskThread::instanceCount(), 0, WaitMs);
    QCOMPARE(server.hits("/late/index.html"), 2);
}

void TestTaskThread::threadsComeBack()
{
    server.setPage("/many/index.html", anchors({{"a.html", "Item new"}}));
    std::vector<std::unique_ptr<Task>> tasks;
    for (int i = 0; i < 8; ++i) {
        tasks.push_back(std::make_unique<Task>(i, "n", server.url("/many/index.html").toString(), "item", 60));
        tasks.back()->setResults(records({{origin() + "/many/a.html", "Item old"}}));
    }
    QVERIFY(!runCheck(*tasks.front())); // the first download starts Qt's own threads, if any
    const int threadsBefore = ProcStatus::threads();
    QVERIFY(threadsBefore > 0);

    for (int round = 0; round < 5; ++round) {
        for (const auto& task : tasks)
            task->startBackgroundCheck();
        QVERIFY(TaskThread::instanceCount() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(TaskThread::instanceCount(), 0, WaitMs);
        // The first round reports the change to every task not checked before; later rounds
        // find it known and deliver nothing.
        for (size_t i = 0; i < tasks.size(); ++i)
            QCOMPARE(tasks[i]->updateResults().size(), round == 0 && i > 0 ? 1 : 0);
    }
    QCOMPARE(TaskThread::runningCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(ProcStatus::threads(), threadsBefore, WaitMs);
}

void TestTaskThread::shutdownEndsRunningChecks()
{
    TestServer::Response never;
    never.never = true;
    server.setResponse("/never", never);
    Task task(1, "n", server.url("/never").toString(), "item", 60);
    task.setResults(records({{"http://h/a", "Item"}}));
    task.setUpdateResults(records({{"http://h/a", "Item 2"}}));

    for (int i = 0; i < 3; ++i)
        task.startBackgroundCheck();
    QTRY_COMPARE_WITH_TIMEOUT(server.hits("/never"), 3, WaitMs);
    QCOMPARE(TaskThread::runningCount(), 3);

    TaskThread::shutdownAll();
    QCOMPARE(TaskThread::runningCount(), 0);
    QCOMPARE(TaskThread::instanceCount(), 0);
    // Nothing was delivered, and the downloads were dropped.
    QCOMPARE(task.updateResults().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, WaitMs);
}

QTEST_GUILESS_MAIN(TestTaskThread)
#include "tst_taskthread.moc"
