// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/taskdatabase.h"

#include <QFile>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

// One operation on the database, as a row of a table.
using Op = std::function<bool(TaskDatabase&)>;
Q_DECLARE_METATYPE(Op)
// A removal of the stored tasks' rows, giving what it took.
using Removal = std::function<bool(TaskDatabase&, const QList<Task*>&, RemovedRows*)>;
Q_DECLARE_METATYPE(Removal)

namespace {

const QString kTasksSql = QStringLiteral(
    "CREATE TABLE tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, task_date TEXT, last_update TEXT, "
    "name TEXT, grabtext TEXT, frequency INTEGER, address TEXT)");
const QString kTaskOptionsSql =
    QStringLiteral("CREATE TABLE task_options (task_id INTEGER NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL, "
                   "PRIMARY KEY (task_id, name))");
const QString kResultsSql = QStringLiteral("CREATE TABLE results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date "
                                           "TEXT, taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)");
// The newest file format this program writes.
const int kVersion = 3;

// A second connection of its own, for writing files by hand and looking into them.
class RawDb
{
public:
    explicit RawDb(const QString& path)
    {
        static int counter = 0;
        m_name = QStringLiteral("raw-%1").arg(++counter);
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~RawDb() { QSqlDatabase::removeDatabase(m_name); }

    bool exec(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(QSqlDatabase::database(m_name));
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        const bool ok = query.exec();
        if (!ok)
            qWarning() << sql << query.lastError().text();
        return ok;
    }
    QList<QVariantList> rows(const QString& sql)
    {
        QList<QVariantList> out;
        QSqlQuery query(QSqlDatabase::database(m_name));
        query.exec(sql);
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            out << row;
        }
        return out;
    }
    QVariant value(const QString& sql) { return rows(sql).value(0).value(0); }
    int count(const QString& table) { return value(QStringLiteral("SELECT count(*) FROM ") + table).toInt(); }
    QString schemaOf(const QString& table)
    {
        return value(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = '%1'").arg(table)).toString();
    }
    // The tables an older copy of the program writes, and nothing else.
    RawDb& createTables()
    {
        exec(kTasksSql);
        exec(kResultsSql);
        return *this;
    }
    bool addTask(const QVariant& taskId, const QVariant& grabText, const QVariant& address,
                 const QVariant& taskDate = QStringLiteral("03/15/2010"))
    {
        return exec(QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, "
                                   "address) VALUES(?, ?, '2010-03-15T08:05:09', 'Name', ?, 3600, ?)"),
                    {taskId, taskDate, grabText, address});
    }
    bool addResult(const QVariant& taskId, const QVariant& text, const QVariant& link,
                   const QVariant& date = QStringLiteral("03/14/2010"), int state = 0)
    {
        return exec(QStringLiteral("INSERT INTO results(result_date, taskid, text, link, result_state) "
                                   "VALUES(?, ?, ?, ?, ?)"),
                    {date, taskId, text, link, state});
    }

private:
    QString m_name;
};

Task::ResultPtr result(int taskId, const QString& text, const QString& link, QDate date = QDate(2010, 3, 14))
{
    return Task::ResultPtr::create(Task::TaskResult{taskId, date, text, link, StateNew});
}

std::unique_ptr<Task> task(int taskId, const QString& grabText, const QString& address,
                           const Task::ResultList& results = {})
{
    auto made = std::make_unique<Task>(taskId, QStringLiteral("Name"), address, grabText, 3600);
    made->setResults(results);
    return made;
}

// Age is judged against the date handed in (the checker's clock), never the system's: 2031 is not now.
QDate givenToday()
{
    return QDate(2031, 2, 3);
}

// The fixture the write operations act on: one task with one old result, one seen link and one option, so
// every write changes the file.
void writeFixture(RawDb& raw)
{
    raw.createTables();
    raw.exec("CREATE TABLE seen_links(taskid INTEGER, link TEXT)");
    raw.addTask(1, "kw", "http://a/");
    raw.addResult(1, "t", "l", "01/01/2000");
    raw.exec("INSERT INTO seen_links VALUES(1, 'l')");
    raw.exec(kTaskOptionsSql);
    raw.exec("INSERT INTO task_options VALUES(1, 'o', 'v')");
}

// Every write, each one changing the fixture's file.
const QList<std::pair<const char*, Op>>& writes()
{
    static const QList<std::pair<const char*, Op>> all{
        {"insertTask",
         [](TaskDatabase& db) {
             const auto created = task(2, "kw", "http://b/", {result(2, "n", "m")});
             created->setOptions({{"o", "n"}});
             return db.insertTask(created.get());
         }},
        {"storeChanges, results only",
         [](TaskDatabase& db) {
             return db.storeChanges({{1, {result(1, "n", "k"), result(1, "n", "m")}, {}, {}}});
         }},
        {"storeChanges",
         [](TaskDatabase& db) {
             return db.storeChanges({{1, {result(1, "n", "k")}, {}, {}}, {1, {result(1, "n", "m")}, {"m"}, {"l"}}});
         }},
        {"replaceTaskResults",
         [](TaskDatabase& db) {
             return db.replaceTaskResults(1, {result(1, "n", "k"), result(1, "n", "m")});
         }},
        {"replaceTaskResults with seen links",
         [](TaskDatabase& db) {
             return db.replaceTaskResults(1, {result(1, "n", "k")}, {"k", "m"});
         }},
        {"updateTask",
         [](TaskDatabase& db) {
             return db.updateTask(*task(1, "kw", "http://a/"), {"other", "http://a/", "other", 3600, {}}, true);
         }},
        {"markTaskResultsRead", [](TaskDatabase& db) { return db.markTaskResultsRead(1); }},
        {"updateResultStates", [](TaskDatabase& db) { return db.updateResultStates({result(1, "t", "l")}, 1); }},
        {"updateLastUpdate", [](TaskDatabase& db) { return db.updateLastUpdate(task(1, "kw", "http://a/").get()); }},
        {"removeTask", [](TaskDatabase& db) { return db.removeTask(task(1, "kw", "http://a/").get()); }},
        {"removeTaskResults", [](TaskDatabase& db) { return db.removeTaskResults(1); }},
        {"removeResults", [](TaskDatabase& db) { return db.removeResults({result(1, "t", "l")}); }},
        {"removeAllTasks", [](TaskDatabase& db) { return db.removeAllTasks(); }},
        {"removeOldResults", [](TaskDatabase& db) { return db.removeOldResults(14, givenToday()); }},
        {"removeAllSeenLinks", [](TaskDatabase& db) { return db.removeAllSeenLinks(); }},
        {"setTaskOption", [](TaskDatabase& db) { return db.setTaskOption(1, "o", "w"); }},
        {"setTaskOption, empty value", [](TaskDatabase& db) { return db.setTaskOption(1, "o", ""); }},
    };
    return all;
}

OutboxEvent outboxEvent(const QString& eventId, const QString& destination)
{
    OutboxEvent event;
    event.eventId = eventId;
    event.destination = destination;
    event.payload = QStringLiteral("{}");
    return event;
}

Op write(const QString& name)
{
    for (const auto& [writeName, op] : writes()) {
        if (name == QLatin1String(writeName))
            return op;
    }
    qFatal("no such write");
}

} // namespace

