// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's fixed interface: widgets, menus, toolbar, actions, first-start geometry.
#include "app/mainwindow.h"
#include "tests/app/appfixture.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeView>

class TestMainWindowLayout : public QObject
{
    Q_OBJECT

private:
    static QStringList texts(const QList<QAction*>& actions)
    {
        QStringList out;
        for (const QAction* action : actions)
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return out;
    }

private slots:
    void cleanup()
    {
        for (const QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName() + " left open"));
    }

    void widgetsAndFirstStart()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        QVERIFY(parts.databaseOk());
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Vantrel Monitor"));
        QCOMPARE(window.size(), QSize(800, 600));
        QCOMPARE(window.pos(), QPoint(0, 0));
        QVERIFY(!window.isMaximized());
        QVERIFY(QFile::exists(fixture.path(QStringLiteral("task.db"))));

        auto* tree = window.findChild<QTreeView*>(QStringLiteral("treeWidgetTaskList"));
        auto* info = window.findChild<QTableWidget*>(QStringLiteral("tableWidgetTaskInfo"));
        auto* results = window.findChild<QTableView*>(QStringLiteral("tableWidget"));
        auto* web = window.findChild<QTextBrowser*>(QStringLiteral("webView"));
        QVERIFY(tree && info && results && web);
        QVERIFY(window.findChild<QSplitter*>(QStringLiteral("splitter")));
        QVERIFY(window.findChild<QSplitter*>(QStringLiteral("splitter_2")));
        QCOMPARE(tree->maximumWidth(), 200);
        QCOMPARE(info->maximumWidth(), 200);
        QCOMPARE(Views::header(tree, 0), QStringLiteral("Task List"));
        QCOMPARE(tree->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(results->contextMenuPolicy(), Qt::CustomContextMenu);
        QCOMPARE(info->rowCount(), 4);
        QCOMPARE(info->columnCount(), 2);
        QCOMPARE(info->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(results->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(results->model()->columnCount(), 4);
        QCOMPARE(Views::rows(results), 0);
        QVERIFY(results->isSortingEnabled()); // a click on a column header sorts by it
        QVERIFY(web->isHidden());
        QVERIFY(web->toPlainText().isEmpty());

        const QStringList headers{QStringLiteral("Date"), QString(), QStringLiteral("Text"), QStringLiteral("Link")};
        const QStringList tips{QStringLiteral("Date of results."), QStringLiteral("Result State"),
                               QStringLiteral("Result Text"), QStringLiteral("Result Link")};
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(Views::header(results, column), headers.at(column));
            QCOMPARE(Views::header(results, column, Qt::ToolTipRole), tips.at(column));
            QVERIFY(!qvariant_cast<QIcon>(results->model()->headerData(column, Qt::Horizontal, Qt::DecorationRole))
                         .isNull());
        }

        auto* tray = window.findChild<QSystemTrayIcon*>();
        QVERIFY(tray);
        QVERIFY(tray->isVisible());
        QCOMPARE(texts(tray->contextMenu()->actions()),
                 (QStringList{QStringLiteral("Mi&nimize"), QStringLiteral("Ma&ximize"), QStringLiteral("-"),
                              QStringLiteral("&Update Now"), QStringLiteral("-"), QStringLiteral("&Quit")}));
    }

    void menusAndToolbar()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        QMenuBar* bar = window.menuBar();
        QCOMPARE(texts(bar->actions()),
                 (QStringList{QStringLiteral("&File"), QStringLiteral("&Edit"), QStringLiteral("&View"),
                              QStringLiteral("&Tools"), QStringLiteral("&Help")}));
        const auto menu = [&](const char* name) { return texts(window.findChild<QMenu*>(name)->actions()); };
        QCOMPARE(menu("menu_File"),
                 (QStringList{"&New Task", "&Edit Task...", "&Remove Task", "Remove All Tasks", "-", "E&xport Tasks...",
                              "&Import Tasks...", "-", "&Update Tasks Now", "-", "&Quit"}));
        QCOMPARE(menu("menu_Edit"), (QStringList{"&Mark All Read", "&Find Results", "-", "Remove Result",
                                                 "Remove All Results", "-", "Rese&t Results"}));
        QCOMPARE(menu("menu_View"), (QStringList{"Show Grid"}));
        QCOMPARE(menu("menu_Tools"), (QStringList{"&Options"}));
        QCOMPARE(menu("menu_Help"), (QStringList{"Online-Help", "&About", "Homepage"}));
        auto* toolbar = window.findChild<QToolBar*>(QStringLiteral("mainToolBar"));
        QVERIFY(toolbar);
        QCOMPARE(toolbar->windowTitle(), QStringLiteral("Toolbar"));
        QCOMPARE(texts(toolbar->actions()),
                 (QStringList{"&New Task", "&Remove Task", "&Update Tasks Now", "-", "Homepage"}));
    }

    void actions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<bool>("hasIcon");
        QTest::addRow("new task") << "action_New_Task"
                                  << "&New Task"
                                  << "Ctrl+N" << true;
        QTest::addRow("remove task") << "action_Remove_Task"
                                     << "&Remove Task"
                                     << "Ctrl+R" << true;
        QTest::addRow("remove all tasks") << "actionRemove_All_Tasks"
                                          << "Remove All Tasks"
                                          << "" << false;
        QTest::addRow("update") << "actionUpdate_Tasks"
                                << "&Update Tasks Now"
                                << "Ctrl+U" << true;
        QTest::addRow("quit") << "actionQuit"
                              << "&Quit"
                              << "Ctrl+Q" << false;
        QTest::addRow("remove result") << "actionRemove_Result"
                                       << "Remove Result"
                                       << "Ctrl+D" << false;
        QTest::addRow("remove all results") << "actionRemove_All_Results"
                                            << "Remove All Results"
                                            << "" << false;
        QTest::addRow("reset") << "actionReset_Results"
                               << "Rese&t Results"
                               << "Ctrl+R, Ctrl+R" << false;
        QTest::addRow("grid") << "actionShow_grid"
                              << "Show Grid"
                              << "" << false;
        QTest::addRow("options") << "action_Options"
                                 << "&Options"
                                 << "Ctrl+K" << true;
        QTest::addRow("help") << "actionHelp"
                              << "Online-Help"
                              << "F1" << true;
        QTest::addRow("about") << "actionAbout"
                               << "&About"
                               << "" << true;
        QTest::addRow("homepage") << "actionHomepage"
                                  << "Homepage"
                                  << "" << true;
    }

    void actions()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, shortcut);
        QFETCH(bool, hasIcon);
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        auto* action = window.findChild<QAction*>(name);
        QVERIFY2(action, qPrintable(name));
        QCOMPARE(action->text(), text);
        QCOMPARE(action->shortcut(), QKeySequence(shortcut));
        QCOMPARE(!action->icon().isNull(), hasIcon);
        QCOMPARE(action->isCheckable(), name == QStringLiteral("actionShow_grid"));
    }

    void resetHasTwoStrokeShortcutSharingRemoveTask()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        const QKeySequence reset = window.findChild<QAction*>("actionReset_Results")->shortcut();
        const QKeySequence remove = window.findChild<QAction*>("action_Remove_Task")->shortcut();
        QCOMPARE(reset.count(), 2);
        QCOMPARE(reset[0], remove[0]);
        QCOMPARE(reset[1], remove[0]);
    }

    void gridToggle()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        auto* grid = window.findChild<QAction*>("actionShow_grid");
        auto* results = window.findChild<QTableView*>("tableWidget");
        QVERIFY(grid->isChecked());
        QVERIFY(results->showGrid());
        grid->trigger();
        QVERIFY(!grid->isChecked());
        QVERIFY(!results->showGrid());
        grid->trigger();
        QVERIFY(results->showGrid());
    }

    void leftPaneNeverWiderThan200()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        window.resize(1600, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        auto* results = window.findChild<QTableView*>("tableWidget");
        QVERIFY(tree->width() <= 200);
        QVERIFY2(results->width() > 1000, "the results table takes the rest of the width");
        window.close();
    }

    void quitClosesWindow()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.findChild<QAction*>("actionQuit")->trigger();
        QVERIFY(!window.isVisible());
    }

    void unusableDatabaseEndsBeforeTheWindow_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("reason"); // SQLite's words, after the file's full path
        QTest::addRow("task.db is a folder") << true << "unable to open database file";
        QTest::addRow("task.db is not a database") << false << "file is not a database";
    }

    void unusableDatabaseEndsBeforeTheWindow()
    {
        QFETCH(bool, directory);
        QFETCH(QString, reason);
        AppFixture fixture;
        if (directory) {
            QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("task.db")));
        } else {
            QFile file(fixture.path(QStringLiteral("task.db")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        }
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Cancel);
        WindowParts parts;
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("Cannot open database"));
        // The described text, then the file and why.
        QCOMPARE(answer.text, QStringLiteral("Unable to establish a database connection.\n"
                                             "This program needs SQLite support. \n\n"
                                             "Click Cancel to exit.\n\n%1: %2")
                                  .arg(QFileInfo(fixture.path("task.db")).absoluteFilePath(), reason));
        QVERIFY(!parts.databaseOk());
        QVERIFY(!parts.window);
    }
};

QTEST_MAIN(TestMainWindowLayout)
#include "tst_mainwindow_layout.moc"
