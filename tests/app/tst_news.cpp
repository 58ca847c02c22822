// SPDX-License-Identifier: GPL-3.0-or-later
// What the window shows of news: unread counts in the task list and the tray's tooltip, Mark All Read, the
// results search, Edit Task, and announcements that bring the window back with their task selected.
#include "app/desktopnotifier.h"
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "tests/app/windowsteps.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTreeView>

class TestNews : public QObject
{
    Q_OBJECT

    TestServer server;

    // "News" with three results, two of them unread; "Blog" with one unread result at server path /blog.
    const TestWindow::Store writeTwoTasks = [this](DbFile& file) {
        file.addTask(0, "News", server.url("/news").toString(), "qt", 3600,
                     QDateTime::currentDateTime().toString(Qt::ISODate));
        file.addTask(1, "Blog", server.url("/blog").toString(), "qt", 3600,
                     QDateTime::currentDateTime().toString(Qt::ISODate));
        file.addResult(0, "01/02/2009", "qt january", "http://a.test/1");
        file.addResult(0, "12/30/2008", "qt december &amp; more", "http://a.test/2", StateRead);
        file.addResult(0, "06/15/2009", "qt june", "http://a.test/3");
        file.addResult(1, "06/15/2009", "qt post", server.url("/p").toString());
    };
    static QAction* action(MainWindow& window, const char* name)
    {
        auto* found = window.findChild<QAction*>(name);
        if (found && !found->isEnabled())
            return nullptr;
        return found;
    }

private slots:
    void initTestCase() { QVERIFY(server.listen()); }
    void cleanup()
    {
        for (const QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName() + " left open"));
    }

    void unreadCountsFollowEveryChange()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        auto* tree = test.tree();
        auto* tray = window.findChild<TrayIcon*>();
        auto unread = [&](int row) { return Views::text(tree, row, 1); };
        auto bold = [&](int row) { return Views::at(tree, row, 0).data(Qt::FontRole).value<QFont>().bold(); };
        QCOMPARE(Views::text(tree, 0), QString("News"));
        QCOMPARE(unread(0), QString("2"));
        QVERIFY(bold(0));
        QCOMPARE(tray->toolTip(), QString("Vantrel Monitor: 3 unread results in 2 tasks"));

        // Read marking by a click on a result.
        auto* results = test.results();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, Views::rect(results, 0, 2).center());
        QCOMPARE(unread(0), QString("1"));

        // Mark All Read, in memory and task.db.
        QAction* markAll = action(window, "actionMark_All_Read");
        QVERIFY(markAll);
        markAll->trigger();
        QCOMPARE(unread(0), QString());
        QVERIFY(!bold(0));
        QCOMPARE(test.db().column("SELECT result_state FROM results WHERE taskid = 0"), (QStringList{"1", "1", "1"}));
        QCOMPARE(tray->toolTip(), QString("Vantrel Monitor: 1 unread result in 1 task"));

        // A check that finds a new text of a stored link: the count grows at once.
        server.setPage("/blog", "<a href=\"/p\">qt post, updated</a>");
        action(window, "actionUpdate_Tasks")->trigger();
        QCOMPARE(unread(1), QString("2"));
        QVERIFY(bold(1));
        // Removing a result and all results.
        Views::select(tree, 1);
        results->selectRow(0);
        results->setFocus();
        QTRY_VERIFY(results->hasFocus());
        action(window, "actionRemove_Result")->trigger();
        QCOMPARE(unread(1), QString("1"));
        action(window, "actionRemove_All_Results")->trigger();
        QCOMPARE(unread(1), QString());
        QTRY_COMPARE(tray->toolTip(), QString("Vantrel Monitor: no unread results"));
        window.close();
    }

    void searchShowsTheRowsWithEveryWord()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* results = test.results();
        auto* search = window.findChild<QLineEdit*>("lineEditSearch");
        QVERIFY(search);
        results->setFocus();
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(search->hasFocus());
        QTest::keyClicks(search, "QT &");
        // The text as shown: "&amp;" reads "&".
        QCOMPARE(Views::rows(results), 1);
        QCOMPARE(Views::text(results, 0, 2), QString("qt december & more"));
        QCOMPARE(test.message(), QString("Results Count: 3 (1 shown)"));
        search->setText("june december");
        QCOMPARE(Views::rows(results), 0);
        QCOMPARE(test.message(), QString("Results Count: 3 (0 shown)"));
        // The window's commands still reach it from the field.
        QTest::keyClick(search, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(test.message(), QString("All results of News marked read."));
        QCOMPARE(search->text(), QString("june december"));
        QTest::keyClick(search, Qt::Key_Escape);
        QCOMPARE(search->text(), QString());
        QCOMPARE(Views::rows(results), 3);
        QCOMPARE(test.message(), QString("Results Count: 3"));
        window.close();
    }

    void editTaskThroughTheDialog()
    {
        TestWindow test(writeTwoTasks);
        MainWindow& window = test.window;
        auto* tree = test.tree();
        QAction* edit = action(window, "actionEdit_Task");
        QVERIFY(edit);

        // First Blog's address and keyword in other capitals: refused, the dialog stays; then a new keyword.
        QStringList seen;
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen << dialog->windowTitle() << dialog->findChild<QLineEdit*>("lineEditWebaddress")->text()
                 << dialog->findChild<QComboBox*>("comboBoxFrequencyUnit")->currentText();
            dialog->findChild<QLineEdit*>("lineEditWebaddress")->setText(server.url("/blog").toString());
            dialog->findChild<QLineEdit*>("lineEditGrabtext")->setText("QT");
            ModalAnswer refusal;
            refusal.answerNext(QMessageBox::Ok);
            QTest::mouseClick(dialog->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            QTRY_VERIFY(refusal.seen);
            seen << refusal.text;
            QVERIFY(dialog->isVisible());
            dialog->findChild<QLineEdit*>("lineEditTaskName")->setText("Blog news");
            dialog->findChild<QLineEdit*>("lineEditGrabtext")->setText("qt news");
            QTest::mouseClick(dialog->findChild<QPushButton*>("pushButtonOk"), Qt::LeftButton);
            answered = true;
        });
        edit->trigger();
        QVERIFY(answered);
        QCOMPARE(seen, (QStringList{"Edit Task", server.url("/news").toString(), "Hour", "This task already exists!"}));
        QCOMPARE(Views::text(tree, 0), QString("Blog news"));
        QCOMPARE(test.message(),
                 QString("Task Blog news changed. Use Reset Results to rebuild its results from the new page."));
        QCOMPARE(test.db().column("SELECT name || '|' || grabtext FROM tasks ORDER BY id"),
                 (QStringList{"Blog news|qt news", "Blog|qt"}));
        // Its results stay.
        QCOMPARE(Views::rows(test.results()), 3);
    }

    void announcementsSelectTheirTask()
    {
        server.setPage("/news", "<a href=\"http://a.test/1\">qt january</a>");
        server.setPage("/blog", "<a href=\"/p\">qt post, second</a>");
        // Blog's news goes to a receiver of its own, which is down.
        server.setStatus("/down", 503);
        TestWindow test([this](DbFile& file) {
            writeTwoTasks(file);
            QVERIFY(file.exec("CREATE TABLE task_options (task_id INTEGER NOT NULL, name TEXT NOT NULL, value TEXT "
                              "NOT NULL, PRIMARY KEY (task_id, name))"));
            QVERIFY(file.exec("INSERT INTO task_options VALUES(1, 'news_to', 'own'), (1, 'news_post', ?)",
                              {server.url("/down").toString()}));
        });
        MainWindow& window = test.window;
        auto* tree = test.tree();
        auto* tray = window.findChild<TrayIcon*>();
        window.setTrayAvailable(true);
        action(window, "actionUpdate_Tasks")->trigger();
        QCOMPARE(tree->currentIndex().row(), 0);
        // Its tooltip says the delivery failed and when it is tried again.
        QTRY_VERIFY2(Views::at(tree, 1).data(Qt::ToolTipRole).toString().contains("failed: 503; next try at"),
                     qPrintable(Views::at(tree, 1).data(Qt::ToolTipRole).toString()));

        // The balloon of update-all names Blog: a click on it shows the hidden window with Blog selected.
        window.hide();
        emit tray->systemTrayIcon()->messageClicked();
        QTRY_VERIFY(window.isVisible());
        QCOMPARE(tree->currentIndex().row(), 1);

        // The same through the notification service's click on the default action.
        window.setTrayAvailable(false);
        DesktopNotifier notifier(QDBusConnection(QStringLiteral("no-bus")));
        window.setNotifier(&notifier);
        Views::select(tree, 0);
        window.hide();
        emit notifier.activated("update-all");
        QTRY_VERIFY(window.isVisible());
        QCOMPARE(tree->currentIndex().row(), 1);

        // A task removed since is not selected; the window still comes back.
        QVERIFY(window.checker().watches().removeTask(window.checker().watches().tasks().at(1)));
        Views::select(tree, 0);
        window.hide();
        emit notifier.activated("update-all");
        QTRY_VERIFY(window.isVisible());
        QCOMPARE(tree->currentIndex().row(), 0);
        window.close();
    }
};

QTEST_MAIN(TestNews)
#include "tst_news.moc"
