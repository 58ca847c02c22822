// SPDX-License-Identifier: GPL-3.0-or-later
// Changing a task, its results and their states, in memory and in task.db, and what a check does after it.
#include "core/taskchecker.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/hostiletasks.h"
#include "tests/support/testserver.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {
QByteArray page(const QStringList& links)
{
    // Each entry "path=text".
    QByteArray html = "<html><body>\n";
    for (const QString& link : links)
        html += "<a href=\"" + link.section('=', 0, 0).toUtf8() + "\">" + link.section('=', 1).toUtf8() + "</a>\n";
    return html + "</body></html>";
}

// A change asked of the core with the two stored tasks; true when it reports it done.
using Write = std::function<bool(TaskChecker&, Task* a, Task* b)>;
} // namespace
Q_DECLARE_METATYPE(Write)

class TestEditTask : public QObject
{
    Q_OBJECT

    TestServer server;

    // Task 0 "A" on /<tag>/a with keyword qt and the results "qt 1" (read) and "qt 2" (new); task 1 "B"
    // on /<tag>/b with keyword Qt.
    void storeTwoTasks(const TempFolder& fixture, const QString& tag)
    {
        DbFile file(fixture.path("task.db"));
        file.addTask(0, "A", server.url(tag + "/a").toString(), "qt", 3600, "2009-01-01T10:00:00");
        file.addResult(0, "01/01/2009", "qt 1", server.url("/l1").toString(), StateRead);
        file.addResult(0, "01/02/2009", "qt 2", server.url("/l2").toString(), StateNew);
        file.addTask(1, "B", server.url(tag + "/b").toString(), "Qt", 3600, "2009-01-01T10:00:00");
        file.addResult(1, "01/02/2009", "qt 3", server.url("/l3").toString(), StateNew);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void editKeepsTheTaskAndForgetsWhatTheOldPageShowed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path"); // empty: the address stays
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<bool>("forgets");
        QTest::addRow("name") << "Renamed" << QString() << "qt" << 3600 << false;
        QTest::addRow("frequency") << "A" << QString() << "qt" << 600 << false;
        QTest::addRow("address") << "A"
                                 << "/moved"
                                 << "qt" << 3600 << true;
        QTest::addRow("keyword") << "A" << QString() << "qt 2" << 3600 << true;
        QTest::addRow("keyword in other capitals") << "A" << QString() << "QT" << 3600 << true;
    }
    void editKeepsTheTaskAndForgetsWhatTheOldPageShowed()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(QString, keyword);
        QFETCH(int, frequency);
        QFETCH(bool, forgets);
        TempFolder fixture;
        const QString tag = "/edit/" + QString(QTest::currentDataTag()).replace(' ', '-');
        storeTwoTasks(fixture, tag);
        {
            DbFile file(fixture.path("task.db"));
            file.exec("CREATE TABLE IF NOT EXISTS seen_links(taskid INTEGER, link TEXT)");
            file.exec("INSERT INTO seen_links VALUES(0, 'http://x/seen'), (1, 'http://x/other')");
        }
        {
            TaskDatabase db(fixture.path("task.db"));
            QVERIFY(db.setTaskOption(0, Task::EtagOption, "\"v1\""));
            QVERIFY(db.setTaskOption(0, Task::UserAgentOption, "Agent/1"));
        }
        TestClock clock;
        clock.at = QDateTime(QDate(2009, 1, 1), QTime(10, 5));
        Loaded loaded(fixture, &clock);
        Task* task = loaded.checker.watches().tasks().at(0);
        const QString address = path.isEmpty() ? task->address() : server.url(tag + path).toString();
        QCOMPARE(loaded.checker.editor().run(task, {name, address, keyword, frequency, task->options()}),
                 Commands::Outcome::Done);

