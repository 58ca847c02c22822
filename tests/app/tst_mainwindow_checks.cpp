// SPDX-License-Identifier: GPL-3.0-or-later
// Creating tasks, update-all, reset, periodic checks and the tray, driven through the real window against a
// loopback server.
#include "app/mainwindow.h"
#include "app/trayicon.h"
#include "engine/pagefetch.h"
#include "tests/app/appfixture.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
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

struct NewTaskInput
{
    QString name;
    QString address;
    QString keyword;
    int number = 1;
    int unit = 1;
};

// Fills the new-task dialog once it shows and presses Ok.
void fillNextNewTaskDialog(const NewTaskInput& input)
{
    QTimer::singleShot(0, [input] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QLineEdit*>("lineEditTaskName")->setText(input.name);
        dialog->findChild<QLineEdit*>("lineEditWebaddress")->setText(input.address);
        dialog->findChild<QLineEdit*>("lineEditGrabtext")->setText(input.keyword);
        dialog->findChild<QSpinBox*>("spinBoxFrequencyNum")->setValue(input.number);
        dialog->findChild<QComboBox*>("comboBoxFrequencyUnit")->setCurrentIndex(input.unit);
        dialog->findChild<QPushButton*>("pushButtonOk")->click();
    });
}
} // namespace

class TestMainWindowChecks : public QObject
{
    Q_OBJECT

    TestServer server;

private:
    void createThroughDialog(MainWindow& window, const NewTaskInput& input)
    {
        fillNextNewTaskDialog(input);
        window.findChild<QAction*>("action_New_Task")->trigger();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(2000);
    }

    void createTask()
    {
        AppFixture fixture;
        server.setPage("/create.html",
                       page({{"/a1", "Qt one"}, {"b/2", "qt two"}, {"/x", "other"}, {"/a1", "Qt one"}}));
        WindowParts parts;
        MainWindow& window = *parts.window;
        const QString address = server.url("/create.html").toString();
        createThroughDialog(window, {"News", address + "/", "qt", 2, 0});

        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Task News created!"));
        QVERIFY(window.isEnabled());
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        QCOMPARE(Views::rows(tree), 1);
        QCOMPARE(Views::text(tree, tree->currentIndex().row()), QStringLiteral("News"));
        auto* results = window.findChild<QTableView*>("tableWidget");
        QCOMPARE(Views::rows(results), 3);

        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT address FROM tasks"), QStringList{address});
        QCOMPARE(file.column("SELECT frequency FROM tasks"), QStringList{"172800"});
        QCOMPARE(file.column("SELECT task_id FROM tasks"), QStringList{"0"});
        const QString base = server.url("/").toString();
        QCOMPARE(file.column("SELECT link FROM results ORDER BY id"),
                 (QStringList{base + "a1", base + "b/2", base + "a1"}));
        QCOMPARE(file.column("SELECT text FROM results ORDER BY id"), (QStringList{"Qt one", "qt two", "Qt one"}));
    }

