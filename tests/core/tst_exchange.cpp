// SPDX-License-Identifier: GPL-3.0-or-later
// Tasks written to a file and read back: the same tasks and results on another task.db, faulty files
// refused with a message naming the line or field, and imports that create tasks as creation does.
#include "core/taskchecker.h"
#include "core/taskexchange.h"
#include "storage/taskdatabase.h"
#include "tests/core/checkerfixture.h"
#include "tests/support/dbfile.h"
#include "tests/support/hostiletasks.h"
#include "tests/support/testserver.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

namespace {
// Every task of the file and its results, in the order a load gives them.
QStringList described(const QString& path)
{
    QStringList out;
    Loaded loaded(path);
    for (const Task* task : loaded.checker.watches().tasks()) {
        out << QStringList{task->name(), task->address(), task->keyword(), QString::number(task->frequency()),
                           task->taskDateText()}
                   .join('|');
        for (const Task::ResultPtr& result : task->results())
            out << "  " + QStringList{result->date.toString(Qt::ISODate), result->text, result->link,
                                      QString::number(result->state)}
                              .join('|');
    }
    return out;
}

QByteArray taskFile(const QByteArray& task,
                    const QByteArray& head = "\"format\": \"vantrel-monitor-tasks\", \"version\": 1")
{
    return "{" + head + ", \"tasks\": [" + task + "]}";
}
const QByteArray GoodTask =
    "{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 3600}";

// The text as an editor writes it in the encoding, with its byte-order mark.
QByteArray marked(QStringConverter::Encoding encoding, const QString& text)
{
    return QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(text);
}
} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    TestServer server;

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        PageFetch::setTransferTimeout(3000);
    }

    void faultyFilesImportNothing_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("message");
        QTest::addRow("broken JSON, second line") << QByteArray("{\n  \"format\": ,\n}") << "line 2, column ";
        QTest::addRow("another format") << QByteArray("{\"format\": \"bookmarks\", \"version\": 1, \"tasks\": []}")
                                        << "format: not a file of tasks exported by Vantrel Monitor";
        QTest::addRow("unknown version") << taskFile(GoodTask, "\"format\": \"vantrel-monitor-tasks\", \"version\": 2")
                                         << "version: 2 is not known; this program reads version 1";
        QTest::addRow("version as text") << taskFile(GoodTask,
                                                     "\"format\": \"vantrel-monitor-tasks\", \"version\": \"1\"")
                                         << "version: \"1\" is not known";
        QTest::addRow("tasks not a list")
            << QByteArray("{\"format\": \"vantrel-monitor-tasks\", \"version\": 1, \"tasks\": {}}")
            << "tasks: expected a list of tasks";
        QTest::addRow("second task's frequency a text")
            << taskFile(
                   GoodTask +
                   ", {\"name\": \"M\", \"address\": \"http://b.test/\", \"keyword\": \"qt\", \"frequency\": \"1h\"}")
            << "task 2, frequency: expected a whole number";
        QTest::addRow("frequency not whole")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 90.5}")
            << "task 1, frequency: expected a whole number of seconds";
        QTest::addRow("frequency beyond a month")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": "
                        "2678401}")
            << "task 1, frequency: expected from 1 to 2678400 seconds";
        QTest::addRow("address of another scheme")
            << taskFile("{\"name\": \"N\", \"address\": \"ftp://a.test/x\", \"keyword\": \"qt\", \"frequency\": 3600}")
            << "task 1, address: not a web address";
        QTest::addRow("keyword missing")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"frequency\": 60}")
            << "task 1, keyword: missing";
        QTest::addRow("name a number")
            << taskFile("{\"name\": 5, \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60}")
            << "task 1, name: expected a text";
        QTest::addRow("option value a number")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60,\n"
                        "                            \"options\": {\"user_agent\": 3}}")
            << "task 1, options.user_agent: expected a text";
        QTest::addRow("result state unknown")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60,\n"
                        "                            \"results\": [{\"text\": \"qt\", \"link\": \"http://a.test/1\", "
                        "\"state\": \"seen\"}]}")
            << "task 1, result 1, state: expected \"new\" or \"read\"";
        QTest::addRow("result date unreadable")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60,\n"
                        "                            \"results\": [{\"text\": \"qt\", \"link\": \"l\", \"state\": "
                        "\"new\", \"date\": \"03/01/2010\"}]}")
            << "task 1, result 1, date: expected a date";
        QTest::addRow("created far ahead")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60, "
                        "\"created\": \"9999-12-31\"}")
            << "task 1, created: expected a date as yyyy-mm-dd from 1990-01-01 to 2100-12-31";
        QTest::addRow("result text beyond a line edit")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60, "
                        "\"results\": [{\"text\": \"" +
                        QByteArray(TaskDefinition::MaxTextLength + 1, 'q') +
                        "\", \"link\": \"l\", \"state\": \"new\"}]}")
            << "task 1, result 1, text: longer than 32767 characters";
        QTest::addRow("result link beyond 64 Ki")
            << taskFile("{\"name\": \"N\", \"address\": \"http://a.test/x\", \"keyword\": \"qt\", \"frequency\": 60, "
                        "\"results\": [{\"text\": \"qt\", \"link\": \"" +
                        QByteArray(64 * 1024 + 1, 'l') + "\", \"state\": \"new\"}]}")
            << "task 1, result 1, link: longer than 65536 characters";
        QTest::addRow("no tasks") << taskFile("") << "tasks: the file holds no tasks";
        QTest::addRow("address list, third line")
            << QByteArray("http://a.test/1\n\nwww.example.com\n") << "line 3: \"www.example.com\" is not a web address";
        QTest::addRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << "neither a list of addresses";
        QTest::addRow("not UTF-8") << QByteArray("http://a.test/\xe9t\xe9\n") << "not UTF-8";
        QTest::addRow("UTF-8 cut off at the end") << QByteArray("http://a.test/\xc3") << "not UTF-8";
        QTest::addRow("empty") << QByteArray(" \n\t") << "holds no tasks";
        QTest::addRow("UTF-16 mark, then half a character")
            << QByteArray("\xff\xfeh\0t\0\x00\xd8", 8) << "byte-order mark of UTF-16LE but is not UTF-16LE text";
        QTest::addRow("UTF-16 mark, odd length")
            << QByteArray("\xfe\xff\0h\0", 5) << "byte-order mark of UTF-16BE but is not UTF-16BE text";
        QTest::addRow("UTF-8 mark, then not UTF-8")
            << QByteArray("\xef\xbb\xbfhttp://a.test/\xe9") << "byte-order mark of UTF-8 but is not UTF-8 text";
    }
    void faultyFilesImportNothing()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, message);
        const TaskExchange::Read read = TaskExchange::parse(data);
        QVERIFY2(read.error.contains(message), qPrintable(read.error));
        QVERIFY(read.tasks.isEmpty());
    }

    // Each hostile definition, second in a file after a good task: the file is refused naming the task and the
    // field, and the core refuses it as well when handed it directly. Nothing is stored or requested.
    void hostileDefinitionsImportNothing_data() { addHostileRows(HostileTask::Import); }
    void hostileDefinitionsImportNothing()
    {
        QFETCH(int, row);
        const HostileTask hostile = hostileTasks().at(row);
        const TaskDefinition& in = hostile.definition;
        QJsonObject options;
        for (auto it = in.options.cbegin(); it != in.options.cend(); ++it)
            options.insert(it.key(), it.value());
        const QJsonObject task{{"name", in.name},
                               {"address", in.address},
                               {"keyword", in.keyword},
                               {"frequency", in.frequency},
                               {"options", options}};
        const TaskExchange::Read read =
            TaskExchange::parse(taskFile(GoodTask + ", " + QJsonDocument(task).toJson(QJsonDocument::Compact)));
        QVERIFY2(read.error.startsWith("task 2, " + hostile.prefix.chopped(2)), qPrintable(read.error.left(200)));
        QVERIFY(read.tasks.isEmpty());

        TempFolder fixture;
        Loaded loaded(fixture.path("task.db"));
        const QString good = QStringLiteral("/hostile/%1").arg(row);
        const ExchangeTask first{{"N", server.url(good).toString(), "qt", 3600, {}}, {}, false, {}};
        const ExchangeTask second{in, {}, false, {}};
        const Commands::ImportRun run = loaded.checker.importer().run({first, second});
        QVERIFY2(run.refusal.startsWith("task 2, " + hostile.prefix), qPrintable(run.refusal.left(200)));
        QCOMPARE(server.hits(good), 0);
        QVERIFY(loaded.checker.watches().tasks().isEmpty());
        QCOMPARE(DbFile(fixture.path("task.db")).count("tasks"), 0);
    }

    void addressLists()
    {
        const TaskExchange::Read read =
            TaskExchange::parse("# my pages\r\n  http://a.test/ne ws/  \r\n\r\nhttps://b.test:8443/x?y=1\r\n# end\r\n");
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.kind, TaskExchange::Kind::AddressList);
        QCOMPARE(read.tasks.size(), 2);
        QCOMPARE(read.tasks.at(0).definition.address, QString("http://a.test/news"));
        QCOMPARE(read.tasks.at(0).definition.name, QString("a.test/news"));
        QCOMPARE(read.tasks.at(1).definition.address, QString("https://b.test:8443/x?y=1"));
    }

    // A file an editor saved with a byte-order mark reads as the same file without one.
    void byteOrderMarks_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("name");
        const QString tasks = taskFile("{\"name\": \"Nachrichten \u00e9t\u00e9 \U0001F600\", \"address\": "
                                       "\"http://a.test/x\", \"keyword\": \"qt\", "
                                       "\"frequency\": 3600}");
        const QString list = "http://a.test/ne ws\r\nhttps://b.test/\r\n";
        QTest::addRow("UTF-8, exported tasks")
            << marked(QStringConverter::Utf8, tasks) << "Nachrichten \u00e9t\u00e9 \U0001F600";
        QTest::addRow("UTF-8, addresses") << marked(QStringConverter::Utf8, list) << "a.test/news";
        QTest::addRow("UTF-16LE, exported tasks")
            << marked(QStringConverter::Utf16LE, tasks) << "Nachrichten \u00e9t\u00e9 \U0001F600";
        QTest::addRow("UTF-16BE, addresses") << marked(QStringConverter::Utf16BE, list) << "a.test/news";
        QTest::addRow("UTF-16BE, exported tasks")
            << marked(QStringConverter::Utf16BE, tasks) << "Nachrichten \u00e9t\u00e9 \U0001F600";
        QTest::addRow("UTF-32LE, addresses") << marked(QStringConverter::Utf32LE, list) << "a.test/news";
    }
    void byteOrderMarks()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, name);
        TempFolder fixture;
        QFile file(fixture.path("tasks"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(data), data.size());
        file.close();
        const TaskExchange::Read read = TaskExchange::readFile(file.fileName());
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.tasks.first().definition.name, name);
        QCOMPARE(read.tasks.size(), name == "a.test/news" ? 2 : 1);
    }

    // What stands at the export's path: a link is refused and the file it points to keeps its bytes and
    // permissions; anything else is replaced by a file readable by its owner only (the task holds a header).
    void exportNeverWritesThroughALink_data()
    {
        QTest::addColumn<QString>("standing"); // "", "file", "folder", or "link" to the named file
        QTest::addColumn<QString>("linkTo");
        QTest::addColumn<QString>("error");
        QTest::addRow("nothing") << ""
                                 << ""
                                 << "";
        QTest::addRow("a file of an earlier export") << "file"
                                                     << ""
                                                     << "";
        QTest::addRow("a link to a file") << "link"
                                          << "victim"
                                          << "tasks.json: it is a symbolic link";
        QTest::addRow("a link to nowhere") << "link"
                                           << "gone"
                                           << "tasks.json: it is a symbolic link";
        QTest::addRow("a folder") << "folder"
                                  << ""
                                  << "Could not write tasks.json: ";
    }
    void exportNeverWritesThroughALink()
    {
        QFETCH(QString, standing);
        QFETCH(QString, linkTo);
        QFETCH(QString, error);
        TempFolder fixture;
        const QString path = fixture.path("tasks.json");
        QFile victim(fixture.path("victim"));
        QVERIFY(victim.open(QIODevice::WriteOnly));
        victim.write("keep me");
        victim.close();
        const auto victimMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(victim.setPermissions(victimMode | QFile::ReadUser | QFile::WriteUser));
        if (standing == "file")
            QVERIFY(QFile::copy(victim.fileName(), path));
        else if (standing == "folder")
            QVERIFY(QDir().mkdir(path));
        else if (standing == "link")
            QVERIFY(QFile::link(fixture.path(linkTo), path));
        Task task(0, {"N", "http://a.test/x", "qt", 3600, {}});
        task.setOption(Task::RequestHeadersOption, "Cookie: secret=1");

        QString reason;
        const bool written = TaskExchange::writeFile(path, {&task}, false, &reason);
        QCOMPARE(written, error.isEmpty());
        QVERIFY2(reason.contains(error), qPrintable(reason));
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("keep me"));
        QCOMPARE(victim.permissions() & ~(QFile::ReadUser | QFile::WriteUser), victimMode);
        QVERIFY(!QFileInfo::exists(fixture.path("gone")));
        QCOMPARE(QFileInfo(path).isSymLink(), standing == "link");
        if (written) {
            QCOMPARE(TaskExchange::readFile(path).tasks.size(), 1);
            QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
                     QFile::ReadOwner | QFile::WriteOwner);
        }
        // No temporary file is left beside it.
        QCOMPARE(QDir(fixture.path(".")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 (QStringList{"tasks.json", "victim"}));
    }

    void largeFilesAreRefusedUnread()
    {
        TempFolder fixture;
        QFile file(fixture.path("huge.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(TaskExchange::MaxFileSize + 1)); // sparse: no disk is filled
        file.close();
        QCOMPARE(TaskExchange::readFile(file.fileName()).error, QString("huge.json is larger than 64 MiB."));
        QVERIFY(TaskExchange::readFile(fixture.path("missing.json")).error.contains("is not a file"));
    }

    void exportThenImportGivesTheSameTasksAndResults()
    {
        // The task's own hours, news and switches go along too.
        const QHash<QString, QString> own{{"check_hours", "08:00-18:00 12345"},
                                          {"vary_checks", "1"},
                                          {"report_new_links", "0"},
                                          {"news_to", "own"},
                                          {"news_command", "/bin/cat"},
                                          {"news_post", "https://h.test/in"},
                                          {"news_headers", "Authorization: x"},
                                          {"news_plain", "1"},
                                          {"paused", "1"},
                                          {"muted", "1"}};
        TempFolder fixture;
        const QString from = fixture.path("task.db");
        {
            DbFile file(from);
            file.addTask(0, "News & more", "http://a.test/news", "qt", 600, "2009-01-01T10:00:00", "03/15/2010");
            file.addResult(0, "03/15/2010", "qt \"quoted\" &amp; <b>bold</b>", "http://a.test/1", StateRead);
            file.addResult(0, "03/16/2010", "qt \u00e9t\u00e9 \U0001F600", "http://a.test/2?x=1&y=2", StateNew);
            file.addTask(1, "Shop", "https://b.test/shop", "Sale", 86400 * 2, "2009-01-01T10:00:00", "01/01/2011");
        }
        {
            // Its request headers go along; the validators of the page it last read do not.
            TaskDatabase db(from);
            QVERIFY(db.setTaskOption(1, Task::UserAgentOption, "Agent/1"));
            QVERIFY(db.setTaskOption(1, Task::RequestHeadersOption, "Accept-Language: de"));
            QVERIFY(db.setTaskOption(1, Task::EtagOption, "\"v1\""));
            for (auto it = own.cbegin(); it != own.cend(); ++it)
                QVERIFY(db.setTaskOption(1, it.key(), it.value()));
        }
        QString error;
        {
            Loaded loaded(from);
            QVERIFY(
                TaskExchange::writeFile(fixture.path("tasks.json"), loaded.checker.watches().tasks(), true, &error));
            // It holds a task's own User-Agent and headers: readable by its owner only.
            QVERIFY(TaskExchange::holdsSecrets(loaded.checker.watches().tasks()));
            QVERIFY(!TaskExchange::holdsSecrets({loaded.checker.watches().tasks().at(0)}));
            // Where news goes is as secret: a command's arguments and an address carry tokens as headers do.
            for (const char* secret : {"news_command", "news_post", "news_headers"}) {
                Task task(7, {"N", "http://a.test/x", "qt", 3600, {}});
                task.setOption(secret, own.value(secret));
                QVERIFY2(TaskExchange::holdsSecrets({&task}), secret);
            }
        }
        QCOMPARE(QFile::permissions(fixture.path("tasks.json")) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        const TaskExchange::Read read = TaskExchange::readFile(fixture.path("tasks.json"));
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));

        const QString to = fixture.path("other.db");
        {
            Loaded empty(to);
            const Commands::ImportRun run = empty.checker.importer().run(read.tasks);
            QCOMPARE(run.imported, 2);
            QCOMPARE(run.duplicates, 0);
            QCOMPARE(run.failedPages, 0);
            QCOMPARE(empty.checker.watches().tasks().size(), 2);
            // Nothing was downloaded: the results came with the tasks.
            QCOMPARE(empty.checker.fetcher().running(), 0);
        }
        QCOMPARE(described(to), described(from));
        Loaded imported(to);
        QHash<QString, QString> carried = own;
        carried.insert(Task::UserAgentOption, "Agent/1");
        carried.insert(Task::RequestHeadersOption, "Accept-Language: de");
        QCOMPARE(imported.checker.watches().tasks().at(1)->options(), carried);
        QVERIFY(imported.checker.watches().tasks().at(0)->options().isEmpty());
        QCOMPARE(described(to).size(), 4);
    }

    void importCreatesAsCreationDoes()
    {
        TempFolder fixture;
        server.setPage("/imp/a", "<a href=\"/1\">qt one</a><a href=\"/2\">other</a><a href=\"/3\">QT three</a>");
        server.setStatus("/imp/gone", 404);
        const QString path = fixture.path("task.db");
        {
            DbFile file(path);
            file.addTask(0, "Old", server.url("/imp/old").toString(), "QT");
        }
        Loaded loaded(path);
        TaskExchange::Read read =
            TaskExchange::parse(QStringList{server.url("/imp/a").toString(), server.url("/imp/old").toString(),
                                            server.url("/imp/gone").toString(), server.url("/imp/a").toString() + "/"}
                                    .join('\n')
                                    .toUtf8());
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        TaskExchange::setKeyword(read, "qt", 1800);
        const Commands::ImportRun run = loaded.checker.importer().run(read.tasks);
        QVERIFY(run.ran);
        // The old task's keyword in other capitals and the same address twice are duplicates.
        QCOMPARE(run.imported, 2);
        QCOMPARE(run.duplicates, 2);
        QCOMPARE(run.failedPages, 1);
        QCOMPARE(server.hits("/imp/old"), 0);
        QCOMPARE(loaded.checker.watches().tasks().size(), 3);
        const Task* a = run.created.at(0);
        QCOMPARE(texts(a->results()), (QStringList{"qt one", "QT three"}));
        QCOMPARE(a->frequency(), 1800);
        QVERIFY(!loaded.checker.checks().checkFailure(run.created.at(1)).isEmpty());
        DbFile file(path);
        QCOMPARE(file.column("SELECT task_id || ':' || grabtext FROM tasks ORDER BY id"),
                 (QStringList{"0:QT", "1:qt", "2:qt"}));
        QCOMPARE(file.column("SELECT taskid || ':' || text FROM results ORDER BY text"),
                 (QStringList{"1:QT three", "1:qt one"}));
    }

    void aRefusingFileOrABusyCommandImportsNothing()
    {
        TempFolder fixture;
        const QString path = fixture.path("task.db");
        server.setPage("/refuse/a", "<a href=\"/1\">qt one</a>");
        TaskExchange::Read read = TaskExchange::parse(
            (server.url("/refuse/a").toString() + "\n" + server.url("/refuse/b").toString()).toUtf8());
        TaskExchange::setKeyword(read, "qt", 3600);
        Loaded loaded(path);
        {
            // The second task is refused: the first is not kept either.
            DbFile file(path);
            file.exec("CREATE TRIGGER refuse BEFORE INSERT ON tasks WHEN NEW.address LIKE '%/refuse/b' "
                      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        }
        const Commands::ImportRun refused = loaded.checker.importer().run(read.tasks);
        QVERIFY(!refused.storageFailure.isEmpty());
        QCOMPARE(refused.imported, 0);
        QVERIFY(loaded.checker.watches().tasks().isEmpty());
        QCOMPARE(DbFile(path).count("tasks"), 0);
        QCOMPARE(DbFile(path).count("results"), 0);

        CommandGuard::Scope busy(loaded.checker.guard());
        QVERIFY(!loaded.checker.importer().run(read.tasks).ran);
    }

    void periodicWorkWaitsForAnImport()
    {
        // A background check whose page arrives while an import is storing is taken over once it has finished;
        // meanwhile no check starts.
        TempFolder fixture;
        const QString path = fixture.path("task.db");
        const QString old = server.url("/during/old").toString();
        {
            DbFile file(path);
            file.addTask(0, "Old", old, "qt");
            file.addResult(0, "01/01/2009", "qt 1", server.url("/l1").toString());
        }
        TestServer::Response changed;
        changed.body = "<a href=\"/l1\">qt 1 changed</a>";
        changed.delayMs = 100;
        server.setResponse("/during/old", changed);
        TestServer::Response slow;
        slow.body = "<a href=\"/n\">qt new</a>";
        slow.delayMs = 500;
        server.setResponse("/during/new", slow);
        TestClock clock;
        Loaded loaded(path, &clock);
        TaskChecker& checker = loaded.checker;
        Task* task = checker.watches().tasks().at(0);
        QSignalSpy found(&checker.periodic(), &PeriodicChecks::resultsFound);
        clock.at = QDateTime::currentDateTime().addDays(1);
        QCOMPARE(checker.periodic().checkDueTasks().started.size(), 1);

        TaskExchange::Read read = TaskExchange::parse(server.url("/during/new").toString().toUtf8());
        TaskExchange::setKeyword(read, "qt", 3600);
        int startedDuring = -1;
        QTimer::singleShot(300, this, [&] {
            clock.at = clock.at.addDays(1);
            startedDuring = int(checker.periodic().checkDueTasks().started.size());
            QCOMPARE(found.count(), 0);
        });
        const Commands::ImportRun run = checker.importer().run(read.tasks);
        QCOMPARE(run.imported, 1);
        QCOMPARE(startedDuring, 0);
        QCOMPARE(found.count(), 1);
        QCOMPARE(texts(task->results()), (QStringList{"qt 1", "qt 1 changed"}));
        QCOMPARE(DbFile(path).column("SELECT text FROM results ORDER BY id"),
                 (QStringList{"qt 1", "qt new", "qt 1 changed"}));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