class TestTaskDatabase : public QObject
{
    Q_OBJECT

private:
    QString path() const { return m_dir->filePath(QStringLiteral("task.db")); }
    // A connection of the test's own to the file, open for the test's length.
    RawDb& file()
    {
        if (!m_raw)
            m_raw.emplace(path());
        return *m_raw;
    }
    QList<QVariantList> snapshot()
    {
        return file().rows("SELECT * FROM tasks ORDER BY id") + file().rows("SELECT * FROM results ORDER BY id") +
               file().rows("SELECT * FROM seen_links ORDER BY taskid, link") +
               file().rows("SELECT * FROM task_options ORDER BY task_id, name");
    }
    // Every table of the program, row by row, with the type of every value.
    QList<QVariantList> everyRow()
    {
        QList<QVariantList> rows;
        const QStringList tables{"tasks", "results", "seen_links", "task_options", "task_owners", "result_times"};
        for (const QString& table : tables) {
            for (QVariantList row : file().rows(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(table))) {
                for (QVariant& value : row)
                    value = QStringLiteral("%1:%2").arg(value.typeName(), value.toString());
                rows << (QVariantList{table} + row);
            }
        }
        return rows;
    }
    QByteArray fileBytes()
    {
        QFile in(path());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    std::optional<RawDb> m_raw;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        m_raw.reset();
        QVERIFY2(QSqlDatabase::connectionNames().isEmpty(), "a connection outlived its database object");
    }

