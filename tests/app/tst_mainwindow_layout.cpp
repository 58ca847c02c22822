// SPDX-License-Identifier: GPL-3.0-or-later
// What the window builds around its form: the views' headers, the tray's menu, the grid and the panes.
#include "app/mainwindow.h"
#include "tests/app/windowsteps.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

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

    // The headers the models build, the tray's menu, and the unused page view kept out of sight.
    void textsTheCodeBuilds()
    {
        TestWindow test;
        QVERIFY(test.window.findChild<QWidget*>(QStringLiteral("webView"))->isHidden());
        QCOMPARE(Views::header(test.tree(), 0), QStringLiteral("Task List"));
        QTableView* results = test.results();
        const QStringList headers{QStringLiteral("Date"), QString(), QStringLiteral("Text"), QStringLiteral("Link")};
        const QStringList tips{QStringLiteral("Date of results."), QStringLiteral("Result State"),
                               QStringLiteral("Result Text"), QStringLiteral("Result Link")};
        QCOMPARE(results->model()->columnCount(), 4);
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(Views::header(results, column), headers.at(column));
            QCOMPARE(Views::header(results, column, Qt::ToolTipRole), tips.at(column));
            QVERIFY(!qvariant_cast<QIcon>(results->model()->headerData(column, Qt::Horizontal, Qt::DecorationRole))
                         .isNull());
        }

        auto* tray = test.window.findChild<QSystemTrayIcon*>();
        QVERIFY(tray);
        QVERIFY(tray->isVisible());
        QCOMPARE(texts(tray->contextMenu()->actions()),
                 (QStringList{QStringLiteral("Mi&nimize"), QStringLiteral("Ma&ximize"), QStringLiteral("-"),
                              QStringLiteral("&Update Now"), QStringLiteral("-"), QStringLiteral("&Quit")}));
    }

    void gridToggle()
    {
        TestWindow test;
        QAction* grid = test.action("actionShow_grid");
        QVERIFY(grid->isChecked());
        QVERIFY(test.results()->showGrid());
        grid->trigger();
        QVERIFY(!grid->isChecked());
        QVERIFY(!test.results()->showGrid());
        grid->trigger();
        QVERIFY(test.results()->showGrid());
    }

    void leftPaneNeverWiderThan200()
    {
        TestWindow test;
        test.window.resize(1600, 900);
        QVERIFY(test.show());
        QVERIFY(test.tree()->width() <= 200);
        QVERIFY2(test.results()->width() > 1000, "the results table takes the rest of the width");
        test.window.close();
    }
};

QTEST_MAIN(TestMainWindowLayout)
#include "tst_mainwindow_layout.moc"
