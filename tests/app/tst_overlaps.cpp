// SPDX-License-Identifier: GPL-3.0-or-later
// Commands that overlap, driven as a user would (keys, clicks, the tray menu) against pages that answer
// late, and writes that fail: nothing crashes, the right task (or none) is removed, nothing found is lost,
// and memory and task.db agree afterwards.
#include "app/mainwindow.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/app/windowsteps.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <QWindow>

namespace {
constexpr int LateMs = 400;
constexpr int StrokeWaitMs = 1500; // longer than the second the shared stroke waits for

QByteArray page(const QString& text)
{
    return "<html><body><a href=\"/l0\">" + text.toUtf8() + "</a></body></html>";
}

QStringList names(const QList<Task*>& tasks)
{
    QStringList out;
    for (const Task* task : tasks)
        out << task->name();
    return out;
}

// A command given after Ctrl+R, with the task list that has the focus.
using Command = std::function<void(TestWindow&, QTreeView*)>;

QAction* trayAction(MainWindow& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}
} // namespace

Q_DECLARE_METATYPE(Command)

class TestOverlaps : public QObject
{
    Q_OBJECT

    TestServer server;

    // Tasks A, B, C whose pages answer late, each with the stored result "qt 1" and "qt 2" on its page.
    const TestWindow::Store threeTasks = [this](DbFile& file) {
        for (int i = 0; i < 3; ++i) {
            const QString name = QString(QChar('A' + i));
            const QString path = QStringLiteral("/late/") + name;
            TestServer::Response late;
            late.body = page(QStringLiteral("qt 2 of ") + name);
            late.delayMs = LateMs;
            server.setResponse(path, late);
            file.addTask(i, name, server.url(path).toString(), "qt");
            file.addResult(i, "01/01/2009", "qt 1 of " + name, server.url("/l0").toString());
        }
    };

