// SPDX-License-Identifier: GPL-3.0-or-later
// The window on a Linux desktop: no tray, the links of results, and the built-in guide.
#include "app/datafolder.h"
#include "app/mainwindow.h"
#include "app/resultlink.h"
#include "tests/app/windowsteps.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QMenu>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

class TestMainWindowDesktop : public QObject
{
    Q_OBJECT

private slots:
    // Where task.db is kept, by the folder the program was started in.
    void dataFolder_data()
    {
        QTest::addColumn<bool>("fromHome"); // started in the home folder, as the desktop menu starts it
        QTest::addColumn<bool>("homeHasDb");
        QTest::addColumn<QString>("dataHome"); // $XDG_DATA_HOME
        QTest::addColumn<QString>("expected"); // relative to the home folder; "." the working folder
        QTest::addRow("terminal start elsewhere") << false << false << ""
                                                  << ".";
        QTest::addRow("menu start") << true << false << ""
                                    << "home/.local/share/vantrel-monitor";
        QTest::addRow("menu start, XDG_DATA_HOME set") << true << false << "DATA"
                                                       << "data/vantrel-monitor";
        QTest::addRow("menu start, relative XDG_DATA_HOME ignored") << true << false << "data"
                                                                    << "home/.local/share/vantrel-monitor";
        QTest::addRow("menu start with an earlier task.db at home") << true << true << ""
                                                                    << "home";
    }
    void dataFolder()
    {
        QFETCH(bool, fromHome);
        QFETCH(bool, homeHasDb);
        QFETCH(QString, dataHome);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("home") && QDir(root.path()).mkpath("elsewhere"));
        const QString home = root.filePath("home");
        if (homeHasDb) {
            QFile db(home + "/task.db");
            QVERIFY(db.open(QIODevice::WriteOnly));
        }
        const QString current = fromHome ? home : root.filePath("elsewhere");
        const QString given = dataHome == "DATA" ? root.filePath("data") : dataHome;
        QCOMPARE(DataFolder::of(current, home, given), expected == "." ? current : root.filePath(expected));
    }

    void cleanup()
    {
        for (const QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName() + " left open"));
    }

    void minimisingWithoutTrayKeepsTheWindowReachable()
    {
        TestWindow test;
        MainWindow& window = test.window;
        window.setTrayAvailable(false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setWindowState(Qt::WindowMinimized);
        // Longer than the tray's hide delay: the window must still be there, minimised.
        QTest::qWait(400);
        QVERIFY(window.isVisible());
        QVERIFY(window.windowState() & Qt::WindowMinimized);

        window.bringToFront();
        QVERIFY(window.isVisible());
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));

        // With a tray the window goes to the tray, and bringToFront fetches it from there.
        window.setTrayAvailable(true);
        window.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(window.isHidden());
        window.bringToFront();
        QVERIFY(window.isVisible());
        window.close();
    }

    void browsableLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("browsable");
        QTest::addRow("http") << "http://example.test/a?b=1" << true;
        QTest::addRow("https with port") << "https://example.test:8443/" << true;
        QTest::addRow("capital scheme") << "HTTP://example.test/" << true;
        QTest::addRow("javascript") << "javascript:alert(1)" << false;
        QTest::addRow("file") << "file:///etc/passwd" << false;
        QTest::addRow("data") << "data:text/html,<b>x</b>" << false;
        QTest::addRow("http without host") << "http:/x" << false;
        QTest::addRow("ftp") << "ftp://example.test/" << false;
        QTest::addRow("empty") << "" << false;
    }

    void browsableLinks()
    {
        QFETCH(QString, link);
        QFETCH(bool, browsable);
        QCOMPARE(ResultLink::isBrowsable(QUrl(link)), browsable);
    }

    void resultLinksOpenAndCopy_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
        QTest::addRow("http") << "http://127.0.0.1:1/news/1.html" << true;
        QTest::addRow("javascript refused") << "javascript:alert(document.cookie)" << false;
    }

    void resultLinksOpenAndCopy()
    {
        QFETCH(QString, link);
        QFETCH(bool, opened);
        TestWindow test([&](DbFile& file) {
            file.addTask(0, "T", "http://127.0.0.1:1/", "qt");
            file.addResult(0, "01/02/2009", "older qt", "http://127.0.0.1:1/old");
            file.addResult(0, "03/04/2009", "qt link", link);
        });
        MainWindow& window = test.window;
        QList<QUrl> openedUrls;
        window.setLinkOpener([&openedUrls](const QUrl& url) {
            openedUrls << url;
            return true;
        });
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* table = test.results();
        QCOMPARE(Views::text(table, 0, 3), link); // newest first

        // Double click: marked read as a click marks it, then opened if it is a web address.
        const QPoint cell = Views::rect(table, 0, 2).center();
        // As the window system delivers it: a click, then the double click.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(openedUrls, opened ? QList<QUrl>{QUrl(link)} : QList<QUrl>{});
        if (!opened)
            QVERIFY2(test.message().contains("not a web address"), qPrintable(test.message()));
        QCOMPARE(test.db().column("SELECT result_state FROM results WHERE link = ?", {link}), QStringList{"1"});
        QCOMPARE(test.db().column("SELECT result_state FROM results WHERE text = 'older qt'"), QStringList{"0"});

        // Ctrl+C copies the link of the selected result, not the text of the current cell; any scheme.
        QGuiApplication::clipboard()->clear();
        table->setFocus();
        table->setCurrentIndex(Views::at(table, 0, 2));
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), link);

        // The context menu: its old actions first, then Open Link and Copy Link, acting on the row.
        QStringList texts;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            for (QAction* action : menu->actions())
                texts << (action->isSeparator() ? QString("-") : action->text());
            menu->close();
        });
        emit table->customContextMenuRequested(cell);
        QCOMPARE(texts, (QStringList{"&Mark All Read", "-", "Remove Result", "Remove All Results", "-", "Open Link",
                                     "Copy Link"}));
        table->setCurrentIndex(Views::at(table, 1, 0));
        test.trigger("actionOpen_Link");
        QCOMPARE(openedUrls.size(), opened ? 2 : 1);
        QCOMPARE(openedUrls.last(), QUrl("http://127.0.0.1:1/old"));
        test.trigger("actionCopy_Link");
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("http://127.0.0.1:1/old"));
        window.close();
    }

    void helpShowsTheGuideWithoutNetwork()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("http", &catcher, "open");
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        TestWindow test;
        QString shown;
        bool pictureFound = false;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            auto* browser = dialog->findChild<QTextBrowser*>("textBrowserGuide");
            QVERIFY(browser);
            shown = browser->toPlainText();
            pictureFound = !browser->document()
                                ->resource(QTextDocument::ImageResource, QUrl("docs/screenshot-options.png"))
                                .isNull();
            dialog->close();
        });
        test.trigger("actionHelp");
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
        QVERIFY(catcher.urls.isEmpty());
        QVERIFY2(shown.contains("Creating a task"), qPrintable(shown.left(200)));
        QVERIFY2(!shown.contains("Run every test"), "only the guide, not the developer sections");
        QVERIFY(pictureFound);
    }
};

QTEST_MAIN(TestMainWindowDesktop)
#include "tst_mainwindow_desktop.moc"
