// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariant>

// Reads and writes task.db directly, through a connection of its own, the way another program would.
class DbFile
{
public:
    explicit DbFile(const QString& path)
    {
        static int serial = 0;
        name = QStringLiteral("fixture-%1").arg(++serial);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, "
                            "task_date TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, "
                            "address TEXT)"));
        exec(QStringLiteral("CREATE TABLE IF NOT EXISTS results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date "
                            "TEXT, taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)"));
    }
    ~DbFile()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }

    bool exec(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(QSqlDatabase::database(name));
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        return query.exec();
    }
    void addTask(int taskId, const QString& taskName, const QString& address, const QString& keyword,
                 int frequency = 3600, const QString& lastUpdate = QStringLiteral("2009-01-01T10:00:00"),
                 const QString& date = QStringLiteral("01/01/2009"))
    {
        exec(QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, address) "
                            "VALUES(?, ?, ?, ?, ?, ?, ?)"),
             {taskId, date, lastUpdate, taskName, keyword, frequency, address});
    }
    void addResult(int taskId, const QString& date, const QString& text, const QString& link, int state = 0)
    {
        exec(QStringLiteral("INSERT INTO results(result_date, taskid, text, link, result_state) VALUES(?, ?, ?, ?, ?)"),
             {date, taskId, text, link, state});
    }
    // One column of every row of a query, as text.
    QStringList column(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery query(QSqlDatabase::database(name));
        query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        QStringList out;
        if (query.exec()) {
            while (query.next())
                out << query.value(0).toString();
        }
        return out;
    }
    // Every row of the table in stored order, one line a row, each value with its SQL type.
    QStringList rows(const QString& table)
    {
        QSqlQuery query(QSqlDatabase::database(name));
        QStringList out;
        if (!query.exec(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table)))
            return {QStringLiteral("unreadable: ") + query.lastError().text()};
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << QStringLiteral("%1 %2").arg(query.value(i).typeName(), query.value(i).toString());
            out << values.join(QStringLiteral(" | "));
        }
        return out;
    }
    int count(const QString& table) { return column(QStringLiteral("SELECT count(*) FROM ") + table).value(0).toInt(); }

private:
    QString name;
};

// A fresh temporary folder as the current one for the test's lifetime, so a task.db opened by its bare
// name is the test's own.
class TempFolder
{
public:
    TempFolder() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~TempFolder() { QDir::setCurrent(previous); }

    QString path(const QString& name) const { return QDir(dir.path()).filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};
