// SPDX-License-Identifier: GPL-3.0-or-later
// Pages that cannot be downloaded (an error status, a refused connection, no answer) are never passed off as
// a success: creation, update-all and the periodic checks say what failed, and the task list marks the task
// until a check of its page succeeds again.
#include "app/mainwindow.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/app/newtaskdialog.h"
#include "tests/app/windowsteps.h"
#include "tests/support/testserver.h"

#include <QStatusBar>
#include <QTcpServer>
#include <QTreeView>

namespace {
constexpr int TimeoutMs = 600;
}

class TestFailures : public QObject
{
    Q_OBJECT

    TestServer server;
    QString refusedAddress;

    QString failingAddress(const QString& kind)
    {
        if (kind == "refused")
            return refusedAddress;
        const QString path = "/fail/" + kind;
        if (kind == "404") {
            server.setStatus(path, 404, "<a href=\"/x\">qt not found</a>");
        } else {
            TestServer::Response silent;
            silent.never = true;
            server.setResponse(path, silent);
        }
        return server.url(path).toString();
    }

    // The failure the task list's tooltip tells under the task's name, when the row is marked.
    static QString mark(MainWindow& window, int row)
    {
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        const QString tip = Views::at(tree, row).data(Qt::ToolTipRole).toString();
        if (!tip.startsWith(window.taskList().at(row)->name()))
            return QStringLiteral("tooltip without the name: ") + tip;
        return Views::hasIcon(tree, row, 0) ? tip.section(QLatin1Char('\n'), 1) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(TimeoutMs);
        // A port nobody listens on: listen once, note the port, close.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        refusedAddress = QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // the start of what the messages say in brackets
        QTest::addRow("404") << "404"
                             << "HTTP 404";
        QTest::addRow("refused") << "refused"
                                 << "Connection refused";
        QTest::addRow("timeout") << "timeout"
                                 << "";
    }

    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString address = failingAddress(kind);
        TestWindow test;
        MainWindow& window = test.window;

        // Creation: the task is created, the message says its page could not be downloaded and why.
        createThroughDialog(window, "Broken", address);
        const QString created = window.statusBar()->currentMessage();
        QVERIFY2(created.startsWith("Task Broken created, but its page could not be downloaded (" + reason) &&
                     created.endsWith("). Use Reset Results when it is reachable."),
                 qPrintable(created));
        QVERIFY2(mark(window, 0).startsWith("The last check failed: " + reason), qPrintable(mark(window, 0)));

        // Update-all counts the page that failed; the task keeps its mark.
        test.trigger("actionUpdate_Tasks");
        QCOMPARE(test.message(), QStringLiteral("Update for all tasks finished! 1 page could not be downloaded."));
        QVERIFY(!mark(window, 0).isEmpty());

        // A periodic check says so in the status bar.
        window.statusBar()->clearMessage();
        window.taskList().at(0)->setLastUpdate(QStringLiteral("2009-01-01T10:00:00"));
        window.checker().periodic().checkDueTasks();
        QTRY_VERIFY2(
            window.statusBar()->currentMessage().startsWith("The page of Broken could not be downloaded (" + reason),
            qPrintable(window.statusBar()->currentMessage()));

        // A restart keeps the mark: reason and count. The page comes back: the next check clears the mark, and
        // update-all reports plain success; the next start shows no mark either.
        const QString before = mark(window, 0).section(QLatin1Char('\n'), 0, 0);
        QVERIFY(before.startsWith("The last 3 checks failed: " + reason));
        server.setPage("/back", "<a href=\"/x\">qt back</a>");
        test.db().exec("UPDATE tasks SET address = ?", {server.url("/back").toString()});
        {
            WindowParts restartedParts;
            MainWindow& restarted = *restartedParts.window;
            QCOMPARE(mark(restarted, 0).section(QLatin1Char('\n'), 0, 0), before);
            restarted.findChild<QAction*>("actionUpdate_Tasks")->trigger();
            QCOMPARE(restarted.statusBar()->currentMessage(), QStringLiteral("Update for all tasks finished!"));
            QVERIFY(mark(restarted, 0).isEmpty());
        }
        WindowParts againParts;
        QVERIFY(mark(*againParts.window, 0).isEmpty());
    }

    // Escape on the wait box leaves New Task's wait for a page that does not answer: no task is created, the
    // window takes input again and the status bar says so.
    void escapeLeavesTheWait()
    {
        const QString address = failingAddress("timeout");
        PageFetch::setTransferTimeout(60000); // only Escape ends this wait
        TestWindow test;
        MainWindow& window = test.window;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &window, [&window, &poll] {
            auto* box = window.findChild<QDialog*>("DialogProgress");
            if (box && box->isVisible() && !window.isEnabled()) {
                poll.stop();
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        poll.start(10);
        createThroughDialog(window, "Slow", address);
        PageFetch::setTransferTimeout(TimeoutMs);
        QCOMPARE(test.message(), QStringLiteral("New task cancelled: Slow was not created."));
        QVERIFY(window.isEnabled() && window.taskList().isEmpty());
        QCOMPARE(test.db().count("tasks"), 0);
    }

    // A failed check marks the task; the next successful check of the same window removes the mark.
    void markClearedBySuccess()
    {
        server.setStatus("/flaky", 500);
        TestWindow test([this](DbFile& file) { file.addTask(0, "Flaky", server.url("/flaky").toString(), "qt"); });
        MainWindow& window = test.window;
        test.trigger("actionUpdate_Tasks");
        // The tooltip says how many checks failed in a row, why, and when the next periodic one is.
        const Task* task = window.taskList().at(0);
        QCOMPARE(mark(window, 0),
                 QStringLiteral("The last check failed: HTTP 500\nNext try: %1")
                     .arg(QLocale().toString(window.checker().checks().dueTime(task), QLocale::ShortFormat)));
        test.trigger("actionUpdate_Tasks");
        QVERIFY2(mark(window, 0).startsWith("The last 2 checks failed: HTTP 500\nNext try: "),
                 qPrintable(mark(window, 0)));
        server.setPage("/flaky", "<a href=\"/x\">qt</a>");
        test.trigger("actionUpdate_Tasks");
        QVERIFY(mark(window, 0).isEmpty());
        QCOMPARE(test.message(), QStringLiteral("Update for all tasks finished!"));
    }
};

QTEST_MAIN(TestFailures)
#include "tst_failures.moc"