        QCOMPARE(task->name(), name);
        QCOMPARE(task->address(), address);
        QCOMPARE(task->keyword(), keyword);
        QCOMPARE(task->frequency(), frequency);
        QCOMPARE(texts(task->results()), (QStringList{"qt 2", "qt 1"}));
        // Counted from the last check, not from the edit.
        QCOMPARE(loaded.checker.checks().dueTime(task), QDateTime(QDate(2009, 1, 1), QTime(10, 0)).addSecs(frequency));

        DbFile file(fixture.path("task.db"));
        const QString row =
            QStringList{"0", "01/01/2009", "2009-01-01T10:00:00", name, address, keyword, QString::number(frequency)}
                .join('|');
        QCOMPARE(file.column("SELECT task_id || '|' || task_date || '|' || last_update || '|' || name || '|' || "
                             "address || '|' || grabtext || '|' || frequency FROM tasks WHERE id = 1"),
                 QStringList{row});
        QCOMPARE(file.count("tasks"), 2);
        QCOMPARE(file.column("SELECT text || ':' || result_state FROM results WHERE taskid = 0 ORDER BY id"),
                 (QStringList{"qt 1:1", "qt 2:0"}));
        QCOMPARE(file.column("SELECT taskid FROM seen_links ORDER BY taskid"),
                 forgets ? QStringList{"1"} : (QStringList{"0", "1"}));

        // The validators of the page last read go with a new page; the request headers stay.
        QCOMPARE(file.column("SELECT name FROM task_options WHERE task_id = 0 ORDER BY name"),
                 forgets ? QStringList{"user_agent"} : (QStringList{"etag", "user_agent"}));

