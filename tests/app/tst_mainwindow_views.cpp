// SPDX-License-Identifier: GPL-3.0-or-later
// Task list, property table, results table, read marking and the removal commands, over a real task.db.
#include "app/mainwindow.h"
#include "tests/app/windowsteps.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

namespace {
QStringList rowTexts(QTableView* table, int column)
{
    QStringList out;
    for (int row = 0; row < Views::rows(table); ++row)
        out << Views::text(table, row, column);
    return out;
}

// Closes the next popup menu once it shows.
void closeNextPopup()
{
    QTimer::singleShot(50, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
}
// Sets the keyboard focus and waits until the widget has it.
bool focusOn(QWidget* widget)
{
    widget->setFocus();
    return QTest::qWaitFor([widget] { return widget->hasFocus(); });
}
} // namespace

class TestMainWindowViews : public QObject
{
    Q_OBJECT

private:
    // Two tasks; the first has three results stored in this order: Jan 2009, Dec 2008, Jun 2009.
    static void writeTwoTasks(DbFile& file)
    {
        file.addTask(0, QStringLiteral("News"), QStringLiteral("http://127.0.0.1:1/news.html"), QStringLiteral("qt"),
                     5400, QStringLiteral("2009-01-01T10:00:00"), QStringLiteral("03/15/2010"));
        file.addTask(1, QStringLiteral("Blog"), QStringLiteral("http://127.0.0.1:1/blog.html"), QStringLiteral("cpp"),
                     86400);
        file.addResult(0, QStringLiteral("01/02/2009"), QStringLiteral("qt january"), QStringLiteral("http://a/1"));
        file.addResult(0, QStringLiteral("12/30/2008"), QStringLiteral("qt december"), QStringLiteral("http://a/2"));
        file.addResult(0, QStringLiteral("06/15/2009"), QStringLiteral("qt june"), QStringLiteral("http://a/3"));
        file.addResult(1, QStringLiteral("06/15/2009"), QStringLiteral("cpp post"), QStringLiteral("http://b/1"));
    }

    static void clickRow(QTableView* table, int row, int column)
    {
        const QRect rect = Views::rect(table, row, column);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    }

private slots:
    void emptyDatabase()
    {
        TestWindow test;
        auto* tree = test.tree();
        auto* info = test.info();
        QCOMPARE(Views::rows(tree), 0);
        QVERIFY(!tree->currentIndex().isValid());
        QCOMPARE(info->rowCount(), 4);
        QVERIFY(!info->horizontalHeader()->isHidden());
        QCOMPARE(info->horizontalHeaderItem(0)->text(), QStringLiteral("Property"));
        QCOMPARE(info->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
        for (int row = 0; row < 4; ++row)
            QVERIFY(!info->item(row, 0) && !info->item(row, 1));
    }

    void startupShowsFirstTask()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        auto* tree = test.tree();
        auto* info = test.info();
        auto* results = test.results();
        QCOMPARE(Views::rows(tree), 2);
        QCOMPARE(Views::text(tree, 1), QStringLiteral("Blog"));
        QCOMPARE(tree->currentIndex().row(), 0);
        QCOMPARE(rowTexts(info, 0), (QStringList{"Date", "Keyword", "Url", "Frequency"}));
        QCOMPARE(rowTexts(info, 1), (QStringList{"03/15/2010", "qt", "http://127.0.0.1:1/news.html", "90(Minute)"}));
        QCOMPARE(Views::rows(results), 3);
        // Newest first by the date itself: last December below this January.
        QCOMPARE(rowTexts(results, 0), (QStringList{"06/15/2009", "01/02/2009", "12/30/2008"}));
        QCOMPARE(test.message(), QStringLiteral("Results Count: 3"));

        Views::select(tree, 1);
        QCOMPARE(rowTexts(info, 1).at(3), QStringLiteral("1(Day)"));
        QCOMPARE(rowTexts(results, 2), (QStringList{"cpp post"}));
        QCOMPARE(test.message(), QStringLiteral("Results Count: 1"));
        // Every value in full in its tooltip; the values take the width the labels leave, and no more.
        QCOMPARE(info->item(2, 1)->toolTip(), info->item(2, 1)->text());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Views::select(tree, 0);
        Views::select(tree, 1);
        const QHeaderView* columns = info->horizontalHeader();
        QCOMPARE(columns->sectionViewportPosition(1) + columns->sectionSize(1), info->viewport()->width());
        // A task's name in full in the task list's tooltip.
        QCOMPARE(Views::at(tree, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("Blog"));

        // A task without results: the count says 0, not the previous task's.
        QVERIFY(window.checker().watches().removeTaskResults(window.taskList().at(0)));
        Views::select(tree, 0);
        QCOMPARE(test.message(), QStringLiteral("Results Count: 0"));
        window.close();
    }

    void frequencyText_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::addRow("minute") << 60 << "1(Minute)";
        QTest::addRow("hour") << 3600 << "1(Hour)";
        QTest::addRow("day") << 86400 << "1(Day)";
        QTest::addRow("two days") << 172800 << "2(Day)";
        QTest::addRow("90 minutes") << 5400 << "90(Minute)";
        QTest::addRow("zero") << 0 << "0(Day)";
        QTest::addRow("not whole minutes") << 90 << "0";
        QTest::addRow("negative hours") << -7200 << "-2(Hour)";
    }

