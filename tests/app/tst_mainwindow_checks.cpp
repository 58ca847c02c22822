// SPDX-License-Identifier: GPL-3.0-or-later
// Creating tasks, update-all, reset, periodic checks and the tray, driven through the real window against a
// loopback server.
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "engine/fetching/fetchrequest.h"
#include "tests/app/newtaskdialog.h"
#include "tests/app/windowsteps.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

namespace {
QByteArray page(const QList<QPair<QString, QString>>& links)
{
    QByteArray html = "<html><body>\n";
    for (const auto& link : links)
        html += "<a href=\"" + link.first.toUtf8() + "\">" + link.second.toUtf8() + "</a>\n";
    return html + "</body></html>\n";
}

} // namespace

class TestMainWindowChecks : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(2000);
    }

    void createTask()
    {
        server.setPage("/create.html",
                       page({{"/a1", "Qt one"}, {"b/2", "qt two"}, {"/x", "other"}, {"/a1", "Qt one"}}));
        TestWindow test;
        const QString address = server.url("/create.html").toString();
        createThroughDialog(test.window, "News", address + "/", "qt", 2, 0);

        QCOMPARE(test.message(), QStringLiteral("Task News created!"));
        QVERIFY(test.window.isEnabled());
        QCOMPARE(Views::rows(test.tree()), 1);
        QCOMPARE(Views::text(test.tree(), test.tree()->currentIndex().row()), QStringLiteral("News"));
        QCOMPARE(Views::rows(test.results()), 3);

        DbFile file = test.db();
        QCOMPARE(file.column("SELECT address FROM tasks"), QStringList{address});
        QCOMPARE(file.column("SELECT frequency FROM tasks"), QStringList{"172800"});
        QCOMPARE(file.column("SELECT task_id FROM tasks"), QStringList{"0"});
        const QString base = server.url("/").toString();
        QCOMPARE(file.column("SELECT link FROM results ORDER BY id"),
                 (QStringList{base + "a1", base + "b/2", base + "a1"}));
        QCOMPARE(file.column("SELECT text FROM results ORDER BY id"), (QStringList{"Qt one", "qt two", "Qt one"}));
    }

    // A duplicate, here typed with its scheme in capitals, is refused in the dialog, which keeps what was typed
    // with the cursor in the keyword.
    void duplicateTaskIsRefused()
    {
        server.setPage("/dup.html", page({{"/a1", "qt one"}}));
        TestWindow test;
        const QString address = server.url("/dup.html").toString();
        createThroughDialog(test.window, "First", address);
        QString typed = address;
        typed.replace(0, 4, "HTTP");
        ModalAnswer answer;
        QStringList kept; // the dialog's entries after the refusal, and the field with the cursor
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            const QStringList fields{"lineEditTaskName", "lineEditWebaddress", "lineEditGrabtext"};
            const QStringList entries{"Second name", typed, "QT"};
            for (int i = 0; i < fields.size(); ++i)
                dialog->findChild<QLineEdit*>(fields.at(i))->setText(entries.at(i));
            answer.answerNext(QMessageBox::Ok);
            dialog->findChild<QPushButton*>("pushButtonOk")->click();
            for (const QString& field : fields)
                kept << dialog->findChild<QLineEdit*>(field)->text();
            kept << (dialog->isVisible() && dialog->focusWidget() ? dialog->focusWidget()->objectName() : QString());
            dialog->findChild<QPushButton*>("pushButtonCancel")->click();
        });
        test.trigger("action_New_Task");
        QCOMPARE(kept, (QStringList{"Second name", typed, "QT", "lineEditGrabtext"}));
        QCOMPARE(answer.title, QStringLiteral("New Task"));
        QCOMPARE(answer.text, QStringLiteral("This task already exists!"));
        QCOMPARE(test.window.taskList().size(), 1);
        QCOMPARE(test.db().count("tasks"), 1);
    }

    void resetRebuildsOneTask()
    {
        server.setPage("/r1.html", page({{"/new1", "qt fresh"}, {"/new2", "qt second"}}));
        TestWindow test([this](DbFile& file) {
            file.addTask(0, "One", server.url("/r1.html").toString(), "qt");
            file.addTask(1, "Two", server.url("/r2.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt old", "http://old/1");
            file.addResult(1, "01/01/2009", "qt other task", "http://old/2");
        });
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Yes);
        test.trigger("actionReset_Results");
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("Reset Results"));
        QCOMPARE(test.message(), QStringLiteral("Reset results finished!"));
        QVERIFY(test.window.isEnabled());
        DbFile file = test.db();
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 0 ORDER BY id"),
                 (QStringList{"qt fresh", "qt second"}));
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 1"), QStringList{"qt other task"});
        QCOMPARE(test.task(0)->results().size(), 2);
        QCOMPARE(Views::rows(test.results()), 2);
    }

    void resetCancelledDoesNothing()
    {
        server.setPage("/r1.html", page({{"/new1", "qt fresh"}}));
        TestWindow test([this](DbFile& file) {
            file.addTask(0, "One", server.url("/r1.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt old", "http://old/1");
        });
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Cancel);
        test.trigger("actionReset_Results");
        QVERIFY(answer.seen);
        QCOMPARE(test.db().column("SELECT text FROM results"), QStringList{"qt old"});
    }

    void updateAll_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addRow("nothing new") << false;
        QTest::addRow("one of three changed") << true;
    }

    void updateAll()
    {
        QFETCH(bool, changed);
        const QString base = server.url("/").toString();
        TestWindow test([&](DbFile& file) {
            for (int id = 0; id < 3; ++id) {
                const QString path = QString("/u%1.html").arg(id);
                file.addTask(id, QString("U%1").arg(id), server.url(path).toString(), "qt");
                file.addResult(id, "01/01/2009", "qt item", base + QString("item%1").arg(id));
                const bool differs = changed && id == 1;
                server.setPage(path, page({{QString("/item%1").arg(id), differs ? "qt item v2" : "qt item"},
                                           {QString("/unknown%1").arg(id), "qt never stored"}}));
            }
        });
        // What the window shows of it; the take-over itself is the core's (its tests of update-all).
        test.trigger("actionUpdate_Tasks");
        QVERIFY(test.window.isEnabled());
        QCOMPARE(test.message(), QStringLiteral("Update for all tasks finished!"));
        test.tree()->setCurrentIndex(test.tree()->model()->index(1, 0));
        QCOMPARE(Views::rows(test.results()), changed ? 2 : 1);
    }

    void periodicCheck()
    {
        const QString base = server.url("/").toString();
        const QDateTime past = QDateTime::currentDateTime().addSecs(-7200);
        TestWindow test([&](DbFile& file) {
            file.addTask(0, "Due", server.url("/p.html").toString(), "qt", 600, past.toString(Qt::ISODate));
            file.addTask(1, "Later", server.url("/q.html").toString(), "qt", 86400,
                         QDateTime::currentDateTime().toString(Qt::ISODate));
            file.addResult(0, "01/01/2009", "qt item", base + "item");
            file.addResult(1, "01/01/2009", "qt item", base + "qitem");
        });
        server.setPage("/p.html", page({{"/item", "qt item changed"}}));
        server.setPage("/q.html", page({{"/qitem", "qt item changed"}}));
        // The schedule's check of the due task shows its finding in the selected task's results as soon as the
        // page has arrived (which tasks are due, and the take-over, are the core's).
        test.window.checker().periodic().checkDueTasks();
        QTRY_COMPARE(Views::rows(test.results()), 2);
        QTRY_COMPARE(test.window.checker().fetcher().running() + test.window.checker().fetcher().queued(), 0);
        QCOMPARE(test.task(1)->results().size(), 1);
    }

    void trayHidesAndRestores()
    {
        TestWindow test;
        MainWindow& window = test.window;
        window.setTrayAvailable(true); // offscreen has no tray
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(window.isHidden());
        window.findChild<TrayIcon*>()->activate(QSystemTrayIcon::DoubleClick);
        QVERIFY(window.isHidden());
        window.findChild<TrayIcon*>()->activate(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));

        window.showMaximized();
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
        QTRY_VERIFY(window.isHidden());
        emit window.findChild<TrayIcon*>()->showRequested();
        QVERIFY(window.isVisible());
        QCOMPARE(window.windowState(), Qt::WindowMaximized);
        window.close();
    }
};

QTEST_MAIN(TestMainWindowChecks)
#include "tst_mainwindow_checks.moc"
