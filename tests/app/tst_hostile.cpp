// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile input through the real window: what the user is told of a page that could not be downloaded and of one
// that could be read (the hostile pages themselves are rows of tst_pagefetch and tst_keywordmatch); a task.db that
// is no database or cannot be written; a settings file full of garbage. Each must end in a clear message or a
// quiet, correct outcome, never a crash, a hang or a lost row.
#include "app/mainwindow.h"
#include "engine/fetching/fetchrequest.h"
#include "storage/taskdatabase.h"
#include "tests/app/appfixture.h"
#include "tests/app/newtaskdialog.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/randombytes.h"
#include "tests/support/testserver.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
constexpr int TimeoutMs = 1500;
constexpr qint64 LoweredLimit = 1024 * 1024;
const QString DateFormat = QStringLiteral("MM/dd/yyyy");

// 50 MB of links that all match "qt": a body that slipped past the size limit would give millions of results.
const QByteArray& hugeBody()
{
    static const QByteArray body = QByteArray("<a href=\"/big\">qt big</a>\n").repeated(50 * 1024 * 1024 / 26);
    return body;
}

TestServer::Response bodyResponse(const QByteArray& body)
{
    TestServer::Response response;
    response.body = body;
    return response;
}

// Makes a file read-only for this process even when it runs as root: the mode loses its write bits, and
// CAP_DAC_OVERRIDE, which lets root write anyway, leaves this thread's effective capabilities (it stays
// permitted, so it comes back). SQLite opens its files on the calling thread.
class WriteProtected
{
public:
    explicit WriteProtected(const QString& path) : m_path(path)
    {
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[CAP_DAC_OVERRIDE / 32].effective &= ~(1u << (CAP_DAC_OVERRIDE % 32));
        m_lowered = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~WriteProtected()
    {
        if (m_lowered)
            syscall(SYS_capset, &m_header, m_saved);
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
    }
    bool writable() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadWrite);
    }

private:
    QString m_path;
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_lowered = false;
};

// The window's writes, each through its own door, against a task.db that refuses them.
struct ReadOnlyContext
{
    MainWindow& window;
    QTreeView& tree;
    QTableView& table;
    Task& task;
    TestServer& server;
};

void trigger(MainWindow& window, const char* action)
{
    window.findChild<QAction*>(QLatin1String(action))->trigger();
}

// Triggers the command and answers its question with Yes.
void triggerAnsweringYes(MainWindow& window, const char* action)
{
    ModalAnswer answer;
    answer.answerNext(QMessageBox::Yes);
    trigger(window, action);
    QVERIFY(answer.seen);
}

bool focusOn(QWidget& widget)
{
    widget.setFocus();
    return QTest::qWaitFor([&widget] { return widget.hasFocus(); });
}