    void frequencyText()
    {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(MainWindow::frequencyText(seconds), text);
    }

    // Pause and mute, by their keys, show in the list, the property table and the checked actions of the task
    // selected.
    void pauseAndMuteShown()
    {
        TestWindow test(writeTwoTasks);
        QVERIFY(test.show());
        auto* tree = test.tree();
        auto* info = test.info();
        const auto press = [&](Qt::KeyboardModifiers modifiers, Qt::Key key) {
            QTest::keyClick(tree, key, modifiers);
            return rowTexts(info, 1).mid(4).join(QStringLiteral("; "));
        };
        QVERIFY(Views::at(tree, 0).data(Qt::DecorationRole).isNull());
        QCOMPARE(press(Qt::ControlModifier, Qt::Key_P), QStringLiteral("Paused: not checked"));
        QCOMPARE(rowTexts(info, 0).last(), QStringLiteral("State"));
        QVERIFY(test.action("actionPause_Task")->isChecked());
        QVERIFY(!Views::at(tree, 0).data(Qt::DecorationRole).isNull());
        QVERIFY(Views::at(tree, 0).data(Qt::ToolTipRole).toString().contains(QStringLiteral("Paused")));
        QCOMPARE(press(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_M),
                 QStringLiteral("Paused: not checked; Muted: checked, not announced"));
        QCOMPARE(press(Qt::ControlModifier, Qt::Key_P), QStringLiteral("Muted: checked, not announced"));
        QVERIFY(!test.action("actionPause_Task")->isChecked());
        QVERIFY(test.action("actionMute_Task")->isChecked());
        Views::select(tree, 1);
        QVERIFY(!test.action("actionMute_Task")->isChecked());
        QCOMPARE(info->rowCount(), 4);
        test.window.close();
    }

    void stateIcons()
    {
        TestWindow test([&](DbFile& file) {
            file.addTask(0, "T", "http://127.0.0.1:1/", "k");
            file.addResult(0, "01/01/2009", "new one", "http://a/1", 0);
            file.addResult(0, "01/02/2009", "read one", "http://a/2", 1);
            file.addResult(0, "01/03/2009", "odd one", "http://a/3", 7);
        });
        auto* results = test.results();
        QCOMPARE(Views::rows(results), 3);
        for (int row = 0; row < 3; ++row) {
            const QString text = Views::text(results, row, 2);
            const bool hasIcon = Views::hasIcon(results, row, 1);
            QVERIFY2(hasIcon == (text != QStringLiteral("odd one")), qPrintable(text));
        }
    }

    void clickMarksTheShownResultRead()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        QVERIFY(test.show());
        auto* results = test.results();
        QCOMPARE(Views::text(results, 2, 2), QStringLiteral("qt december"));
        clickRow(results, 2, 3);