    // A removal put back leaves every table as it was, row by row and with the row ids; the rows can be removed
    // again after. Rows of the other task, and of the task's results not removed, stay as they are throughout.
    void removalPutBack_data()
    {
        QTest::addColumn<Removal>("remove");
        QTest::addColumn<int>("results"); // the result rows taken
        QTest::addColumn<int>("tasks");   // the task rows taken
        QTest::newRow("a task") << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
            return db.removeTask(tasks.at(0), taken);
        }) << 3 << 1;
        QTest::newRow("all tasks") << Removal([](TaskDatabase& db, const QList<Task*>&, RemovedRows* taken) {
            return db.removeAllTasks(taken);
        }) << 4 << 2;
        QTest::newRow("a task's results")
            << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
                   return db.removeTaskResults(tasks.at(0)->taskId(), taken);
               })
            << 3 << 0;
        QTest::newRow("some results") << Removal([](TaskDatabase& db, const QList<Task*>& tasks, RemovedRows* taken) {
            const Task::ResultList results = tasks.at(0)->results();
            return db.removeResults({results.at(0), results.at(2)}, taken);
        }) << 2 << 0;
    }
    void removalPutBack()
    {
        QFETCH(Removal, remove);
        QFETCH(int, results);
        QFETCH(int, tasks);
        {
            TaskDatabase db(path());
            const auto jobs =
                task(0, "job", "http://a/",
                     {result(0, "a", "l1"), result(0, "b", "l2"), result(0, "c", "l3", QDate(2009, 1, 2))});
            jobs->setOptions({{"user_agent", "Agent"}, {"region", "#main"}});
            const auto other = task(1, "kw", "http://b/", {result(1, "a", "l1")});
            QVERIFY(db.insertTask(jobs.get(), {"l1", "l2", "seen"}) && db.insertTask(other.get(), {"x"}));
            QVERIFY(db.updateResultStates({result(0, "b", "l2")}, StateRead));
        }
        const QList<QVariantList> before = everyRow();
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 2);
        RemovedRows taken;
        QVERIFY(remove(db, loaded, &taken));
        QCOMPARE(taken.count("results"), results);
        QCOMPARE(taken.count("tasks"), tasks);
        QVERIFY(everyRow() != before);
        QVERIFY2(db.restoreRows(taken), qPrintable(db.lastError()));
        QCOMPARE(everyRow(), before);
        RemovedRows again;
        QVERIFY(remove(db, loaded, &again));
        QCOMPARE(again.count("results"), results);
    }

    // Results stored dated today, by the program or by an older copy that knows only the results table, get the time
    // of day they were stored beside them, which loading gives back; results of other days (imported) get none,
    // and a result removed takes its time along.
    void resultTimes()
    {
        const QDate today = QDate::currentDate();
        {
            TaskDatabase db(path());
            QVERIFY(db.insertTask(
                task(0, "job", "http://a/", {result(0, "new", "l1", today), result(0, "old", "l2")}).get()));
        }
        QVERIFY(file().addResult(0, "by an older copy", "l3", today.toString(TaskDateFormat)));
        QCOMPARE(file().count("result_times"), 2);
        QVERIFY(file().exec("UPDATE result_times SET found_at = '00:05:00' WHERE result_id = 1"));
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        QStringList times;
        for (const Task::ResultPtr& found : loaded.at(0)->results())
            times << found->text + (found->time.isValid() ? "=" : "") + found->time.toString("HH:mm");
        QCOMPARE(times.at(2), QString("new=00:05"));
        QCOMPARE(times.at(1), QString("old"));
        QVERIFY(times.at(0).startsWith("by an older copy="));
        QVERIFY(db.removeTaskResults(0));
        QCOMPARE(file().count("result_times"), 0);
    }

    // Putting back is refused while a task made since clashes with it; the file stays as it is then.
    void putBackRefused_data()
    {
        QTest::addColumn<int>("taskId");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error");
        QTest::newRow("its id given to a new task") << 0 << "http://other/"
                                                    << "task id 0 was given";
        QTest::newRow("the same keyword and page again") << 5 << "http://a/"
                                                         << "was created since";
    }
    void putBackRefused()
    {
        QFETCH(int, taskId);
        QFETCH(QString, address);
        QFETCH(QString, error);
        TaskDatabase db(path());
        QVERIFY(db.insertTask(task(0, "job", "http://a/", {result(0, "a", "l1")}).get()));
        const QList<Task*> loaded = db.loadTasks();
        const auto freed = qScopeGuard([&] { qDeleteAll(loaded); });
        RemovedRows taken;
        QVERIFY(db.removeTask(loaded.at(0), &taken));
        QVERIFY(db.insertTask(task(taskId, "job", address).get()));
        const QList<QVariantList> after = everyRow();
        QVERIFY(!db.restoreRows(taken));
        QVERIFY2(db.lastError().contains(error), qPrintable(db.lastError()));
        QCOMPARE(everyRow(), after);
    }

    // What opening does to a file, by the format version it carries.
    void schemaSteps_data()
    {
        QTest::addColumn<QStringList>("setup"); // statements another program ran on the file before
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("version");         // after the open
        QTest::addColumn<QStringList>("tasks");   // task_id:grabtext of the loaded tasks, then their options
        QTest::addColumn<QStringList>("refused"); // row id: reason of the rows not loaded
        const QString twoTasks = "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'a'), (1, 'b')";
        QTest::newRow("new file: every step") << QStringList{} << true << kVersion << QStringList{} << QStringList{};
        QTest::newRow("older copy's file, version 0") << QStringList{kTasksSql, kResultsSql, twoTasks} << true
                                                      << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("version 2, shared ids: the steps run again")
            << QStringList{kTasksSql, kResultsSql, "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'a'), (0, 'b')",
                           "PRAGMA user_version = 2"}
            << true << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("current version opened again")
            << QStringList{kTasksSql, kResultsSql, twoTasks, QString("PRAGMA user_version = %1").arg(kVersion)} << true
            << kVersion << QStringList{"0:a", "1:b"} << QStringList{};
        QTest::newRow("newer version refused")
            << QStringList{kTasksSql, kResultsSql, twoTasks, QString("PRAGMA user_version = %1").arg(kVersion + 1)}
            << false << kVersion + 1 << QStringList{} << QStringList{};
        QTest::newRow("odd rows another program left")
            << QStringList{kTasksSql,
                           kResultsSql,
                           "CREATE TABLE seen_links(taskid INTEGER, link TEXT)",
                           "INSERT INTO tasks(task_id, grabtext) VALUES(NULL, 'null'), (NULL, 'again'), (2, NULL)",
                           "INSERT INTO seen_links VALUES(2, 'l'), (2, 'l'), (7, 'orphan')",
                           "INSERT INTO results(taskid, text, result_date) VALUES(NULL, 'r', 'x'), (2, NULL, NULL)"}
            << true << kVersion << QStringList{"2:"}
            << QStringList{"1: task_id: not a whole number (empty)", "2: task_id: not a whole number (empty)"};
        // Each would read as task 0 (or 1) and be sent with its cookie; their own options stay in the file.
        QTest::newRow("task ids no task can carry")
            << QStringList{kTasksSql, kResultsSql, kTaskOptionsSql,
                           "INSERT INTO tasks(task_id, grabtext) VALUES(0, 'zero'), ('abc', 'text'), ('abc', 'again'), "
                           "(x'00', 'blob'), (1.5, 'real'), (NULL, 'null'), (4294967296, 'huge'), (1, 'one')",
                           "INSERT INTO task_options VALUES(0, 'request_headers', 'Cookie: mine'), "
                           "('abc', 'request_headers', 'X-Other: 1'), (1.5, 'user_agent', 'real'), "
                           "(4294967296, 'user_agent', 'huge')"}
            << true << kVersion << QStringList{"0:zero request_headers=Cookie: mine", "1:one"}
            << QStringList{"2: task_id: not a whole number (a text)", "3: task_id: not a whole number (a text)",
                           "4: task_id: not a whole number (bytes)",  "5: task_id: not a whole number (a real number)",
                           "6: task_id: not a whole number (empty)",  "7: task_id: outside the range of task ids"};
    }
    void schemaSteps()
    {
        QFETCH(QStringList, setup);
        QFETCH(bool, opens);
        QFETCH(int, version);
        QFETCH(QStringList, tasks);
        QFETCH(QStringList, refused);
        for (const QString& statement : setup)
            QVERIFY(file().exec(statement));
        const QByteArray before = fileBytes();
        const int rows = file().count("tasks");
        {
            TaskDatabase db(path());
            QCOMPARE(db.isOpen(), opens);
            QStringList loaded;
            QList<TaskRows::Refusal> refusals;
            for (const Task* t : db.loadTasks(&refusals)) {
                QString text = QStringLiteral("%1:%2").arg(t->taskId()).arg(t->grabText());
                for (auto it = t->options().cbegin(); it != t->options().cend(); ++it)
                    text += QStringLiteral(" %1=%2").arg(it.key(), it.value());
                loaded << text;
                delete t;
            }
            QCOMPARE(loaded, tasks);
            QStringList reasons;
            for (const TaskRows::Refusal& refusal : refusals)
                reasons << QStringLiteral("%1: %2").arg(refusal.rowId).arg(refusal.reason);
            QCOMPARE(reasons, refused);
            if (!opens) {
                QVERIFY(!TaskDatabase(path(), TaskDatabase::OpenMode::ReadOnly).isOpen());
                QVERIFY2(db.openFailure().contains("newer version"), qPrintable(db.openFailure()));
                QVERIFY(!db.setTaskOption(0, "o", "v"));
                QVERIFY(!db.insertTask(task(5, "kw", "http://a/").get()));
            }
        }
        QCOMPARE(file().value("PRAGMA user_version").toInt(), version);
        if (!opens) {
            QCOMPARE(fileBytes(), before); // not written to
            return;
        }
        QCOMPARE(file().schemaOf("tasks"), kTasksSql);
        QCOMPARE(file().schemaOf("results"), kResultsSql);
        QCOMPARE(file().schemaOf("task_options"), kTaskOptionsSql);
        QCOMPARE(file().count("sqlite_master WHERE name IN ('seen_links', 'task_owners')"), 2);
        QCOMPARE(file().count("seen_links WHERE taskid = 7"), 0); // no task carries the id
        QCOMPARE(file().count("tasks"), rows);                    // the refused rows stay
    }

    void loadsHandWrittenFile()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "linux", "http://a/");
        raw.addTask(2, "kw", "http://b/", "2010-03-15");
        raw.addTask(1, "other", "http://c/");
        raw.addTask(3, "none", "http://d/");
        raw.exec("UPDATE tasks SET last_update = 'garbage' WHERE task_id = 2");
        raw.addResult(1, "a", "l1", "03/14/2010", 1);
        raw.addResult(9, "orphan", "l9");
        raw.addResult(2, "b", "l2", "13/45/2010");
        raw.addResult(1, QVariant(), "l3");
        raw.addResult(1, "c", "l4", "03/15/2010");
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 4);
        const Task* first = loaded[0];
        QCOMPARE(first->taskId(), 1);
        QCOMPARE(first->grabText(), QStringLiteral("linux"));
        QCOMPARE(first->address(), QStringLiteral("http://a/"));
        QCOMPARE(first->name(), QStringLiteral("Name"));
        QCOMPARE(first->frequency(), 3600);
        QCOMPARE(first->taskDate(), QDate(2010, 3, 15));
        QCOMPARE(first->lastUpdate(), QDateTime(QDate(2010, 3, 15), QTime(8, 5, 9)));

        // Newest first; a NULL text reads as empty.
        const Task::ResultList results = first->results();
        QCOMPARE(results.size(), 3);
        QCOMPARE(results[0]->link, QStringLiteral("l4"));
        QCOMPARE(results[0]->date, QDate(2010, 3, 15));
        QCOMPARE(results[1]->text, QString());
        QCOMPARE(results[2]->text, QStringLiteral("a"));
        QCOMPARE(results[2]->state, int(StateRead));
        QCOMPARE(results[2]->taskId, 1);

        // Bad date texts load as invalid dates, the rows all the same.
        QVERIFY(!loaded[1]->taskDate().isValid());
        QVERIFY(!loaded[1]->lastUpdate().isValid());
        QCOMPARE(loaded[1]->results().size(), 1);
        QVERIFY(!loaded[1]->results()[0]->date.isValid());

        // The second task with id 1 gets copies of its own.
        const Task::ResultList copies = loaded[2]->results();
        QCOMPARE(copies.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(copies[i] != results[i]);
            QCOMPARE(copies[i]->link, results[i]->link);
        }
        QVERIFY(loaded[3]->results().isEmpty());
        QCOMPARE(raw.count("results WHERE text = 'orphan'"), 1);
    }

    // Tasks load with their unread counts only. A task's results are read when first asked for: the rows whose
    // task id reads as the task's (NULL and a text read as 0), newest first; none once the file's object is gone.
    void resultsReadWhenNeeded()
    {
        RawDb& raw = file().createTables();
        raw.addTask(0, "a", "http://a/");
        raw.addTask(1, "b", "http://b/");
        raw.addTask(2, "c", "http://c/");
        raw.addResult(1, "new", "l1");
        raw.addResult(1, "read", "l2", "03/14/2010", StateRead);
        raw.addResult(QVariant(), "null id", "l3");
        raw.addResult("x", "text id", "l4", "03/14/2010", StateRead);
        raw.exec("INSERT INTO results(taskid, text, link, result_state) VALUES(0, 'null state', 'l5', NULL)");
        auto db = std::make_unique<TaskDatabase>(path());
        const QList<Task*> loaded = db->loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 3);
        const QList<QStringList> expected{{"null state", "text id", "null id"}, {"read", "new"}, {}};
        const QList<int> unread{2, 1, 0};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(loaded[i]->resultsLoaded(), expected[i].isEmpty());
            QCOMPARE(loaded[i]->unreadCount(), unread[i]);
            QStringList texts;
            for (const Task::ResultPtr& r : loaded[i]->results())
                texts << r->text;
            QCOMPARE(texts, expected[i]);
            QVERIFY(loaded[i]->resultsLoaded());
            QCOMPARE(loaded[i]->unreadCount(), unread[i]);
        }
        const QList<Task*> again = db->loadTasks();
        const auto cleanupAgain = qScopeGuard([&] { qDeleteAll(again); });
        db.reset();
        QVERIFY(!again[1]->loadResults());
        QVERIFY(again[1]->results().isEmpty());
        QCOMPARE(again[1]->unreadCount(), 1);
    }

    // Rows another program wrote may hold any SQLite type in any column: each reads into the record as Qt's driver
    // reads it and QVariant converts it.
    void resultValuesReadAsQtReadsThem_data()
    {
        QTest::addColumn<QString>("value");
        for (const char* value : {"'03/14/2010'", "''", "'Grüße € 😀'", "12", "-3", "9999999999", "1.5", "-0.0", "1e20",
                                  "X'41C3A9'", "X'FF'", "CAST(X'FF41' AS TEXT)", "NULL", "' 7'", "'7x'"})
            QTest::newRow(value) << QString::fromLatin1(value);
    }
    void resultValuesReadAsQtReadsThem()
    {
        QFETCH(QString, value);
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        QVERIFY(raw.exec(QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                        "VALUES(1, %1, %1, %1, %1)")
                             .arg(value)));
        const QVariantList row = raw.rows("SELECT result_date, text, link, result_state FROM results").value(0);
        QCOMPARE(row.size(), 4);
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 1);
        const Task::ResultList results = loaded[0]->results();
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0]->date, QDate::fromString(row[0].toString(), TaskDateFormat));
        QCOMPARE(results[0]->text, row[1].toString());
        QCOMPARE(results[0]->link, row[2].toString());
        QCOMPARE(results[0]->state, row[3].toInt());
    }

    void taskExists_data()
    {
        QTest::addColumn<QString>("grabText");
        QTest::addColumn<QVariant>("storedGrab");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QVariant>("storedAddress");
        QTest::addColumn<bool>("expected");
        QTest::newRow("same") << "kw" << QVariant("kw") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("other address") << "kw" << QVariant("kw") << "http://b/" << QVariant("http://a/") << false;
        QTest::newRow("other keyword") << "k" << QVariant("kw") << "http://a/" << QVariant("http://a/") << false;
        // The keyword test ignores case, so such a task finds the same links: the rule of the window's gate.
        QTest::newRow("keyword case") << "KW" << QVariant("kw") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("keyword case, not ASCII")
            << "\u00c4PFEL" << QVariant("\u00e4pfel") << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("address case") << "kw" << QVariant("kw") << "http://a/X" << QVariant("http://a/x") << false;
        QTest::newRow("address blank") << "kw" << QVariant("kw") << "http://a/ " << QVariant("http://a/") << false;
        QTest::newRow("null address") << "kw" << QVariant("kw") << "" << QVariant() << true;
        QTest::newRow("null keyword") << "" << QVariant() << "http://a/" << QVariant("http://a/") << true;
        QTest::newRow("empty is not null") << "" << QVariant("") << "x" << QVariant() << false;
    }
    void taskExists()
    {
        QFETCH(QVariant, storedGrab);
        QFETCH(QVariant, storedAddress);
        QFETCH(QString, grabText);
        QFETCH(QString, address);
        QFETCH(bool, expected);
        RawDb& raw = file().createTables();
        QVERIFY(raw.addTask(1, storedGrab, storedAddress));
        TaskDatabase db(path());
        QCOMPARE(db.taskExists(task(5, grabText, address).get()), expected);
    }

    // A new record is stored unless its own task holds a row with the same text and link.
    void newResultStored_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("storedText");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QVariant>("storedLink");
        QTest::addColumn<bool>("expected"); // stored already
        QTest::newRow("same") << "t" << QVariant("t") << "http://l/" << QVariant("http://l/") << true;
        QTest::newRow("text case") << "T" << QVariant("t") << "http://l/" << QVariant("http://l/") << false;
        QTest::newRow("other link") << "t" << QVariant("t") << "http://l/x" << QVariant("http://l/") << false;
        QTest::newRow("text blank") << "t" << QVariant("t ") << "http://l/" << QVariant("http://l/") << false;
        QTest::newRow("null text") << "" << QVariant() << "http://l/" << QVariant("http://l/") << true;
        QTest::newRow("null link") << "t" << QVariant("t") << "" << QVariant() << true;
        QTest::newRow("empty link") << "t" << QVariant("t") << "" << QVariant("") << true;
    }
    void newResultStored()
    {
        QFETCH(QVariant, storedText);
        QFETCH(QVariant, storedLink);
        QFETCH(QString, text);
        QFETCH(QString, link);
        QFETCH(bool, expected);
        RawDb& raw = file().createTables();
        QVERIFY(raw.addResult(3, storedText, storedLink));
        TaskDatabase db(path());
        QVERIFY(db.storeChanges({{3, {result(3, text, link), result(8, text, link)}, {}, {}}}));
        QCOMPARE(raw.count("results WHERE taskid = 3"), expected ? 1 : 2);
        QCOMPARE(raw.count("results WHERE taskid = 8"), 1); // another task's row is not this task's
    }

    void insertTaskWritesDescribedFormat()
    {
        TaskDatabase db(path());
        auto created = std::make_unique<Task>(4, QString(), QStringLiteral("http://a/"), QStringLiteral("kw"), 60);
        created->setTaskDate(QStringLiteral("03/05/2010"));
        created->setLastUpdate(QStringLiteral("2010-03-15T08:05:09"));
        created->setResults({result(4, "x", "l"), result(4, "x", "l"), result(4, QString(), "m", QDate())});
        QVERIFY(db.storeChanges({{1, {result(1, "x", "l")}, {}, {}}}));
        QVERIFY(db.insertTask(created.get())); // all three, though "x"/"l" is stored already
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT task_id, task_date, last_update, name, typeof(name), grabtext, frequency, address "
                          "FROM tasks"),
                 (QList<QVariantList>{{4, "03/05/2010", "2010-03-15T08:05:09", "", "text", "kw", 60, "http://a/"}}));
        QCOMPARE(raw.rows("SELECT result_date, taskid, text, typeof(text), link, result_state FROM results "
                          "WHERE taskid = 4 ORDER BY id"),
                 (QList<QVariantList>{{"03/14/2010", 4, "x", "text", "l", 0},
                                      {"03/14/2010", 4, "x", "text", "l", 0},
                                      {"", 4, "", "text", "m", 0}}));

        // The same keyword on the same page again writes nothing, not even the results.
        created->setResults({result(4, "new", "new")});
        QVERIFY(db.insertTask(created.get()));
        QCOMPARE(raw.count("tasks"), 1);
        QCOMPARE(raw.count("results"), 4);
    }

    void storeChangesSkipsTheTasksOwnRows()
    {
        TaskDatabase db(path());
        QVERIFY(db.storeChanges({}));
        QVERIFY(db.storeChanges({{1, {result(1, "a", "l1")}, {}, {}}}));
        QVERIFY(db.storeChanges(
            {{2, {result(2, "a", "l1"), result(2, "b", "l2"), result(2, "b", "l2"), result(2, "a", "l3")}, {}, {}}}));
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT taskid, text, link FROM results ORDER BY id"),
                 (QList<QVariantList>{{1, "a", "l1"}, {2, "a", "l1"}, {2, "b", "l2"}, {2, "a", "l3"}}));
    }

    void exactRowOperations_data()
    {
        // Every row of task 1 with text "t" and link "l" is the target; case counts, other tasks are apart.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QList<QVariantList>>("expected");
        QTest::newRow("updateResultStates")
            << Op([](TaskDatabase& db) { return db.updateResultStates({result(1, "t", "l")}, StateRead); })
            << QList<QVariantList>{
                   {1, "t", "l", 1}, {1, "t", "l", 1}, {2, "t", "l", 0}, {1, "T", "l", 0}, {1, "t", "L", 0}};
        QTest::newRow("markTaskResultsRead")
            << Op([](TaskDatabase& db) { return db.markTaskResultsRead(1); })
            << QList<QVariantList>{
                   {1, "t", "l", 1}, {1, "t", "l", 1}, {2, "t", "l", 0}, {1, "T", "l", 1}, {1, "t", "L", 1}};
        QTest::newRow("removeResults") << Op([](TaskDatabase& db) { return db.removeResults({result(1, "t", "l")}); })
                                       << QList<QVariantList>{{2, "t", "l", 0}, {1, "T", "l", 0}, {1, "t", "L", 0}};
        QTest::newRow("removeTaskResults")
            << Op([](TaskDatabase& db) { return db.removeTaskResults(1); }) << QList<QVariantList>{{2, "t", "l", 0}};
    }
    void exactRowOperations()
    {
        QFETCH(Op, op);
        QFETCH(QList<QVariantList>, expected);
        RawDb& raw = file().createTables();
        for (const auto& [id, text, link] : {std::tuple(1, "t", "l"), std::tuple(1, "t", "l"), std::tuple(2, "t", "l"),
                                             std::tuple(1, "T", "l"), std::tuple(1, "t", "L")})
            raw.addResult(id, text, link);
        TaskDatabase db(path());
        QVERIFY(op(db));
        QCOMPARE(raw.rows("SELECT taskid, text, link, result_state FROM results ORDER BY id"), expected);
    }

    void replaceTaskResults_data()
    {
        using Row = std::tuple<int, QString, QString>; // taskid, text, link
        QTest::addColumn<QList<Row>>("stored");
        QTest::addColumn<QList<Row>>("replacement");
        QTest::addColumn<QList<Row>>("expected"); // in row order
        const QList<Row> mixed{{1, "a", "x"}, {2, "b", "y"}, {1, "c", "z"}};
        QTest::newRow("only the task's rows") << mixed << QList<Row>{{1, "n", "k"}, {1, "o", "z"}}
                                              << QList<Row>{{2, "b", "y"}, {1, "n", "k"}, {1, "o", "z"}};
        QTest::newRow("stored under another task: stored for this one too")
            << mixed << QList<Row>{{1, "b", "y"}, {1, "n", "k"}}
            << QList<Row>{{2, "b", "y"}, {1, "b", "y"}, {1, "n", "k"}};
        QTest::newRow("the task's own rows are stored again")
            << mixed << QList<Row>{{1, "c", "z"}} << QList<Row>{{2, "b", "y"}, {1, "c", "z"}};
        QTest::newRow("same link and text twice: stored once")
            << mixed << QList<Row>{{1, "n", "k"}, {1, "n", "k"}} << QList<Row>{{2, "b", "y"}, {1, "n", "k"}};
        QTest::newRow("empty list clears the task") << mixed << QList<Row>{} << QList<Row>{{2, "b", "y"}};
        QTest::newRow("task without rows")
            << QList<Row>{{2, "b", "y"}} << QList<Row>{{1, "n", "k"}} << QList<Row>{{2, "b", "y"}, {1, "n", "k"}};
    }
    void replaceTaskResults()
    {
        using Row = std::tuple<int, QString, QString>;
        QFETCH(QList<Row>, stored);
        QFETCH(QList<Row>, replacement);
        QFETCH(QList<Row>, expected);
        RawDb& raw = file().createTables();
        for (const auto& [id, text, link] : stored)
            raw.addResult(id, text, link);
        Task::ResultList results{nullptr}; // an empty slot is passed over
        for (const auto& [id, text, link] : replacement)
            results << result(id, text, link);
        TaskDatabase db(path());
        QVERIFY(db.replaceTaskResults(1, results));
        QVERIFY(db.lastError().isEmpty());
        QList<QVariantList> rows;
        for (const auto& [id, text, link] : expected)
            rows << QVariantList{id, text, link};
        QCOMPARE(raw.rows("SELECT taskid, text, link FROM results ORDER BY id"), rows);
    }

    void removeTask_data()
    {
        QTest::addColumn<int>("taskId");
        QTest::addColumn<int>("tasksLeft");
        QTest::addColumn<int>("resultsLeft");
        QTest::newRow("not stored: its results stay") << 9 << 2 << 5;
        QTest::newRow("the id's results go") << 1 << 1 << 3;
        QTest::newRow("single result") << 2 << 1 << 4;
    }
    void removeTask()
    {
        QFETCH(int, taskId);
        QFETCH(int, tasksLeft);
        QFETCH(int, resultsLeft);
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        raw.addTask(2, "c", "http://c/");
        for (int id : {1, 1, 2, 9, 9})
            raw.addResult(id, "t", "l");
        TaskDatabase db(path());
        QVERIFY(db.removeTask(task(taskId, "x", "http://x/").get()));
        QCOMPARE(raw.count("tasks"), tasksLeft);
        QCOMPARE(raw.count("results"), resultsLeft);
    }

    // Two tasks sharing a task_id (as an older copy's numbering can leave them) get ids of their own when the
    // file is opened, each keeping the results it showed; removing one leaves the other and its results.
    void sharedTaskIdsSeparated()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "a", "http://a/");
        raw.addTask(1, "b", "http://b/");
        raw.addTask(2, "c", "http://c/");
        raw.addResult(1, "r1", "l1");
        raw.addResult(1, "r2", "l2");
        raw.addResult(2, "r3", "l3");
        TaskDatabase db(path());
        const QList<Task*> tasks = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(tasks); });
        QCOMPARE(tasks.size(), 3);
        QSet<int> ids;
        for (const Task* loaded : tasks) {
            ids.insert(loaded->taskId());
            QCOMPARE(loaded->results().size(), loaded->grabText() == "c" ? 1 : 2);
        }
        QCOMPARE(ids.size(), 3);

        QVERIFY(db.removeTask(tasks.at(1)));
        QCOMPARE(raw.rows("SELECT grabtext FROM tasks ORDER BY id"), (QList<QVariantList>{{"a"}, {"c"}}));
        QCOMPARE(raw.rows("SELECT taskid, text FROM results ORDER BY id"),
                 (QList<QVariantList>{{1, "r1"}, {1, "r2"}, {2, "r3"}}));
    }

    void removeAllTasksKeepsIdCounters()
    {
        TaskDatabase db(path());
        QVERIFY(db.insertTask(task(1, "kw", "http://a/", {result(1, "t", "l")}).get()));
        QVERIFY(db.removeAllTasks());
        RawDb& raw = file();
        QCOMPARE(raw.count("tasks") + raw.count("results"), 0);
        QVERIFY(db.insertTask(task(1, "kw", "http://a/", {result(1, "t", "l")}).get()));
        QCOMPARE(raw.value("SELECT id FROM tasks").toInt(), 2);
        QCOMPARE(raw.value("SELECT id FROM results").toInt(), 2);
    }

    void removeOldResults_data()
    {
        const QDate today = givenToday();
        const auto text = [](const QDate& date) { return QVariant(date.toString("MM/dd/yyyy")); };
        QTest::addColumn<QVariant>("date");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("removed");
        QTest::newRow("one day past the limit") << text(today.addDays(-15)) << 14 << true;
        QTest::newRow("exactly the limit") << text(today.addDays(-14)) << 14 << false;
        QTest::newRow("today") << text(today) << 14 << false;
        QTest::newRow("future") << text(today.addDays(3)) << 0 << false;
        QTest::newRow("yesterday, zero days") << text(today.addDays(-1)) << 0 << true;
        QTest::newRow("unparsable") << QVariant("2010-03-15") << 14 << true;
        QTest::newRow("empty text") << QVariant("") << 14 << true;
        QTest::newRow("null") << QVariant() << 14 << false;
        QTest::newRow("huge day count") << QVariant("01/01/1900") << INT_MAX << false;
    }
    void removeOldResults()
    {
        QFETCH(QVariant, date);
        QFETCH(int, days);
        QFETCH(bool, removed);
        const QString todayText = givenToday().toString("MM/dd/yyyy");
        RawDb& raw = file().createTables();
        raw.addResult(1, "a", "l", date); // every row with the text goes, whatever its task
        raw.addResult(2, "b", "m", date);
        raw.addResult(1, "c", "n", todayText);
        TaskDatabase db(path());
        QVERIFY(db.removeOldResults(days, givenToday()));
        QCOMPARE(raw.count("results"), removed ? 1 : 3);
    }

    void removeOldResultsManyDates()
    {
        const QDate today = givenToday();
        RawDb& raw = file().createTables();
        raw.exec("BEGIN");
        for (int age = 1; age <= 1201; ++age)
            raw.addResult(1, "t", "l", today.addDays(-age).toString("MM/dd/yyyy"));
        raw.addResult(1, "t", "l", today.toString("MM/dd/yyyy"));
        raw.exec("COMMIT");
        TaskDatabase db(path());
        QVERIFY(db.removeOldResults(0, today));
        QCOMPARE(raw.count("results"), 1);
    }

    void updateLastUpdateWritesTheTasksTime_data()
    {
        const QDateTime local(QDate(2031, 2, 3), QTime(4, 5, 6));
        QTest::addColumn<QDateTime>("checked");
        QTest::newRow("local time") << local;
        QTest::newRow("UTC, written as local time") << local.toUTC();
        QTest::newRow("with an offset") << local.toOffsetFromUtc(5 * 3600);
    }
    void updateLastUpdateWritesTheTasksTime()
    {
        QFETCH(QDateTime, checked);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        TaskDatabase db(path());
        const auto other = task(5, "kw", "http://a/");
        other->setLastUpdate(checked.toString(Qt::ISODate));
        QVERIFY(db.updateLastUpdate(other.get()));
        QCOMPARE(raw.value("SELECT last_update FROM tasks").toString(), "2010-03-15T08:05:09");
        const auto checkedTask = task(1, "other", "http://b/");
        checkedTask->setLastUpdate(checked.toString(Qt::ISODate));
        QVERIFY(db.updateLastUpdate(checkedTask.get()));
        // The stored form stays local time without an offset, whether the clock gives local time, UTC or an offset.
        QCOMPARE(raw.value("SELECT last_update FROM tasks").toString(), "2031-02-03T04:05:06");
    }

    void hostileTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes") << QStringLiteral("O'Brien said \"hi\"");
        QTest::newRow("injection") << QStringLiteral("'; DROP TABLE tasks; --");
        QTest::newRow("scripts") << QStringLiteral("新闻 أخبار Новости 🎉");
        QTest::newRow("10000 characters") << QString(10000, QChar(u'x'));
        QTest::newRow("placeholders") << QStringLiteral(":name ? :link");
    }
    void hostileTexts()
    {
        QFETCH(QString, text);
        TaskDatabase db(path());
        const auto created = task(3, text, text, {result(3, text, text)});
        QVERIFY(db.insertTask(created.get()));
        QVERIFY(db.taskExists(created.get()));
        const QList<Task*> loaded = db.loadTasks();
        const auto cleanup = qScopeGuard([&] { qDeleteAll(loaded); });
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded[0]->grabText(), text);
        QCOMPARE(loaded[0]->address(), text);
        QCOMPARE(loaded[0]->results().value(0)->link, text);
        QVERIFY(db.removeResults({result(3, text, text)}));
        QCOMPARE(file().count("results"), 0);
    }

    // A write the file cannot take (opened read-only, or locked by another program) fails, says why and
    // changes nothing; once the lock goes, the same write goes through.
    void unwritableFile_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<bool>("locked");
        for (const auto& [name, op] : writes()) {
            QTest::addRow("%s, read-only", name) << op << false;
            QTest::addRow("%s, locked", name) << op << true;
        }
    }
    void unwritableFile()
    {
        QFETCH(Op, op);
        QFETCH(bool, locked);
        writeFixture(file());
        std::optional<TaskDatabase> db(std::in_place, path()); // brings the file up to date, so it is complete
        if (!locked)
            db.emplace(path(), TaskDatabase::OpenMode::ReadOnly);
        const QList<QVariantList> before = snapshot();
        RawDb other(path());
        if (locked)
            QVERIFY(other.exec("BEGIN EXCLUSIVE"));
        QVERIFY(!op(*db));
        QCOMPARE(db->lastError(), locked ? "task.db is locked by another program" : "task.db is read-only");
        if (locked)
            other.exec("ROLLBACK");
        QCOMPARE(snapshot(), before);
        QVERIFY(db->storeChanges({})); // nothing to do is no failure
        QVERIFY(db->insertTask(task(1, "kw", "http://a/").get()));
        QVERIFY(db->lastError().isEmpty());
        QCOMPARE(op(*db), locked); // released: the same operation goes through
        QCOMPARE(snapshot() != before, locked);
    }

    void failedStatementRollsBack_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("trigger");
        const QString refuseInsert = "BEFORE INSERT ON results WHEN NEW.link = 'm'";
        const QString refuseDelete = "BEFORE DELETE ON results";
        QTest::newRow("insertTask") << write("insertTask") << refuseInsert;
        QTest::newRow("storeChanges, results only") << write("storeChanges, results only") << refuseInsert;
        QTest::newRow("replaceTaskResults, insert refused after the delete")
            << write("replaceTaskResults") << refuseInsert;
        QTest::newRow("replaceTaskResults, delete refused") << write("replaceTaskResults") << refuseDelete;
        QTest::newRow("storeChanges, result refused") << write("storeChanges") << refuseInsert;
        QTest::newRow("storeChanges, seen link refused after the results")
            << write("storeChanges") << "BEFORE INSERT ON seen_links";
        QTest::newRow("replaceTaskResults with seen links, seen link refused")
            << write("replaceTaskResults with seen links") << "BEFORE DELETE ON seen_links";
        QTest::newRow("removeTask") << write("removeTask") << refuseDelete;
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << refuseDelete;
        QTest::newRow("removeTask, option row refused after the task")
            << write("removeTask") << "BEFORE DELETE ON task_options";
        QTest::newRow("insertTask, option row refused") << write("insertTask") << "BEFORE INSERT ON task_options";
        QTest::newRow("removeOldResults")
            << write("removeOldResults") << "BEFORE DELETE ON results WHEN OLD.text = 'u'";
    }
    void failedStatementRollsBack()
    {
        QFETCH(Op, op);
        QFETCH(QString, trigger);
        RawDb& raw = file();
        writeFixture(raw);
        raw.addResult(1, "u", "u", "01/02/2000"); // a second old date, refused
        QVERIFY(raw.exec("CREATE TRIGGER refuse " + trigger + " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        TaskDatabase db(path());
        const QList<QVariantList> before = snapshot();
        QVERIFY(!op(db));
        QVERIFY2(db.lastError().contains("refused"), qPrintable(db.lastError()));
        QCOMPARE(snapshot(), before);
    }

    void failedOpenKeepsFile_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::newRow("missing directory") << "missing/task.db" << QByteArray() << false;
        QTest::newRow("not a database") << "task.db" << QByteArray("not a database\n").repeated(300) << false;
        QTest::newRow("empty file") << "task.db" << QByteArray("") << true;
    }
    void failedOpenKeepsFile()
    {
        QFETCH(QString, relativePath);
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        const QString target = m_dir->filePath(relativePath);
        if (!relativePath.contains('/')) {
            QFile out(target);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        // Storage shows no box (it links no widget library): the one who opened the database tells the user.
        std::optional<TaskDatabase> db(std::in_place, target);
        QCOMPARE(db->isOpen(), opens);
        if (opens)
            return;
        QVERIFY(db->loadTasks().isEmpty());
        QVERIFY(!db->storeChanges({{1, {result(1, "a", "b")}, {}, {}}}));
        QVERIFY(!db->lastError().isEmpty());
        db.reset();
        QCOMPARE(QFile::exists(target), !content.isNull());
        if (!content.isNull())
            QCOMPARE(fileBytes(), content); // the foreign file is left as it was
    }

    void newTaskId_data()
    {
        QTest::addColumn<QList<int>>("taskIds");
        QTest::addColumn<QList<int>>("orphanIds"); // results whose task is gone
        QTest::addColumn<int>("preferred");
        QTest::addColumn<int>("chosen");
        QTest::newRow("free: kept") << QList<int>{0, 1} << QList<int>{} << 2 << 2;
        QTest::newRow("free gap: kept") << QList<int>{0, 2} << QList<int>{} << 1 << 1;
        QTest::newRow("taken by a task") << QList<int>{0, 1, 2} << QList<int>{} << 1 << 3;
        QTest::newRow("taken by a leftover result") << QList<int>{0} << QList<int>{5} << 5 << 6;
        QTest::newRow("largest in the results") << QList<int>{0, 1} << QList<int>{9} << 1 << 10;
        QTest::newRow("largest possible taken") << QList<int>{INT_MAX, 0} << QList<int>{} << 0 << 1;
    }
    void newTaskId()
    {
        QFETCH(QList<int>, taskIds);
        QFETCH(QList<int>, orphanIds);
        QFETCH(int, preferred);
        QFETCH(int, chosen);
        RawDb& raw = file().createTables();
        for (int id : taskIds)
            raw.addTask(id, "kw", QStringLiteral("http://%1/").arg(id));
        for (int id : orphanIds)
            raw.addResult(id, "t", "l");
        TaskDatabase db(path());
        raw.exec("INSERT INTO seen_links VALUES(?, 'left over')", {chosen});
        const auto created = task(preferred, "kw", "http://new/", {result(preferred, "n", "k")});
        QVERIFY(db.insertTask(created.get(), {"k", "m"}));
        QCOMPARE(created->taskId(), chosen);
        QCOMPARE(created->results().value(0)->taskId, chosen);
        QCOMPARE(raw.rows("SELECT task_id FROM tasks WHERE address = 'http://new/'"), QList<QVariantList>{{chosen}});
        QCOMPARE(raw.rows("SELECT taskid FROM results WHERE link = 'k'"), QList<QVariantList>{{chosen}});
        QCOMPARE(db.seenLinks(chosen), (QSet<QString>{"k", "m"}));
    }

    void secondWriterBetweenCountAndInsert()
    {
        TaskDatabase window(path());
        TaskDatabase other(path());
        const int counted = 0; // the window's count rule on its empty list
        const auto alpha = task(counted, "a", "http://a/", {result(counted, "A", "la")});
        const auto beta = task(0, "b", "http://b/", {result(0, "B", "lb")});
        QVERIFY(other.insertTask(beta.get()));
        QVERIFY(window.insertTask(alpha.get()));
        QCOMPARE(beta->taskId(), 0);
        QCOMPARE(alpha->taskId(), 1);
        QVERIFY(window.removeTask(alpha.get()));
        RawDb& raw = file();
        QCOMPARE(raw.rows("SELECT task_id, grabtext FROM tasks"), (QList<QVariantList>{{0, "b"}}));
        QCOMPARE(raw.rows("SELECT taskid, text FROM results"), (QList<QVariantList>{{0, "B"}}));
    }

    void seenLinkRows_data()
    {
        // Rows as "rowid:taskid:link": an unchanged row keeps its rowid, so only differences were written. The
        // leftover of task id 5, which no task carries, is gone once the file is opened.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"1:1:a", "2:1:b", "3:2:a"};
        // Adding a seen link again and removing an unknown one are no failures.
        QTest::newRow("storeChanges") << Op([](TaskDatabase& db) {
            return db.storeChanges({{1, {}, {"c", "b"}, {"a", "x"}}, {2, {}, {}, {"a"}}});
        }) << QStringList{"2:1:b", "4:1:c"};
        QTest::newRow("replaceTaskResults with seen links") << Op([](TaskDatabase& db) {
            return db.replaceTaskResults(1, {}, {"b", "c"});
        }) << QStringList{"2:1:b", "4:1:c", "3:2:a"};
        QTest::newRow("replaceTaskResults")
            << Op([](TaskDatabase& db) { return db.replaceTaskResults(1, {}); }) << start;
        QTest::newRow("removeTaskResults") << write("removeTaskResults") << start;
        QTest::newRow("removeTask") << write("removeTask") << QStringList{"3:2:a"};
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << QStringList{};
        QTest::newRow("removeAllSeenLinks") << write("removeAllSeenLinks") << QStringList{};
        QTest::newRow("insertTask over leftover rows")
            << Op([](TaskDatabase& db) { return db.insertTask(task(5, "kw", "http://new/").get(), {"n"}); })
            << QStringList{"1:1:a", "2:1:b", "3:2:a", "4:5:n"};
    }
    void seenLinkRows()
    {
        QFETCH(Op, op);
        QFETCH(QStringList, expected);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        raw.addTask(2, "kw", "http://b/");
        raw.exec("CREATE TABLE seen_links(taskid INTEGER, link TEXT)");
        raw.exec("INSERT INTO seen_links VALUES(1, 'a'), (1, 'b'), (2, 'a'), (5, 'z')");
        TaskDatabase db(path());
        QVERIFY2(op(db), qPrintable(db.lastError()));

        QStringList rows;
        QHash<int, QSet<QString>> byTask;
        for (const QVariantList& row : raw.rows("SELECT rowid, taskid, link FROM seen_links ORDER BY taskid, link")) {
            rows << QStringLiteral("%1:%2:%3").arg(row[0].toInt()).arg(row[1].toInt()).arg(row[2].toString());
            byTask[row[1].toInt()].insert(row[2].toString());
        }
        QCOMPARE(rows, expected);
        for (int id : {1, 2, 5})
            QCOMPARE(db.seenLinks(id), std::optional(byTask.value(id)));
    }

    void taskOptionRows_data()
    {
        // Rows as "task:name=value" after the operation, on a file holding two tasks' options and a leftover of
        // task id 5, which no task carries: gone once the file is opened.
        QTest::addColumn<Op>("op");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"1:a=x", "1:b=y", "2:a=z"};
        const auto set = [](int id, const char* name, const char* value) {
            return Op([=](TaskDatabase& db) { return db.setTaskOption(id, name, value); });
        };
        QTest::newRow("set a new option") << set(2, "b", "n") << QStringList{"1:a=x", "1:b=y", "2:a=z", "2:b=n"};
        QTest::newRow("replace a value") << set(1, "a", "n") << QStringList{"1:a=n", "1:b=y", "2:a=z"};
        QTest::newRow("empty value removes") << set(1, "a", "") << QStringList{"1:b=y", "2:a=z"};
        QTest::newRow("removing an unset option") << set(3, "a", "") << start;
        QTest::newRow("removeTask") << write("removeTask") << QStringList{"2:a=z"};
        QTest::newRow("removeAllTasks") << write("removeAllTasks") << QStringList{};
        QTest::newRow("removeTaskResults keeps them") << write("removeTaskResults") << start;
        QTest::newRow("insertTask over a leftover") << Op([](TaskDatabase& db) {
            const auto created = task(5, "kw", "http://new/");
            created->setOptions({{"c", "1"}, {"unset", ""}});
            return db.insertTask(created.get());
        }) << QStringList{"1:a=x", "1:b=y", "2:a=z", "5:c=1"};
    }
    void taskOptionRows()
    {
        QFETCH(Op, op);
        QFETCH(QStringList, expected);
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        raw.addTask(2, "kw", "http://b/");
        raw.exec(kTaskOptionsSql);
        raw.exec("INSERT INTO task_options VALUES(1, 'a', 'x'), (1, 'b', 'y'), (2, 'a', 'z'), (5, 'a', 'old')");
        TaskDatabase db(path());
        QVERIFY2(op(db), qPrintable(db.lastError()));

        QStringList rows;
        QHash<int, QHash<QString, QString>> byTask;
        for (const QVariantList& row :
             raw.rows("SELECT task_id, name, value FROM task_options ORDER BY task_id, name")) {
            rows << QStringLiteral("%1:%2=%3").arg(row[0].toInt()).arg(row[1].toString(), row[2].toString());
            byTask[row[0].toInt()].insert(row[1].toString(), row[2].toString());
        }
        QCOMPARE(rows, expected);
        // What is stored reaches the loaded tasks.
        const QList<Task*> loaded = db.loadTasks();
        for (const Task* t : loaded)
            QCOMPARE(t->options(), byTask.value(t->taskId()));
        qDeleteAll(loaded);
    }

    // A copy of the program that knows only tasks and results removes a task and numbers a new one with the
    // same task id: the new task gets none of the old one's options or seen links, whether the copy ran
    // before or after this program opened the file; the other tasks keep theirs.
    void rowsStayWithTheirTask_data()
    {
        QTest::addColumn<bool>("reopened"); // this program opened the file again before the older copy ran
        QTest::addRow("owners noted when the tasks were stored") << false;
        QTest::addRow("owners noted when the file was opened") << true;
    }
    void rowsStayWithTheirTask()
    {
        QFETCH(bool, reopened);
        {
            TaskDatabase db(path());
            for (int id : {0, 1}) {
                const auto made = task(id, "kw", QStringLiteral("http://site%1/").arg(id));
                made->setOptions({{Task::RequestHeadersOption, QStringLiteral("Cookie: c%1").arg(id)}});
                QVERIFY(db.insertTask(made.get(), {QStringLiteral("http://site%1/seen").arg(id)}));
            }
        }
        if (reopened)
            TaskDatabase(path()).isOpen();
        // As the older copy does it: delete the task's rows, add one numbered by count.
        RawDb& raw = file();
        raw.exec("DELETE FROM tasks WHERE task_id = 1");
        raw.exec("DELETE FROM results WHERE taskid = 1");
        raw.addTask(1, "kw", "http://other/");
        TaskDatabase db(path());
        const QList<Task*> loaded = db.loadTasks();
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded[1]->address(), QString("http://other/"));
        QVERIFY(loaded[1]->options().isEmpty());
        QCOMPARE(db.seenLinks(1), std::optional(QSet<QString>{}));
        QCOMPARE(loaded[0]->options().value(Task::RequestHeadersOption), QString("Cookie: c0"));
        QCOMPARE(db.seenLinks(0), std::optional(QSet<QString>{"http://site0/seen"}));
        qDeleteAll(loaded);
        QCOMPARE(raw.rows("SELECT task_id, name FROM task_options"), (QList<QVariantList>{{0, "request_headers"}}));
        QCOMPARE(raw.schemaOf("tasks"), kTasksSql);
    }

    // A file of an older copy (tasks and results only) opened where it cannot be changed: the tasks load,
    // without options, the seen links say they cannot be read, and nothing is written.
    void olderFileOpenedReadOnly()
    {
        RawDb& raw = file().createTables();
        raw.addTask(1, "kw", "http://a/");
        TaskDatabase db(path(), TaskDatabase::OpenMode::ReadOnly);
        QVERIFY(db.isOpen());
        QCOMPARE(db.seenLinks(1), std::nullopt);
        QVERIFY(!db.lastError().isEmpty());
        const QList<Task*> loaded = db.loadTasks();
        QCOMPARE(loaded.size(), 1);
        QVERIFY(loaded[0]->options().isEmpty());
        qDeleteAll(loaded);
        QCOMPARE(raw.value("PRAGMA user_version").toInt(), 0);
        QCOMPARE(raw.count("sqlite_master WHERE name = 'task_options'"), 0);
    }

    // The outbox is written with the results it tells of, survives a reopen as it was left, and an older copy
    // (which refuses only a higher user_version and knows only tasks and results) still works on the file.
    void outboxAcrossReopenAndOlderCopy()
    {
        writeFixture(file());
        {
            TaskDatabase db(path());
            db.setNewsSource([](const TaskChange& change) {
                return QList<OutboxEvent>{outboxEvent(QStringLiteral("ev-%1").arg(change.taskId), "dest")};
            });
            QVERIFY(db.storeChanges({{1, {result(1, "n", "k")}, {}, {}}, {1, {}, {"l2"}, {}}}));
            const auto events = db.newsEvents();
            QVERIFY(events && events->size() == 1); // a change without new results tells no news
            QVERIFY(db.rescheduleNewsEvent(events->first().row, 2, 1234, "503"));
        }
        QCOMPARE(file().value("PRAGMA user_version").toInt(), kVersion);
        // The older copy at work: it checks the version, then reads and writes its own two tables.
        QVERIFY(file().value("PRAGMA user_version").toInt() <= kVersion);
        QVERIFY(file().addTask(2, "other", "http://b/"));
        QVERIFY(file().addResult(2, "t", "l"));
        QVERIFY(file().exec("DELETE FROM results WHERE taskid = 1 AND text = 't'"));
        TaskDatabase db(path());
        const QList<Task*> tasks = db.loadTasks();
        QCOMPARE(tasks.size(), 2);
        qDeleteAll(tasks);
        const auto events = db.newsEvents();
        QVERIFY(events && events->size() == 1);
        QCOMPARE(events->first().eventId, QString("ev-1"));
        QCOMPARE(events->first().attempts, 2);
        QCOMPARE(events->first().nextTry, 1234);
        QCOMPARE(events->first().lastError, QString("503"));
        QVERIFY(db.removeNewsEvent(events->first().row));
        QCOMPARE(db.newsEvents()->size(), 0);
    }

    // A full destination loses its oldest events, and only its own; an outbox that refuses the event keeps
    // the results out as well.
    void outboxBoundedAndAtomic()
    {
        writeFixture(file());
        TaskDatabase db(path());
        db.setMaxNewsPerDestination(3);
        QList<OutboxEvent> events;
        for (int i = 0; i < 5; ++i)
            events.append(outboxEvent(QString::number(i), "full"));
        events.append(outboxEvent("0", "other"));
        QVERIFY(db.addNewsEvents(events));
        QVERIFY(db.addNewsEvents({events.at(4)})); // a repeat of a waiting event is not stored twice
        QCOMPARE(db.takeDroppedNews(), 2);
        QCOMPARE(db.takeDroppedNews(), 0);
        QStringList left;
        const QList<OutboxEvent> waiting = db.newsEvents().value_or(QList<OutboxEvent>());
        for (const OutboxEvent& event : waiting)
            left << event.destination + ":" + event.eventId;
        QCOMPARE(left, (QStringList{"full:2", "full:3", "full:4", "other:0"}));

        db.setNewsSource([](const TaskChange&) { return QList<OutboxEvent>{outboxEvent("x", "d")}; });
        QVERIFY(file().exec("CREATE TRIGGER refuse BEFORE INSERT ON news_outbox BEGIN SELECT RAISE(ABORT, 'no'); END"));
        const QList<QVariantList> before = snapshot();
        QVERIFY(!db.storeChanges({{1, {result(1, "n", "k")}, {}, {}}}));
        QCOMPARE(snapshot(), before);
    }

    void separateFilesSideBySide()
    {
        const QString other = m_dir->filePath(QStringLiteral("other.db"));
        TaskDatabase first(path());
        TaskDatabase second(other);
        QVERIFY(first.isOpen() && second.isOpen());
        QVERIFY(second.insertTask(task(1, "kw", "http://a/").get()));
        QVERIFY(!first.taskExists(task(1, "kw", "http://a/").get()));
        QVERIFY(second.taskExists(task(1, "kw", "http://a/").get()));
    }
};

QTEST_GUILESS_MAIN(TestTaskDatabase)
#include "tst_taskdatabase.moc"
