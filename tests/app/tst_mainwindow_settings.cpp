// SPDX-License-Identifier: GPL-3.0-or-later
// Window state between runs, the options through the Options command, the log-on entry, the about box and
// the home page.
#include "app/appsettings.h"
#include "app/mainwindow.h"
#include "tests/app/windowsteps.h"
#include "tests/support/dbfile.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

namespace {
QSettings settings()
{
    return QSettings(AppSettings::Organization, AppSettings::Application);
}

struct OptionsInput
{
    bool autoRun = false;
    bool autoDelete = false;
    int days = 14;
    bool accept = true;
};

void answerNextOptionsDialog(const OptionsInput& input)
{
    QTimer::singleShot(0, [input] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QCheckBox*>("checkBoxAutorun")->setChecked(input.autoRun);
        dialog->findChild<QCheckBox*>("checkBoxAutoDelete")->setChecked(input.autoDelete);
        dialog->findChild<QSpinBox*>("spinBoxDays")->setValue(input.days);
        dialog->findChild<QPushButton*>(input.accept ? "pushButtonOk" : "pushButtonCancel")->click();
    });
}
} // namespace

class TestMainWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void firstStartDefaults()
    {
        TestWindow test;
        MainWindow& window = test.window;
        QVERIFY(QFile::exists(test.fixture.path(QStringLiteral("task.db"))));
        QCOMPARE(window.size(), QSize(800, 600));
        QCOMPARE(window.pos(), QPoint(0, 0));
        QVERIFY(!window.findChild<QToolBar*>("mainToolBar")->isHidden());
        QVERIFY(!settings().contains("options/is_auto_run"));
    }

    void windowStateSurvivesRestart()
    {
        AppFixture fixture;
        QByteArray splitter;
        QByteArray splitter2;
        {
            DbFile file(fixture.path(QStringLiteral("task.db")));
            file.addTask(0, QStringLiteral("First"), QStringLiteral("http://127.0.0.1:1/a"), QStringLiteral("qt"));
            file.addTask(1, QStringLiteral("Second"), QStringLiteral("http://127.0.0.1:1/b"), QStringLiteral("qt"));
        }
        {
            WindowParts parts;
            MainWindow& window = *parts.window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            // At a first start the task list has at least two thirds of the left pane.
            const QList<int> first = window.findChild<QSplitter*>("splitter")->sizes();
            QVERIFY2(first.at(0) * 3 >= (first.at(0) + first.at(1)) * 2, qPrintable(QString::number(first.at(0))));
            auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
            tree->setCurrentIndex(tree->model()->index(1, 0));
            window.resize(700, 500);
            window.move(40, 30);
            window.findChild<QToolBar*>("mainToolBar")->hide();
            auto* left = window.findChild<QSplitter*>("splitter");
            auto* right = window.findChild<QSplitter*>("splitter_2");
            left->setSizes({120, 300});
            right->setSizes({400, 0});
            splitter = left->saveState();
            splitter2 = right->saveState();
            window.close();
        }
        QCOMPARE(settings().value("mainwindow/size").toSize(), QSize(700, 500));
        {
            WindowParts parts;
            MainWindow& window = *parts.window;
            QCOMPARE(window.size(), QSize(700, 500));
            QCOMPARE(window.pos(), QPoint(40, 30));
            QVERIFY(window.findChild<QToolBar*>("mainToolBar")->isHidden());
            QCOMPARE(window.findChild<QSplitter*>("splitter")->saveState(), splitter);
            QCOMPARE(window.findChild<QSplitter*>("splitter_2")->saveState(), splitter2);
            QCOMPARE(window.findChild<QTreeView*>("treeWidgetTaskList")->currentIndex().row(), 1);
            window.showMaximized();
            window.close();
        }
        QVERIFY(settings().value("mainwindow/maximized").toBool());
        WindowParts parts;
        MainWindow& window = *parts.window;
        QVERIFY(window.isMaximized());
        window.close();
    }

    // The results table's sort is kept in a group of its own and applies to every task shown; values the
    // program did not write sort newest first.
    void resultsSortSurvivesRestart_data()
    {
        QTest::addColumn<QVariant>("storedColumn"); // written by hand before the start; invalid: none
        QTest::addColumn<QVariant>("storedOrder");
        QTest::addColumn<int>("clickColumn"); // header clicked in the first run; -1: none
        QTest::addColumn<int>("column");      // sort after the restart
        QTest::addColumn<int>("order");
        QTest::addRow("first start") << QVariant() << QVariant() << -1 << 0 << int(Qt::DescendingOrder);
        QTest::addRow("by text") << QVariant() << QVariant() << 2 << 2 << int(Qt::AscendingOrder);
        QTest::addRow("by link") << QVariant() << QVariant() << 3 << 3 << int(Qt::AscendingOrder);
        QTest::addRow("stored by hand") << QVariant(1) << QVariant(0) << -1 << 1 << int(Qt::AscendingOrder);
        QTest::addRow("unknown column") << QVariant(9) << QVariant(0) << -1 << 0 << int(Qt::DescendingOrder);
        QTest::addRow("unknown order") << QVariant(2) << QVariant(5) << -1 << 0 << int(Qt::DescendingOrder);
        QTest::addRow("not a number") << QVariant("text") << QVariant("up") << -1 << 0 << int(Qt::DescendingOrder);
    }
    void resultsSortSurvivesRestart()
    {
        QFETCH(QVariant, storedColumn);
        QFETCH(QVariant, storedOrder);
        QFETCH(int, clickColumn);
        QFETCH(int, column);
        QFETCH(int, order);
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", "http://127.0.0.1:1/a", "qt");
            file.addTask(1, "B", "http://127.0.0.1:1/b", "qt");
            file.addResult(0, "01/02/2009", "qt b", "http://h/1");
            file.addResult(0, "01/01/2009", "qt a", "http://h/2");
            file.addResult(1, "01/01/2009", "qt z", "http://h/4");
            file.addResult(1, "01/02/2009", "qt y", "http://h/3");
        }
        if (storedColumn.isValid()) {
            settings().setValue("results_table/sort_column", storedColumn);
            settings().setValue("results_table/sort_order", storedOrder);
        }
        auto header = [](MainWindow& window) {
            return window.findChild<QTableView*>("tableWidget")->horizontalHeader();
        };
        {
            WindowParts parts;
            MainWindow& window = *parts.window;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            if (clickColumn >= 0) {
                QTest::mouseClick(header(window)->viewport(), Qt::LeftButton, {},
                                  QPoint(header(window)->sectionViewportPosition(clickColumn) + 5, 5));
                // Another task keeps the chosen order.
                Views::select(window.findChild<QTreeView*>("treeWidgetTaskList"), 1);
                QCOMPARE(header(window)->sortIndicatorSection(), clickColumn);
                // The first task is the one shown after the restart.
                Views::select(window.findChild<QTreeView*>("treeWidgetTaskList"), 0);
            }
            window.close();
        }
        // The described keys of the window stay as they were.
        QVERIFY(!settings().contains("mainwindow/sort_column"));
        WindowParts parts;
        MainWindow& window = *parts.window;
        QCOMPARE(header(window)->sortIndicatorSection(), column);
        QCOMPARE(int(header(window)->sortIndicatorOrder()), order);
        auto* table = window.findChild<QTableView*>("tableWidget");
        // By text "qt a" comes first; by link (h/1) and newest first "qt b".
        if (column != 1)
            QCOMPARE(Views::text(table, 0, 2), QString(column == 2 ? "qt a" : "qt b"));
        // Rows are numbered as shown.
        QCOMPARE(table->model()->headerData(0, Qt::Vertical).toString(), QString("1"));
        QCOMPARE(table->model()->headerData(1, Qt::Vertical).toString(), QString("2"));
    }

    void optionsCancelWritesNothing()
    {
        TestWindow test;
        answerNextOptionsDialog({true, true, 20, false});
        test.trigger("action_Options");
        QVERIFY(!settings().contains("options/is_auto_run"));
        QVERIFY(!settings().contains("options/delete_days"));
        QVERIFY(!QFile::exists(AutoStart::entryPath()));
    }

    void optionsAcceptedWriteKeysAndLogOnEntry()
    {
        TestWindow test;
        const AppFixture& fixture = test.fixture;
        answerNextOptionsDialog({true, true, 20, true});
        test.trigger("action_Options");
        QCOMPARE(settings().value("options/is_auto_run").toBool(), true);
        QCOMPARE(settings().value("options/is_auto_delete").toBool(), true);
        QCOMPARE(settings().value("options/delete_days").toInt(), 20);
        QVERIFY(AutoStart::entryPath().startsWith(fixture.configDir));
        QFile entry(AutoStart::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(entry.readAll());
        QVERIFY(text.contains(QStringLiteral("Name=Vantrel Monitor")));
        QVERIFY(text.contains(QStringLiteral("Exec=\"") + QCoreApplication::applicationFilePath() + '"'));
        // Started at log-on in the folder whose task.db is in use now.
        QVERIFY(text.contains(QStringLiteral("\nPath=") + QDir::currentPath() + '\n'));
        QCOMPARE(QDir::currentPath(), fixture.dir.path());
        entry.close();

        answerNextOptionsDialog({false, true, 20, true});
        test.trigger("action_Options");
        QVERIFY(!QFile::exists(AutoStart::entryPath()));
        QCOMPARE(settings().value("options/is_auto_run").toBool(), false);
    }

    // A stored period below what the options dialog offers (it shows 3 as 7) still applies at start-up.
    void startUpDeletionUsesStoredDaysUnclamped()
    {
        const QDate today = QDate::currentDate();
        TestWindow test([&](DbFile& file) {
            settings().setValue("options/is_auto_delete", true);
            settings().setValue("options/delete_days", 3);
            settings().sync();
            file.addTask(0, "T", "http://127.0.0.1:1/", "k");
            file.addResult(0, today.addDays(-5).toString("MM/dd/yyyy"), "five days", "http://a/5");
            file.addResult(0, today.addDays(-3).toString("MM/dd/yyyy"), "three days", "http://a/3");
            file.addResult(0, today.toString("MM/dd/yyyy"), "today", "http://a/0");
        });
        QCOMPARE(test.task(0)->results().size(), 2);
        QCOMPARE(test.db().column("SELECT text FROM results ORDER BY id"), (QStringList{"three days", "today"}));
    }

    void homepageOpensTheMakersPage()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("http", &catcher, "open");
        TestWindow test;
        test.trigger("actionHomepage");
        test.trigger("actionHomepage");
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(catcher.urls.size(), 2);
        QCOMPARE(catcher.urls.at(0), catcher.urls.at(1));
        QCOMPARE(catcher.urls.at(0).path(), QStringLiteral("/index.html"));
    }

    // The box itself, its size among the rest, is the dialog's test.
    void aboutOpensTheAboutBox()
    {
        TestWindow test;
        QString opened;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            opened = QApplication::activeModalWidget()->metaObject()->className();
            QApplication::activeModalWidget()->close();
        });
        test.trigger("actionAbout");
        QCOMPARE(opened, QStringLiteral("DialogAbout"));
    }
};

QTEST_MAIN(TestMainWindowSettings)
#include "tst_mainwindow_settings.moc"