        // In memory: only December is read (the list is newest first: June, December, January).
        const Task::ResultList list = window.taskList().at(0)->results();
        QCOMPARE(list.at(1)->text, QStringLiteral("qt december"));
        QCOMPARE(list.at(0)->state, int(StateNew));
        QCOMPARE(list.at(1)->state, int(StateRead));
        QCOMPARE(list.at(2)->state, int(StateNew));
        DbFile file = test.db();
        QCOMPARE(file.column("SELECT text FROM results WHERE result_state = 1"), (QStringList{"qt december"}));
        window.close();
    }

    void removeResultFromSortedTable()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        QVERIFY(test.show());
        auto* results = test.results();
        auto* remove = test.action("actionRemove_Result");
        QVERIFY(focusOn(results));
        results->setCurrentIndex(Views::at(results, 0, 2)); // June, list position 0
        QCOMPARE(Views::text(results, 0, 2), QStringLiteral("qt june"));
        remove->trigger();

        QCOMPARE(rowTexts(results, 2), (QStringList{"qt january", "qt december"}));
        Task* task = window.taskList().at(0);
        QCOMPARE(task->results().size(), 2);
        DbFile file = test.db();
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 0 ORDER BY id"),
                 (QStringList{"qt january", "qt december"}));

        // The remaining rows still act on their own results.
        clickRow(results, 0, 2);
        QCOMPARE(file.column("SELECT text FROM results WHERE result_state = 1"), (QStringList{"qt january"}));
        QCOMPARE(task->results().at(1)->text, QStringLiteral("qt january"));
        QCOMPARE(task->results().at(1)->state, int(StateRead));
        QCOMPARE(task->results().at(0)->state, int(StateNew));

        // Without the focus on the table the command does nothing.
        test.tree()->setFocus();
        QTRY_VERIFY(!results->hasFocus());
        results->setCurrentIndex(Views::at(results, 0, 0));
        remove->trigger();
        QCOMPARE(Views::rows(results), 2);
        window.close();
    }

    // Ctrl+D removes every selected row, and the count shown is what is left; the rows are one line high
    // and carry the full text and link as tooltip.
    void removeSelectedResults()
    {
        TestWindow test([&](DbFile& file) {
            file.addTask(0, QStringLiteral("News"), QStringLiteral("http://127.0.0.1:1/news.html"),
                         QStringLiteral("qt"));
            for (int i = 0; i < 8; ++i)
                file.addResult(0, QStringLiteral("01/0%1/2009").arg(i + 1), QStringLiteral("qt %1").arg(i),
                               QStringLiteral("http://a/%1").arg(i));
        });
        MainWindow& window = test.window;
        QVERIFY(test.show());
        auto* results = test.results();
        QVERIFY(results->rowHeight(0) < 2 * results->fontMetrics().height());
        QCOMPARE(Views::at(results, 0, 3).data(Qt::ToolTipRole).toString(), QStringLiteral("http://a/7"));
        QVERIFY(focusOn(results));
        results->selectionModel()->select(QItemSelection(Views::at(results, 1, 0), Views::at(results, 5, 3)),
                                          QItemSelectionModel::ClearAndSelect);
        QTest::keyClick(results, Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(rowTexts(results, 2), (QStringList{"qt 7", "qt 1", "qt 0"}));
        QCOMPARE(test.message(), QStringLiteral("5 results of task News removed. Results Count: 3"));
        DbFile file = test.db();
        QCOMPARE(file.count(QStringLiteral("results")), 3);
        window.close();
    }

    void removeTask()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        auto* tree = test.tree();
        auto* info = test.info();
        auto* results = test.results();
        test.trigger("action_Remove_Task");

        // The neighbour becomes current and the views show it, not the removed task.
        QCOMPARE(Views::rows(tree), 1);
        QCOMPARE(window.taskList().size(), 1);
        QCOMPARE(window.taskList().at(0)->name(), QStringLiteral("Blog"));
        QCOMPARE(info->item(1, 1)->text(), QStringLiteral("cpp"));
        QCOMPARE(rowTexts(results, 2), (QStringList{"cpp post"}));
        {
            DbFile file = test.db();
            QCOMPARE(file.column("SELECT name FROM tasks"), (QStringList{"Blog"}));
            QCOMPARE(file.column("SELECT text FROM results"), (QStringList{"cpp post"}));
        }

        test.trigger("action_Remove_Task");
        QCOMPARE(Views::rows(tree), 0);
        QCOMPARE(Views::rows(results), 0);
        QVERIFY(!info->item(1, 1));

        ModalAnswer answer;
        answer.answerNext(QMessageBox::Ok);
        test.trigger("action_Remove_Task");
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("No Task Selected"));
        QCOMPARE(answer.text, QStringLiteral("Please select a task first"));
    }

    // Each removal says what went, and Ctrl+Z puts task.db back row by row, with the views as they were.
    void removalUndone_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("focus"); // the view the command acts from
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("undone");
        QTest::newRow("Remove Task") << "action_Remove_Task"
                                     << "treeWidgetTaskList"
                                     << "Task News and its 3 results removed."
                                     << "Task News and its 3 results put back.";
        QTest::newRow("Remove All Tasks") << "actionRemove_All_Tasks"
                                          << "treeWidgetTaskList"
                                          << "All tasks removed!"
                                          << "2 tasks and their 4 results put back.";
        QTest::newRow("Remove All Results") << "actionRemove_All_Results"
                                            << "treeWidgetTaskList"
                                            << "All results removed from task News!"
                                            << "3 results of task News put back.";
        QTest::newRow("Remove Result") << "actionRemove_Result"
                                       << "tableWidget"
                                       << "1 result of task News removed. Results Count: 2"
                                       << "1 result of task News put back.";
    }
    void removalUndone()
    {
        QFETCH(QString, action);
        QFETCH(QString, focus);
        QFETCH(QString, message);
        QFETCH(QString, undone);
        TestWindow test([](DbFile& file) {
            writeTwoTasks(file);
            file.exec("UPDATE results SET result_state = 1 WHERE text = 'qt june'");
            file.exec("CREATE TABLE task_options (task_id INTEGER NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, "
                      "PRIMARY KEY (task_id, name))");
            file.exec("INSERT INTO task_options VALUES(0, 'user_agent', 'Agent/1'), (0, 'etag', '\"x\"')");
            file.exec("CREATE TABLE seen_links(taskid INTEGER, link TEXT)");
            file.exec("INSERT INTO seen_links VALUES(0, 'http://a/1'), (0, 'http://a/9'), (1, 'http://b/1')");
            file.exec("CREATE TABLE result_times (result_id INTEGER PRIMARY KEY, found_at TEXT NOT NULL)");
            file.exec("INSERT INTO result_times VALUES(1, '00:02:00'), (3, '00:05:00')");
        });
        MainWindow& window = test.window;
        QVERIFY(test.show());
        const QStringList tables{"tasks", "results", "seen_links", "task_options", "task_owners", "result_times"};
        const auto everyRow = [&] {
            DbFile file = test.db();
            QStringList rows;
            for (const QString& table : tables)
                rows << table << file.rows(table);
            return rows;
        };
        const QStringList before = everyRow();
        QVERIFY(!test.action("actionUndo")->isEnabled());
        QWidget* view = window.findChild<QWidget*>(focus);
        QVERIFY(focusOn(view));
        if (view == test.results())
            test.results()->setCurrentIndex(Views::at(test.results(), 0, 0));
        ModalAnswer answer;
        if (action == "actionRemove_All_Tasks")
            answer.answerNext(QMessageBox::Yes);
        test.trigger(qPrintable(action));
        QCOMPARE(test.message(), message);
        QCOMPARE(window.statusBar()->toolTip(), message);
        QVERIFY(everyRow() != before);
        QVERIFY(test.action("actionUndo")->isEnabled());

        // The question of Remove All Tasks took the window's activation with it.
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(test.tree(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(test.message(), undone);
        QCOMPARE(everyRow(), before);
        QCOMPARE(Views::rows(test.tree()), 2);
        QCOMPARE(Views::text(test.tree(), 0), QStringLiteral("News"));
        QCOMPARE(test.task(0)->options().value("user_agent"), QStringLiteral("Agent/1"));
        QCOMPARE(test.task(0)->results().size(), 3);
        QCOMPARE(test.task(0)->unreadCount(), 2);
        QVERIFY(!test.action("actionUndo")->isEnabled());
        window.close();
    }

    // Ctrl+R followed by a key that is no command neither removes the task nor asks for a reset. (Ctrl+R
    // alone, Ctrl+R twice and Ctrl+R then a command are the overlap test's.)
    void strokeThenAnotherKeyDoesNothing()
    {
        TestWindow test(writeTwoTasks);
        QVERIFY(test.show());
        QTreeView* tree = test.tree();
        QVERIFY(focusOn(tree));
        QTest::keyClick(tree, Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::qWait(1300);
        QCOMPARE(Views::rows(tree), 2);
        QVERIFY(!QApplication::activeModalWidget());
        test.window.close();
    }

    void removeAllTasks_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("removed");
        QTest::addRow("yes") << int(QMessageBox::Yes) << true;
        QTest::addRow("no") << int(QMessageBox::No) << false;
    }

    void removeAllTasks()
    {
        QFETCH(int, button);
        QFETCH(bool, removed);
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        ModalAnswer answer;
        answer.answerNext(QMessageBox::StandardButton(button));
        test.trigger("actionRemove_All_Tasks");
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("Remove All Tasks"));
        auto* tree = test.tree();
        auto* info = test.info();
        DbFile file = test.db();
        QCOMPARE(Views::rows(tree), removed ? 0 : 2);
        QCOMPARE(window.taskList().size(), removed ? 0 : 2);
        QCOMPARE(file.count("tasks"), removed ? 0 : 2);
        QCOMPARE(file.count("results"), removed ? 0 : 4);
        QCOMPARE(info->rowCount(), 4);
        if (removed)
            QCOMPARE(test.message(), QStringLiteral("All tasks removed!"));
    }

    // Offered by both views' menus, the command acts on the selected task wherever the focus is.
    void removeAllResultsWhereverTheFocus()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        QVERIFY(test.show());
        auto* results = test.results();
        auto* removeAll = test.action("actionRemove_All_Results");

        QVERIFY(focusOn(results));
        results->selectRow(1);
        removeAll->trigger();
        QCOMPARE(Views::rows(results), 0);
        QCOMPARE(Views::header(results, 2), QStringLiteral("Text"));
        QVERIFY(window.taskList().at(0)->results().isEmpty());
        QCOMPARE(test.message(), QStringLiteral("All results removed from task News!"));
        DbFile file = test.db();
        QCOMPARE(file.column("SELECT text FROM results"), (QStringList{"cpp post"}));
        window.close();
    }

    void contextMenuEnablesFirstActionOnItemsOnly()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        QVERIFY(test.show());
        auto* tree = test.tree();
        auto* removeTask = test.action("action_Remove_Task");
        const QPoint empty(5, tree->viewport()->height() - 5);
        const QPoint onItem = Views::rect(tree, 0).center();

        closeNextPopup();
        QMetaObject::invokeMethod(&window, "on_treeWidgetTaskList_customContextMenuRequested", Q_ARG(QPoint, empty));
        QVERIFY(!removeTask->isEnabled());
        // The shared action stays disabled in the main menu until a menu opens on an item.
        removeTask->trigger();
        QCOMPARE(Views::rows(tree), 2);

        closeNextPopup();
        QMetaObject::invokeMethod(&window, "on_treeWidgetTaskList_customContextMenuRequested", Q_ARG(QPoint, onItem));
        QVERIFY(removeTask->isEnabled());

        auto* results = test.results();
        auto* removeResult = test.action("actionRemove_Result");
        closeNextPopup();
        QMetaObject::invokeMethod(&window, "on_tableWidget_customContextMenuRequested",
                                  Q_ARG(QPoint, QPoint(5, results->viewport()->height() - 5)));
        QVERIFY(!removeResult->isEnabled());
        window.close();
    }
};

QTEST_MAIN(TestMainWindowViews)
#include "tst_mainwindow_views.moc"