const struct ReadOnlyOperation
{
    const char* name;
    void (*run)(const ReadOnlyContext&);
} readOnlyOperations[] = {
    {"remove task", [](const ReadOnlyContext& c) { trigger(c.window, "action_Remove_Task"); }},
    {"remove all tasks", [](const ReadOnlyContext& c) { triggerAnsweringYes(c.window, "actionRemove_All_Tasks"); }},
    {"remove all results",
     [](const ReadOnlyContext& c) {
         QVERIFY(focusOn(c.tree));
         trigger(c.window, "actionRemove_All_Results");
     }},
    {"remove result",
     [](const ReadOnlyContext& c) {
         QVERIFY(focusOn(c.table));
         c.table.setCurrentIndex(Views::at(&c.table, 0, 2));
         trigger(c.window, "actionRemove_Result");
     }},
    {"mark read",
     [](const ReadOnlyContext& c) {
         QTest::mouseClick(c.table.viewport(), Qt::LeftButton, {}, Views::rect(&c.table, 0, 2).center());
     }},
    {"new task",
     [](const ReadOnlyContext& c) {
         createThroughDialog(c.window, QStringLiteral("New"), c.server.url("/ro-new.html").toString());
         QVERIFY(c.window.isEnabled());
     }},
    {"update all",
     [](const ReadOnlyContext& c) {
         trigger(c.window, "actionUpdate_Tasks");
         QVERIFY(c.window.isEnabled());
     }},
    {"periodic check",
     [](const ReadOnlyContext& c) {
         // The first due check starts the background check, the next one takes its findings over.
         c.window.checker().periodic().checkDueTasks();
         QTRY_COMPARE(c.task.updateResults().size(), 1);
         c.task.setLastUpdate(QDateTime::currentDateTime().addDays(-1).toString(Qt::ISODate));
         c.window.checker().periodic().checkDueTasks();
     }},
    {"reset",
     [](const ReadOnlyContext& c) {
         triggerAnsweringYes(c.window, "actionReset_Results");
         QVERIFY(c.window.isEnabled());
     }},
};
} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    TestServer server;
    int pathSerial = 0;

    QString servePage(const TestServer::Response& response)
    {
        const QString path = QStringLiteral("/hostile%1.html").arg(++pathSerial);
        server.setResponse(path, response);
        return server.url(path).toString();
    }

    // Serves the page and stores one task for it with one result, as an earlier run of the program would have.
    void storeTaskFor(const AppFixture& fixture, const TestServer::Response& response, const QString& storedLink)
    {
        const QString address = servePage(response);
        DbFile file(fixture.path("task.db"));
        file.addTask(0, "Hostile", address, "qt");
        file.addResult(0, "01/01/2009", "qt stored", storedLink);
    }

    // One page each command cannot download and one it reads, as the window tells them apart.
    static void addHostilePageRows()
    {
        QTest::addColumn<TestServer::Response>("response");
        QTest::addColumn<qint64>("maxBody"); // 0: the default limit
        QTest::addColumn<bool>("fetched");   // the download counts as a success
        QTest::addColumn<QStringList>("found");

        QTest::addRow("50 MB body, limit lowered to 1 MB")
            << bodyResponse(hugeBody()) << LoweredLimit << false << QStringList();
        QTest::addRow("1 MB of random bytes around a link")
            << bodyResponse(randomBytes(512 * 1024, 7) + "<a href=\"/bin\">qt in binary</a>" +
                            randomBytes(512 * 1024, 8))
            << qint64(0) << true << QStringList{"qt in binary"};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(TimeoutMs);
    }

    void cleanup()
    {
        PageFetch::setMaxBodyBytes(0); // back to the default limit
        PageFetch::setTransferTimeout(TimeoutMs);
    }

    // ---- pages ----

    void createTaskFromHostilePage_data() { addHostilePageRows(); }
    void createTaskFromHostilePage()
    {
        QFETCH(TestServer::Response, response);
        QFETCH(qint64, maxBody);
        QFETCH(bool, fetched);
        QFETCH(QStringList, found);
        PageFetch::setMaxBodyBytes(maxBody);
        AppFixture fixture;
        const QString address = servePage(response);
        WindowParts parts;
        MainWindow& window = *parts.window;

        QElapsedTimer clock;
        clock.start();
        createThroughDialog(window, QStringLiteral("Hostile"), address);
        qInfo("%s: task created in %lld ms", QTest::currentDataTag(), static_cast<long long>(clock.elapsed()));

        QVERIFY(window.isEnabled());
        // A page that could not be downloaded is not passed off as a created task with no results.
        const QString message = window.statusBar()->currentMessage();
        if (fetched)
            QCOMPARE(message, QStringLiteral("Task Hostile created!"));
        else
            QVERIFY2(message.startsWith(QStringLiteral("Task Hostile created, but its page could not be downloaded (")),
                     qPrintable(message));
        QCOMPARE(window.taskList().size(), 1);
        QCOMPARE(texts(window.taskList().at(0)->results()), found);
        QCOMPARE(Views::rows(window.findChild<QTableView*>("tableWidget")), found.size());
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT address FROM tasks"), QStringList{address});
        QCOMPARE(file.column("SELECT text FROM results ORDER BY id"), found);
    }

    void updateAllOnHostilePage_data() { addHostilePageRows(); }
    void updateAllOnHostilePage()
    {
        QFETCH(TestServer::Response, response);
        QFETCH(qint64, maxBody);
        QFETCH(bool, fetched);
        PageFetch::setMaxBodyBytes(maxBody);
        AppFixture fixture;
        // The one stored link is on the 50 MB page with another text: a body that slipped through would report it.
        storeTaskFor(fixture, response, server.url("/big").toString());
        WindowParts parts;
        MainWindow& window = *parts.window;
        QElapsedTimer clock;
        clock.start();
        window.findChild<QAction*>("actionUpdate_Tasks")->trigger();
        qInfo("%s: update-all took %lld ms", QTest::currentDataTag(), static_cast<long long>(clock.elapsed()));

        // A page that changed none of the stored links reports nothing, whatever else it holds.
        QVERIFY(window.isEnabled());
        QCOMPARE(window.statusBar()->currentMessage(),
                 fetched ? QStringLiteral("Update for all tasks finished!")
                         : QStringLiteral("Update for all tasks finished! 1 page could not be downloaded."));
        QCOMPARE(texts(window.taskList().at(0)->results()), QStringList{"qt stored"});
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT text FROM results"), QStringList{"qt stored"});
    }

    void resetOnHostilePage_data() { addHostilePageRows(); }
    void resetOnHostilePage()
    {
        QFETCH(TestServer::Response, response);
        QFETCH(qint64, maxBody);
        QFETCH(bool, fetched);
        QFETCH(QStringList, found);
        PageFetch::setMaxBodyBytes(maxBody);
        AppFixture fixture;
        storeTaskFor(fixture, response, "http://old/1");
        WindowParts parts;
        MainWindow& window = *parts.window;
        ModalAnswer answer;
        answer.answerNext(QMessageBox::Yes);
        QElapsedTimer clock;
        clock.start();
        window.findChild<QAction*>("actionReset_Results")->trigger();
        qInfo("%s: reset took %lld ms", QTest::currentDataTag(), static_cast<long long>(clock.elapsed()));
        QVERIFY(answer.seen);

        // A page that could not be read keeps the old results; one that could replaces them.
        const QStringList expected = fetched ? found : QStringList{"qt stored"};
        QVERIFY(window.isEnabled());
        QVERIFY2(window.statusBar()->currentMessage().startsWith(fetched ? "Reset results finished" : "Reset failed"),
                 qPrintable(window.statusBar()->currentMessage()));
        QCOMPARE(texts(window.taskList().at(0)->results()), expected);
        DbFile file(fixture.path("task.db"));
        QCOMPARE(file.column("SELECT text FROM results ORDER BY id"), expected);
    }

    // ---- task.db ----

    // The program ends before its window with a box naming the file and SQLite's reason; the file is left as
    // it was and no settings are written.
    void notADatabase_data()
    {
        QTest::addColumn<QByteArray>("content"); // a null array: task.db is a folder
        QTest::addColumn<QString>("reason");     // SQLite's words, after the file's full path
        QTest::addRow("task.db is a folder") << QByteArray() << "unable to open database file";
        QTest::addRow("plain text") << QByteArray(4096, 'x') << "file is not a database";
        QTest::addRow("random bytes") << randomBytes(64 * 1024, 3) << "file is not a database";
        QTest::addRow("SQLite header, then garbage")
            << QByteArray("SQLite format 3\0", 16) + randomBytes(8 * 1024, 4) << "file is not a database";
        QTest::addRow("SQLite header only") << QByteArray("SQLite format 3\0", 16) << "file is not a database";
    }

    void notADatabase()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        AppFixture fixture;
        QFile file(fixture.path("task.db"));
        if (content.isNull()) {
            QVERIFY(QDir(fixture.dir.path()).mkdir(QStringLiteral("task.db")));
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
        }

        ModalAnswer answer;
        answer.answerNext(QMessageBox::Cancel);
        {
            WindowParts parts;
            QVERIFY(answer.seen);
            QCOMPARE(answer.title, QStringLiteral("Cannot open database"));
            QCOMPARE(answer.text, QStringLiteral("Unable to establish a database connection.\n"
                                                 "This program needs SQLite support. \n\n"
                                                 "Click Cancel to exit.\n\n%1: %2")
                                      .arg(QFileInfo(fixture.path("task.db")).absoluteFilePath(), reason));
            QVERIFY(!parts.databaseOk());
            QVERIFY(parts.core.watches().tasks().isEmpty());
            QVERIFY(!parts.window);
        }
        if (!content.isNull()) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
        QVERIFY(QSettings(AppSettings::Organization, AppSettings::Application).allKeys().isEmpty());
    }

    void readOnlyDatabase_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(readOnlyOperations)); ++i)
            QTest::addRow("%s", readOnlyOperations[i].name) << i;
    }

    void readOnlyDatabase()
    {
        QFETCH(int, index);
        const ReadOnlyOperation& operation = readOnlyOperations[index];
        AppFixture fixture;
        const QString path = fixture.path("task.db");
        const QString today = QDate::currentDate().toString(DateFormat);
        const QString base = server.url("/").toString();
        server.setPage("/ro.html", "<a href=\"/item\">qt item changed</a><a href=\"/item2\">qt second</a>"
                                   "<a href=\"/fresh\">qt fresh</a>");
        server.setPage("/ro-new.html", "<a href=\"/n\">qt new</a>");
        {
            DbFile file(path);
            file.addTask(0, "One", server.url("/ro.html").toString(), "qt", 60,
                         QDateTime::currentDateTime().addDays(-1).toString(Qt::ISODate));
            file.addResult(0, today, "qt item", base + "item");
            file.addResult(0, today, "qt second", base + "item2");
        }
        {
            TaskDatabase complete(path); // adds its indexes now: the read-only start then needs no write
            QVERIFY(complete.isOpen());
        }
        QByteArray before;
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            before = file.readAll();
        }

        WriteProtected readOnly(path);
        QVERIFY2(!readOnly.writable(), "task.db could not be made read-only for this process");
        WindowParts parts;
        MainWindow& window = *parts.window;
        QVERIFY(parts.databaseOk());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* tree = window.findChild<QTreeView*>("treeWidgetTaskList");
        auto* table = window.findChild<QTableView*>("tableWidget");
        Task* task = window.taskList().value(0);
        QVERIFY(task);
        QCOMPARE(Views::rows(table), 2);

        operation.run({window, *tree, *table, *task, server});
        if (QTest::currentTestFailed())
            return;

        const QString message = window.statusBar()->currentMessage();
        qInfo("%s: \"%s\"", operation.name, qPrintable(message));
        QVERIFY2(message.startsWith(QStringLiteral("Could not")) && message.contains(QStringLiteral("read-only")),
                 qPrintable(message));

        // Nothing in memory or on screen claims a change the file did not take.
        QCOMPARE(window.taskList().size(), 1);
        QCOMPARE(Views::rows(tree), 1);
        QCOMPARE(texts(task->results()), (QStringList{"qt second", "qt item"}));
        for (const Task::ResultPtr& result : task->results())
            QCOMPARE(result->state, int(StateNew));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == before);
        window.close();
    }

    // ---- settings ----

    void garbageSettings_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<QStringList>("kept");
        const QStringList all{"qt 2009", "qt last week", "qt today"};
        const QStringList recent{"qt last week", "qt today"};

        QTest::addRow("every key garbage") << QByteArray("[mainwindow]\n"
                                                         "pos=banana\n"
                                                         "size=@Size(banana)\n"
                                                         "maximized=perhaps\n"
                                                         "splitter=@ByteArray(\\0\\xff\\xfe garbage)\n"
                                                         "splitter2=@Rect(1 2 3)\n"
                                                         "toolbar=@Invalid()\n"
                                                         "[options]\n"
                                                         "is_auto_run=@Point(1 2)\n"
                                                         "is_auto_delete=sometimes\n"
                                                         "delete_days=fourteen\n")
                                           << all;
        QTest::addRow("absurd numbers") << QByteArray("[mainwindow]\n"
                                                      "pos=@Point(-2147483647 2147483647)\n"
                                                      "size=@Size(-5 -7)\n"
                                                      "maximized=2\n"
                                                      "splitter=@ByteArray(\\0\\0\\0\\xff\\0\\0\\0\\x1)\n"
                                                      "splitter2=\n"
                                                      "toolbar=-1\n"
                                                      "[options]\n"
                                                      "is_auto_run=7\n"
                                                      "is_auto_delete=true\n"
                                                      "delete_days=-5\n")
                                        << recent;
        QTest::addRow("delete_days text")
            << QByteArray("[options]\nis_auto_delete=true\ndelete_days=fourteen\n") << recent;
        QTest::addRow("delete_days overflowing")
            << QByteArray("[options]\nis_auto_delete=true\ndelete_days=99999999999999999999\n") << recent;
        QTest::addRow("delete_days largest int")
            << QByteArray("[options]\nis_auto_delete=true\ndelete_days=2147483647\n") << all;
        QTest::addRow("delete_days a list")
            << QByteArray("[options]\nis_auto_delete=true\ndelete_days=1, 2, 3\n") << recent;
    }

    void garbageSettings()
    {
        QFETCH(QByteArray, conf);
        QFETCH(QStringList, kept);
        AppFixture fixture;
        {
            const QString dir = QDir(AppFixture::configHome()).filePath(AppSettings::Organization);
            QVERIFY(QDir().mkpath(dir));
            QFile file(QDir(dir).filePath(AppSettings::Application + QStringLiteral(".conf")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(conf);
        }
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "One", server.url("/none.html").toString(), "qt");
            file.addResult(0, "01/01/2009", "qt 2009", "http://a/1");
            file.addResult(0, QDate::currentDate().addDays(-5).toString(DateFormat), "qt last week", "http://a/2");
            file.addResult(0, QDate::currentDate().toString(DateFormat), "qt today", "http://a/3");
        }

        WindowParts parts;

        MainWindow& window = *parts.window;
        QVERIFY(parts.databaseOk());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        qInfo("window at %d,%d size %dx%d, screen %dx%d", window.x(), window.y(), window.width(), window.height(),
              window.screen()->availableGeometry().width(), window.screen()->availableGeometry().height());
        // A window that can be seen and used: not empty, not larger than any screen could hold.
        QVERIFY2(window.width() >= 200 && window.height() >= 150 && window.width() <= 10000 && window.height() <= 10000,
                 qPrintable(QStringLiteral("%1x%2").arg(window.width()).arg(window.height())));
        QVERIFY2(window.screen()->virtualGeometry().intersects(window.frameGeometry()),
                 qPrintable(QStringLiteral("at %1,%2").arg(window.x()).arg(window.y())));

        // Results younger than the shortest period the options allow (7 days) survive any garbage.
        DbFile file(fixture.path("task.db"));
        QStringList stored = file.column("SELECT text FROM results");
        stored.sort();
        QCOMPARE(stored, kept);
        QCOMPARE(window.taskList().at(0)->results().size(), kept.size());

        // The options dialog opens, shows values it can hold, and Cancel leaves the file as it was.
        bool opened = false;
        int days = -1;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QWidget* dialog = QApplication::activeModalWidget();
            opened = dialog->objectName() == QStringLiteral("DialogOption");
            days = dialog->findChild<QSpinBox*>("spinBoxDays")->value();
            qInfo("options dialog: delete %s, %d days, run at log-on %s",
                  dialog->findChild<QCheckBox*>("checkBoxAutoDelete")->isChecked() ? "on" : "off", days,
                  dialog->findChild<QCheckBox*>("checkBoxAutorun")->isChecked() ? "on" : "off");
            dialog->findChild<QPushButton*>("pushButtonCancel")->click();
        });
        window.findChild<QAction*>("action_Options")->trigger();
        QVERIFY(opened);
        QVERIFY2(days >= 7 && days <= 31, qPrintable(QString::number(days)));
        window.close();
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