    QTreeView* showWindow(MainWindow& window, int selectRow)
    {
        window.show();
        if (!QTest::qWaitForWindowActive(&window))
            return nullptr;
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        Views::select(tree, selectRow);
        tree->setFocus();
        return tree;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    // Ctrl+R followed within the second by another command: the removal is cancelled, and a command that
    // waits for pages never works on a task freed during its wait.
    void strokeThenCommand_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<Command>("then");
        QTest::addRow("Ctrl+U") << 2 << Command([](TestWindow&, QTreeView* tree) {
            QTest::keyClick(tree, Qt::Key_U, Qt::ControlModifier);
        });
        QTest::addRow("toolbar Update") << 2 << Command([](TestWindow& test, QTreeView*) {
            auto* toolbar = test.window.findChild<QToolBar*>("mainToolBar");
            QTest::mouseClick(toolbar->widgetForAction(test.action("actionUpdate_Tasks")), Qt::LeftButton);
        });
        QTest::addRow("Edit, Reset Results, Yes") << 2 << Command([](TestWindow& test, QTreeView*) {
            ModalAnswer yes;
            yes.answerNext(QMessageBox::Yes);
            test.trigger("actionReset_Results");
            QVERIFY(yes.seen);
        });
        QTest::addRow("Ctrl+K, the options dialog") << 2 << Command([](TestWindow&, QTreeView* tree) {
            QTimer::singleShot(StrokeWaitMs, [] {
                if (QWidget* dialog = QApplication::activeModalWidget())
                    dialog->close();
            });
            QTest::keyClick(tree, Qt::Key_K, Qt::ControlModifier);
        });
        QTest::addRow("click on another task") << 0 << Command([](TestWindow&, QTreeView* tree) {
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, Views::rect(tree, 2).center());
        });
    }
    void strokeThenCommand()
    {
        QFETCH(int, selected);
        QFETCH(Command, then);
        TestWindow test(threeTasks);
        MainWindow& window = test.window;
        QTreeView* tree = showWindow(window, selected);
        QVERIFY(tree);

        QTest::keyClick(tree, Qt::Key_R, Qt::ControlModifier);
        then(test, tree);
        QTest::qWait(StrokeWaitMs);
        QTRY_VERIFY(window.isEnabled());
        QCOMPARE(names(window.taskList()), (QStringList{"A", "B", "C"}));
        QCOMPARE(test.db().count("tasks"), 3);
    }

    // The pending removal takes the task selected when Ctrl+R was pressed, whatever is selected when it fires.
    void strokeRemovesTheTaskOfThePress()
    {
        TestWindow test(threeTasks);
        MainWindow& window = test.window;
        QTreeView* tree = showWindow(window, 0);
        QVERIFY(tree);
        QTest::keyClick(tree, Qt::Key_R, Qt::ControlModifier);
        Views::select(tree, 2); // not user input: the program moved the selection
        QTRY_COMPARE(names(window.taskList()), (QStringList{"B", "C"}));
        QCOMPARE(test.db().column("SELECT name FROM tasks ORDER BY task_id"), (QStringList{"B", "C"}));
    }

    // Ctrl+R, Ctrl+R typed as a keyboard types it (modifier press, key press, releases, all through the
    // window), Ctrl held or released between the strokes, the focus in either view: the Reset question comes,
    // and no task is removed.
    void secondStrokeAsksReset_data()
    {
        QTest::addColumn<bool>("releaseCtrl");
        QTest::addColumn<bool>("inResults");
        QTest::addColumn<int>("gapMs");
        QTest::addRow("Ctrl held, task list, 80 ms") << false << false << 80;
        QTest::addRow("Ctrl released, task list, 600 ms") << true << false << 600;
        QTest::addRow("Ctrl held, results, 300 ms") << false << true << 300;
        QTest::addRow("Ctrl released, results, 80 ms") << true << true << 80;
    }
    void secondStrokeAsksReset()
    {
        QFETCH(bool, releaseCtrl);
        QFETCH(bool, inResults);
        QFETCH(int, gapMs);
        TestWindow test(threeTasks);
        MainWindow& window = test.window;
        QTreeView* tree = showWindow(window, 1);
        QVERIFY(tree);
        if (inResults)
            window.findChild<QWidget*>("tableWidget")->setFocus();
        QWindow* keyboard = window.windowHandle();
        QTest::keyPress(keyboard, Qt::Key_Control);
        QTest::keyPress(keyboard, Qt::Key_R, Qt::ControlModifier);
        QTest::keyRelease(keyboard, Qt::Key_R, Qt::ControlModifier);
        if (releaseCtrl)
            QTest::keyRelease(keyboard, Qt::Key_Control, Qt::ControlModifier);
        QTest::qWait(gapMs);
        ModalAnswer cancel;
        cancel.answerNext(QMessageBox::Cancel);
        if (releaseCtrl)
            QTest::keyPress(keyboard, Qt::Key_Control);
        QTest::keyPress(keyboard, Qt::Key_R, Qt::ControlModifier);
        QTest::keyRelease(keyboard, Qt::Key_R, Qt::ControlModifier);
        QTest::keyRelease(keyboard, Qt::Key_Control, Qt::ControlModifier);
        QTRY_VERIFY(cancel.seen);
        QCOMPARE(cancel.title, QStringLiteral("Reset Results"));
        QTest::qWait(StrokeWaitMs);
        QCOMPARE(names(window.taskList()), (QStringList{"A", "B", "C"}));
    }

    // The tray's Minimize (or Maximize) after Ctrl+R cancels the removal, as every other command does.
    void trayActionCancelsStroke_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addRow("Minimize") << "Mi&nimize";
        QTest::addRow("Maximize") << "Ma&ximize";
    }
    void trayActionCancelsStroke()
    {
        QFETCH(QString, action);
        TestWindow test(threeTasks);
        MainWindow& window = test.window;
        QTreeView* tree = showWindow(window, 1);
        QVERIFY(tree);
        QTest::keyClick(tree, Qt::Key_R, Qt::ControlModifier);
        trayAction(window, action)->trigger();
        QTest::qWait(StrokeWaitMs);
        QCOMPARE(names(window.taskList()), (QStringList{"A", "B", "C"}));
    }

    // Ctrl+R with no task selected says so, as the menu's Remove Task does.
    void strokeWithoutTask()
    {
        TestWindow test;
        MainWindow& window = test.window;
        QVERIFY(showWindow(window, 0));
        ModalAnswer ok;
        ok.answerNext(QMessageBox::Ok);
        QTest::keyClick(test.tree(), Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(ok.seen, StrokeWaitMs * 2);
        QCOMPARE(ok.title, QStringLiteral("No Task Selected"));
        QCOMPARE(ok.text, QStringLiteral("Please select a task first"));
    }

    // The start-up deletion of old results fails (task.db locked): its message stays readable after the
    // results count has been shown, and the old rows are still there.
    void failedStartupDeletionStaysReadable()
    {
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            threeTasks(file);
            QSettings settings(AppSettings::Organization, AppSettings::Application);
            settings.setValue("options/is_auto_delete", true);
            settings.setValue("options/delete_days", 7);
        }
        // Another program writes: reading goes on, writing waits and gives up.
        DbFile other(fixture.path("task.db"));
        QVERIFY(other.exec("BEGIN IMMEDIATE"));
        WindowParts parts;
        MainWindow& window = *parts.window;
        other.exec("ROLLBACK");
        QTreeView* tree = showWindow(window, 1);
        QVERIFY(tree);
        QVERIFY(window.statusBar()->currentMessage().startsWith("Results Count"));
        auto* notice = window.findChild<QLabel*>("startupFailure");
        QVERIFY(notice && notice->isVisible());
        QVERIFY2(notice->text().startsWith("Could not delete the old results"), qPrintable(notice->text()));
        QCOMPARE(other.count("results"), 3);
    }

    // The tray's Update Now arriving during update-all's wait (as a D-Bus tray menu delivers it, not as input)
    // is dropped: the window stays disabled until the first run ends, and each page is fetched once.
    void trayUpdateDuringUpdateAll()
    {
        TestWindow test(threeTasks);
        MainWindow& window = test.window;
        QVERIFY(showWindow(window, 0));
        QAction* trayUpdate = trayAction(window, "&Update Now");
        QVERIFY(trayUpdate);
        const int hitsBefore = server.hits("/late/A");
        bool disabledAfterInner = false;
        QTimer::singleShot(LateMs / 4, this, [&] {
            trayUpdate->trigger();
            disabledAfterInner = !window.isEnabled();
        });
        test.trigger("actionUpdate_Tasks");
        QVERIFY(disabledAfterInner);
        QVERIFY(window.isEnabled());
        QCOMPARE(server.hits("/late/A"), hitsBefore + 1);
        QCOMPARE(test.message(), QStringLiteral("Update for all tasks finished!"));
        QCOMPARE(test.db().count("results"), 6);
    }

    // Quit from the tray while the window is hidden stores the toolbar as the user left it.
    void quitFromTrayWhileHidden_data()
    {
        QTest::addColumn<bool>("toolbarShown");
        QTest::addRow("toolbar shown") << true;
        QTest::addRow("toolbar hidden by the user") << false;
    }
    void quitFromTrayWhileHidden()
    {
        QFETCH(bool, toolbarShown);
        {
            TestWindow test;
            MainWindow& window = test.window;
            QVERIFY(showWindow(window, 0));
            window.findChild<QToolBar*>("mainToolBar")->setVisible(toolbarShown);
            window.hide();
            trayAction(window, "&Quit")->trigger();
        }
        QSettings settings(AppSettings::Organization, AppSettings::Application);
        QCOMPARE(settings.value("mainwindow/toolbar").toBool(), toolbarShown);
    }

    // Two tasks on one page hold the same link and text: a changed text is stored for each of them.
    void sameLinkInTwoTasks()
    {
        server.setPage("/shared", page("qt release 2"));
        TestWindow test([this](DbFile& file) {
            file.addTask(0, "Qt", server.url("/shared").toString(), "qt");
            file.addTask(1, "Releases", server.url("/shared").toString(), "release");
            for (int id : {0, 1})
                file.addResult(id, "01/01/2009", "qt release 1", server.url("/l0").toString());
        });
        test.trigger("actionUpdate_Tasks");
        QCOMPARE(test.message(), QStringLiteral("Update for all tasks finished!"));
        QCOMPARE(test.db().column("SELECT taskid FROM results WHERE text = 'qt release 2' ORDER BY taskid"),
                 (QStringList{"0", "1"}));
    }
};

QTEST_MAIN(TestOverlaps)
#include "tst_overlaps.moc"