        // The other task is untouched, and a reload reads the edited task back.
        Loaded again(fixture);
        QCOMPARE(again.checker.watches().tasks().at(1)->name(), QString("B"));
        QCOMPARE(again.checker.watches().tasks().at(0)->keyword(), keyword);
    }

    void theFirstCheckAfterANewAddressReportsNothing()
    {
        // The stored link /l2 shows another text on the new page: normally a new result. Right after the
        // address changed it is only recorded; a later change of it is reported again. A check of the old
        // page still on its way when the edit is made is dropped.
        TempFolder fixture;
        storeTwoTasks(fixture, "/fresh");
        TestServer::Response slowOld;
        slowOld.body = page({"/l2=qt old page"});
        slowOld.delayMs = 300;
        server.setResponse("/fresh/a", slowOld);
        server.setPage("/fresh/new", page({"/l2=qt renamed"}));
        TestClock clock;
        Loaded loaded(fixture, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);

        clock.at = QDateTime(QDate(2009, 1, 1), QTime(12, 0));
        QVERIFY(checker.periodic().checkDueTasks().started.contains(task));
        QCOMPARE(checker.editor().run(task, {"A", server.url("/fresh/new").toString(), "qt", 3600, task->options()}),
                 Commands::Outcome::Done);
        QTRY_COMPARE(checker.fetcher().running(), 0);
        QCOMPARE(found.count(), 0);

        QVERIFY(checker.updater().run().ran);
        QCOMPARE(found.count(), 0);
        QCOMPARE(texts(task->results()), (QStringList{"qt 2", "qt 1"}));

        server.setPage("/fresh/new", page({"/l2=qt renamed again"}));
        const Commands::UpdateRun run = checker.updater().run();
        QCOMPARE(run.news.size(), 1);
        QCOMPARE(run.news.at(0).task.data(), task);
        QCOMPARE(texts(run.news.at(0).results), QStringList{"qt renamed again"});
    }

    void optionsGivenReplaceTheTasksOwn()
    {
        TempFolder fixture;
        storeTwoTasks(fixture, "/options");
        {
            TaskDatabase db(fixture.path("task.db"));
            QVERIFY(db.setTaskOption(0, Task::UserAgentOption, "Agent/1"));
            QVERIFY(db.setTaskOption(0, Task::EtagOption, "\"v1\""));
        }
        Loaded loaded(fixture);
        Task* task = loaded.checker.watches().tasks().at(0);
        const QHash<QString, QString> headers{{Task::RequestHeadersOption, "Accept-Language: de"}};
        QCOMPARE(loaded.checker.editor().run(task, {"A", task->address(), "qt", 3600, headers}),
                 Commands::Outcome::Done);
        const QHash<QString, QString> expected{{Task::RequestHeadersOption, "Accept-Language: de"},
                                               {Task::EtagOption, "\"v1\""}};
        QCOMPARE(task->options(), expected);
        Loaded again(fixture);
        QCOMPARE(again.checker.watches().tasks().at(0)->options(), expected);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("address"); // "B": task B's address
        QTest::addColumn<int>("expected");
        QTest::addRow("address and keyword of another task, other capitals") << "qt"
                                                                             << "B" << int(Commands::Outcome::Exists);
        QTest::addRow("another keyword on that page") << "qt news"
                                                      << "B" << int(Commands::Outcome::Done);
        QTest::addRow("no keyword") << ""
                                    << "B" << int(Commands::Outcome::Invalid);
    }
    void refusals()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, address);
        QFETCH(int, expected);
        TempFolder fixture;
        storeTwoTasks(fixture, "/refuse");
        Loaded loaded(fixture);
        Task* a = loaded.checker.watches().tasks().at(0);
        const QString target = loaded.checker.watches().tasks().at(1)->address();
        const QString before = a->address();
        QCOMPARE(int(loaded.checker.editor().run(a, {"A", target, keyword, 3600, a->options()})), expected);
        QCOMPARE(a->address(), expected == int(Commands::Outcome::Done) ? target : before);
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT address FROM tasks WHERE task_id = 0"),
                 QStringList{a->address()});
        // Creation follows the same rule, and refuses before anything is downloaded.
        const int hits = server.hits("/refuse/b");
        const Commands::Created created = loaded.checker.creator().run({"C", target, keyword.toUpper(), 3600, {}});
        if (expected == int(Commands::Outcome::Exists) || keyword.isEmpty())
            QCOMPARE(int(created.outcome), expected);
        QCOMPARE(server.hits("/refuse/b"), hits + (created.task ? 1 : 0));
    }

    // Each hostile definition fails the check, is refused by creation and by an edit with its reason, and a
    // row of task.db holding it is not loaded (but left in the file); nothing else is stored or requested.
    void hostileDefinitionsAreRefused_data() { addHostileRows(HostileTask::Core | HostileTask::Load); }
    void hostileDefinitionsAreRefused()
    {
        QFETCH(int, row);
        const HostileTask hostile = hostileTasks().at(row);
        const TaskDefinition& in = hostile.definition;
        QVERIFY(in.normalised().check().text().startsWith(hostile.prefix));
        TempFolder fixture;
        storeTwoTasks(fixture, "/hostile");
        DbFile file(fixture.path("task.db"));
        const QStringList before = file.column("SELECT name || address || grabtext || frequency FROM tasks");
        Loaded loaded(fixture);
        if (hostile.doors & HostileTask::Core) {
            const auto created = loaded.checker.creator().run(in);
            QCOMPARE(created.outcome, Commands::Outcome::Invalid);
            QVERIFY(created.error.startsWith(hostile.prefix));
            Task* a = loaded.checker.watches().tasks().at(0);
            QCOMPARE(loaded.checker.editor().run(a, in), Commands::Outcome::Invalid);
            QVERIFY(loaded.checker.editor().error().startsWith(hostile.prefix));
            QCOMPARE(server.hits("/hostile/a") + server.hits("/hostile/b"), 0);
        }
        QCOMPARE(file.column("SELECT name || address || grabtext || frequency FROM tasks"), before);
        if (hostile.doors & HostileTask::Load) {
            file.addTask(7, in.name, in.address, in.keyword, in.frequency);
            for (auto it = in.options.cbegin(); it != in.options.cend(); ++it)
                QVERIFY(file.exec(QStringLiteral("INSERT INTO task_options(task_id, name, value) VALUES(7, ?, ?)"),
                                  {it.key(), it.value()}));
            Loaded again(fixture);
            QCOMPARE(again.checker.watches().tasks().size(), 2);
            QVERIFY(again.checker.watches().loadRefusal().contains(hostile.prefix));
            QCOMPARE(file.count("tasks"), 3);
        }
    }

    // A task of an older file that differs from another only in the keyword's capitals keeps its address
    // and keyword, and a frequency no dialog could give is kept when only the name changes.
    void olderTasksStayEditable()
    {
        TempFolder fixture;
        {
            DbFile file(fixture.path("task.db"));
            file.addTask(0, "A", server.url("/twins").toString(), "qt", 90);
            file.addTask(1, "B", server.url("/twins").toString(), "QT", 0);
        }
        Loaded loaded(fixture);
        Task* a = loaded.checker.watches().tasks().at(0);
        Task* b = loaded.checker.watches().tasks().at(1);
        QCOMPARE(loaded.checker.editor().run(a, {"A2", a->address(), "qt", 90, a->options()}), Commands::Outcome::Done);
        QCOMPARE(loaded.checker.editor().run(b, {"B2", b->address(), "QT", 0, b->options()}), Commands::Outcome::Done);
        // A changed keyword that meets the other task's is still a duplicate, and a new frequency is judged.
        QCOMPARE(loaded.checker.editor().run(a, {"A2", a->address(), "Qt", 90, a->options()}),
                 Commands::Outcome::Exists);
        QCOMPARE(loaded.checker.editor().run(b, {"B2", b->address(), "QT", -60, b->options()}),
                 Commands::Outcome::Invalid);
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT name || ' ' || frequency FROM tasks ORDER BY id"),
                 (QStringList{"A2 90", "B2 0"}));
    }

    void editDuringACommandOrOfARemovedTask()
    {
        TempFolder fixture;
        storeTwoTasks(fixture, "/busy");
        TestServer::Response slow;
        slow.body = page({"/l1=qt 1"});
        slow.delayMs = 300;
        server.setResponse("/busy/a", slow);
        server.setResponse("/busy/b", slow);
        Loaded loaded(fixture);
        TaskChecker& checker = loaded.checker;
        Task* a = checker.watches().tasks().at(0);
        Task* b = checker.watches().tasks().at(1);
        Commands::Outcome during = Commands::Outcome::Done;
        QTimer::singleShot(100, this, [&] {
            during = checker.editor().run(a, {"X", a->address(), "qt", 60, a->options()});
        });
        QVERIFY(checker.updater().run().ran);
        QCOMPARE(during, Commands::Outcome::Dropped);
        QCOMPARE(a->name(), QString("A"));

        // Held as the window holds a task across a wait: a removed one reads as none.
        const QPointer<Task> removed(b);
        QVERIFY(checker.watches().removeTask(b));
        QCOMPARE(checker.editor().run(removed, {"X", "http://x/", "qt", 60, {}}), Commands::Outcome::TaskGone);
        QCOMPARE(DbFile(fixture.path("task.db")).column("SELECT name FROM tasks"), QStringList{"A"});
    }

    // Every change the user asks of tasks and results, as the watch list takes it: stored and shown; refused by
    // task.db; refused while an import holds task.db. A refusal leaves memory and the file as they were.
    void writes_data()
    {
        QTest::addColumn<Write>("write");
        QTest::addColumn<QStringList>("after"); // name:results:unread of each task, in memory and in task.db
        const auto result = [](Task* task, const QString& text) {
            for (const Task::ResultPtr& r : task->results()) {
                if (r->text == text)
                    return r;
            }
            return Task::ResultPtr();
        };
        QTest::addRow("remove task") << Write([](TaskChecker& c, Task* a, Task*) { return c.watches().removeTask(a); })
                                     << QStringList{"B:1:1"};
        QTest::addRow("remove all tasks")
            << Write([](TaskChecker& c, Task*, Task*) { return c.watches().removeAllTasks(); }) << QStringList();
        QTest::addRow("remove results") << Write([result](TaskChecker& c, Task* a, Task* b) {
            return c.watches().removeResults(a, {result(a, "qt 2"), result(b, "qt 3")});
        }) << QStringList{"A:1:0", "B:1:1"};
        QTest::addRow("remove a task's results")
            << Write([](TaskChecker& c, Task*, Task* b) { return c.watches().removeTaskResults(b); })
            << QStringList{"A:2:1", "B:0:0"};
        QTest::addRow("mark read") << Write([result](TaskChecker& c, Task* a, Task*) {
            return c.watches().markRead(a, {result(a, "qt 1"), result(a, "qt 2")});
        }) << QStringList{"A:2:0", "B:1:1"};
        QTest::addRow("mark all read") << Write([](TaskChecker& c, Task*, Task* b) {
            return c.watches().markAllRead(b);
        }) << QStringList{"A:2:1", "B:1:0"};
        QTest::addRow("edit") << Write([](TaskChecker& c, Task* a, Task*) {
            return c.editor().run(a, {"A2", a->address(), a->keyword(), 60, a->options()}) == Commands::Outcome::Done;
        }) << QStringList{"A2:2:1", "B:1:1"};
    }
    void writes()
    {
        QFETCH(Write, write);
        QFETCH(QStringList, after);
        const QStringList before{"A:2:1", "B:1:1"};
        const QString described =
            QStringLiteral("SELECT name || ':' || (SELECT count(*) FROM results WHERE taskid = task_id) || ':' || "
                           "(SELECT count(*) "
                           "FROM results WHERE taskid = task_id AND result_state = %1) FROM tasks ORDER BY id")
                .arg(StateNew);
        TestServer::Response never;
        never.never = true;
        server.setResponse("/writes/import", never);
        QList<ExchangeTask> importing{{}};
        importing[0].definition = {"I", server.url("/writes/import").toString(), "qt", 3600, {}};
        enum Way
        {
            Done,
            RefusedByFile,
            RefusedDuringImport
        };
        for (Way way : {Done, RefusedByFile, RefusedDuringImport}) {
            TempFolder fixture;
            storeTwoTasks(fixture, "/writes");
            DbFile file(fixture.path("task.db"));
            if (way == RefusedByFile) {
                for (const char* change :
                     {"UPDATE ON results", "DELETE ON results", "UPDATE ON tasks", "DELETE ON tasks"})
                    QVERIFY(file.exec(QStringLiteral("CREATE TRIGGER \"%1\" BEFORE %1 BEGIN SELECT RAISE(ABORT, "
                                                     "'refused'); END")
                                          .arg(change)));
            }
            Loaded loaded(fixture);
            TaskChecker& checker = loaded.checker;
            Task* a = checker.watches().tasks().at(0);
            Task* b = checker.watches().tasks().at(1);
            bool written = false;
            if (way == RefusedDuringImport) {
                QTimer::singleShot(0, this, [&] {
                    written = write(checker, a, b);
                    checker.waits().cancel();
                });
                QVERIFY(checker.importer().run(importing).cancelled);
            } else {
                written = write(checker, a, b);
            }
            const QStringList expected = way == Done ? after : before;
            QCOMPARE(written, way == Done);
            // An edit is a command of its own, the other writes the watch list's.
            const QString why = QByteArrayView(QTest::currentDataTag()) == "edit" ? checker.editor().error()
                                                                                  : checker.watches().lastError();
            if (way == RefusedByFile)
                QVERIFY(!why.isEmpty());
            // Refused at once, without a wait for task.db's lock (an edit is dropped by the running command).
            if (way == RefusedDuringImport)
                QVERIFY2(why.isEmpty() || why.startsWith("Tasks are being imported"), qPrintable(why));
            QStringList shown;
            for (const Task* task : checker.watches().tasks())
                shown << QStringLiteral("%1:%2:%3")
                             .arg(task->name())
                             .arg(task->results().size())
                             .arg(task->unreadCount());
            QCOMPARE(shown, expected);
            QCOMPARE(file.column(described), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestEditTask)
#include "tst_edittask.moc"
