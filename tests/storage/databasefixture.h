// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of task.db share: a folder of their own, a second connection to look into the file, rows
// written by hand and the operations of the database as rows of a table.
#pragma once
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
    bool addTask(const QVariant& taskId, const QVariant& keyword, const QVariant& address,
                 const QVariant& taskDate = QStringLiteral("03/15/2010"))
    {
        return exec(QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, "
                                   "address) VALUES(?, ?, '2010-03-15T08:05:09', 'Name', ?, 3600, ?)"),
                    {taskId, taskDate, keyword, address});
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

inline Task::ResultPtr result(int taskId, const QString& text, const QString& link, QDate date = QDate(2010, 3, 14))
{
    return Task::ResultPtr::create(Task::TaskResult{taskId, date, text, link, StateNew});
}

inline std::unique_ptr<Task> task(int taskId, const QString& keyword, const QString& address,
                                  const Task::ResultList& results = {})
{
    auto made = std::make_unique<Task>(taskId, TaskDefinition{QStringLiteral("Name"), address, keyword, 3600, {}});
    made->setResults(results);
    return made;
}

// Age is judged against the date handed in (the checker's clock), never the system's: 2031 is not now.
inline QDate givenToday()
{
    return QDate(2031, 2, 3);
}

// The fixture the write operations act on: one task with one old result, one seen link and one option, so
// every write changes the file.
inline void writeFixture(RawDb& raw)
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
inline const QList<std::pair<const char*, Op>>& writes()
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

inline OutboxEvent outboxEvent(const QString& eventId, const QString& destination)
{
    OutboxEvent event;
    event.eventId = eventId;
    event.destination = destination;
    event.payload = QStringLiteral("{}");
    return event;
}

inline Op write(const QString& name)
{
    for (const auto& [writeName, op] : writes()) {
        if (name == QLatin1String(writeName))
            return op;
    }
    qFatal("no such write");
}

// The folder and second connection of one test function.
class DatabaseFixture : public QObject
{
    Q_OBJECT

protected:
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
};