    void duplicateTaskIsRefused()
    {
        AppFixture fixture;
        server.setPage("/dup.html", page({{"/a1", "qt one"}}));
        WindowParts parts;
        MainWindow& window = *parts.window;
        const QString address = server.url("/dup.html").toString();
        createThroughDialog(window, {"First", address, "qt"});
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Ok);
        createThroughDialog(window, {"Second name", address, "qt"});
        QTRY_VERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("New Task"));
        QCOMPARE(answer.text, QStringLiteral("This task already exists!"));
        QCOMPARE(window.taskList().size(), 1);
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.count("tasks"), 1);
    }

    void newTaskIdsNeverCollide()
    {
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            for (int id = 0; id < 3; ++id)
                file.addTask(id, QString("T%1").arg(id), server.url(QString("/t%1").arg(id)).toString(), "k");
        }
        server.setPage("/ids.html", page({}));
        WindowParts parts;
        MainWindow& window = *parts.window;
        createThroughDialog(window, {"Fourth", server.url("/ids.html").toString(), "k"});
        QCOMPARE(window.taskList().last()->taskId(), 3);

        // Remove the first task: three remain with ids 1, 2, 3, and the count (3) is taken.
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        Views::select(tree, 0);
        window.findChild<QAction*>("action_Remove_Task")->trigger();
        createThroughDialog(window, {"Fifth", server.url("/ids.html").toString(), "other"});
        QCOMPARE(window.taskList().last()->taskId(), 4);
    }

    void resetRebuildsOneTask()
    {
        AppFixture fixture;
        server.setPage("/r1.html", page({{"/new1", "qt fresh"}, {"/new2", "qt second"}}));
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "One", server.url("/r1.html").toString(), "qt");
            file.addTask(1, "Two", server.url("/r2.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt old", "http://old/1");
            file.addResult(1, "01/01/2009", "qt other task", "http://old/2");
        }
        WindowParts parts;
        MainWindow& window = *parts.window;
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Yes);
        window.findChild<QAction*>("actionReset_Results")->trigger();
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("Reset Results"));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Reset results finished!"));
        QVERIFY(window.isEnabled());
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 0 ORDER BY id"),
                 (QStringList{"qt fresh", "qt second"}));
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 1"), QStringList{"qt other task"});
        QCOMPARE(window.taskList().at(0)->results().size(), 2);
        QCOMPARE(Views::rows(window.findChild<QTableView*>("tableWidget")), 2);
    }

    void resetKeepsResultsWhenThePageCannotBeFetched()
    {
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "Gone", server.url("/missing.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt kept", "http://old/1");
        }
        WindowParts parts;
        MainWindow& window = *parts.window;
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Yes);
        window.findChild<QAction*>("actionReset_Results")->trigger();
        QVERIFY(window.statusBar()->currentMessage().startsWith(QStringLiteral("Reset failed")));
        QCOMPARE(window.taskList().at(0)->results().size(), 1);
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT text FROM results"), QStringList{"qt kept"});
    }

    void resetCancelledDoesNothing()
    {
        AppFixture fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "One", server.url("/r1.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt old", "http://old/1");
        }
        server.setPage("/r1.html", page({{"/new1", "qt fresh"}}));
        WindowParts parts;
        MainWindow& window = *parts.window;
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Cancel);
        window.findChild<QAction*>("actionReset_Results")->trigger();
        QVERIFY(answer.seen);
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT text FROM results"), QStringList{"qt old"});
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
        AppFixture fixture;
        const QString base = server.url("/").toString();
        {
            DbFile file(fixture.path("task.db"));
            for (int id = 0; id < 3; ++id) {
                const QString path = QString("/u%1.html").arg(id);
                file.addTask(id, QString("U%1").arg(id), server.url(path).toString(), "qt");
                file.addResult(id, "01/01/2009", "qt item", base + QString("item%1").arg(id));
                const bool differs = changed && id == 1;
                server.setPage(path, page({{QString("/item%1").arg(id), differs ? "qt item v2" : "qt item"},
                                           {QString("/unknown%1").arg(id), "qt never stored"}}));
            }
        }
        WindowParts parts;
        MainWindow& window = *parts.window;
        window.findChild<QAction*>("actionUpdate_Tasks")->trigger();
        QVERIFY(window.isEnabled());
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("Update for all tasks finished!"));
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.count("results"), changed ? 4 : 3);
        QCOMPARE(window.taskList().at(1)->results().size(), changed ? 2 : 1);
        if (changed) {
            QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 1 ORDER BY id"),
                     (QStringList{"qt item", "qt item v2"}));
        }
        // Taken over once: the next due check does not append the same records again.
        Task* task = window.taskList().at(1);
        task->setLastUpdate(QDateTime::currentDateTime().addDays(-1).toString(Qt::ISODate));
        window.checkTask();
        QTRY_COMPARE(window.checker().fetcher().running() + window.checker().fetcher().queued(), 0);
        QCOMPARE(task->results().size(), changed ? 2 : 1);
        QCOMPARE(file.count("results"), changed ? 4 : 3);
    }

    void periodicCheck()
    {
        AppFixture fixture;
        const QString base = server.url("/").toString();
        const QDateTime past = QDateTime::currentDateTime().addSecs(-7200);
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "Due", server.url("/p.html").toString(), "qt", 600, past.toString(Qt::ISODate));
            file.addTask(1, "Later", server.url("/q.html").toString(), "qt", 86400,
                         QDateTime::currentDateTime().toString(Qt::ISODate));
            file.addResult(0, "01/01/2009", "qt item", base + "item");
            file.addResult(1, "01/01/2009", "qt item", base + "qitem");
        }
        server.setPage("/p.html", page({{"/item", "qt item changed"}}));
        server.setPage("/q.html", page({{"/qitem", "qt item changed"}}));
        WindowParts parts;
        MainWindow& window = *parts.window;
        Task* due = window.taskList().at(0);
        Task* later = window.taskList().at(1);
        const QString laterUpdate = later->lastUpdateText();

        // The due check starts a background check; the task's last update becomes the time of the check, and
        // the change is taken over, stored and shown as soon as the page has arrived.
        const QDateTime checkedAt = QDateTime::currentDateTime();
        window.checkTask();
        QVERIFY(qAbs(due->lastUpdate().secsTo(checkedAt)) < 5);
        QCOMPARE(later->lastUpdateText(), laterUpdate);
        DbFile file(fixture.path("task.db"));
        const QDateTime stored =
            QDateTime::fromString(file.column("SELECT last_update FROM tasks WHERE task_id = 0").value(0), Qt::ISODate);
        QVERIFY(qAbs(stored.secsTo(QDateTime::currentDateTime())) < 5);
        QTRY_COMPARE(due->results().size(), 2);
        QCOMPARE(later->results().size(), 1);
        QCOMPARE(due->results().last()->text, QStringLiteral("qt item changed"));
        QCOMPARE(file.column("SELECT text FROM results WHERE taskid = 0 ORDER BY id"),
                 (QStringList{"qt item", "qt item changed"}));
        QCOMPARE(Views::rows(window.findChild<QTableView*>("tableWidget")), 2);
        QTRY_COMPARE(window.checker().fetcher().running() + window.checker().fetcher().queued(), 0);
    }

    void trayHidesAndRestores()
    {
        AppFixture fixture;
        WindowParts parts;
        MainWindow& window = *parts.window;
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
