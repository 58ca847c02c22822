// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/definition/task.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <functional>

// Writes a task.db of the given size in one transaction, through a connection of its own.
// resultsOf(task) gives each task's number of results; linkOf / textOf their link and text.
template <typename Count, typename Link, typename Text>
void writeBenchDb(const QString& path, int tasks, Count resultsOf, Link linkOf, Text textOf,
                  const std::function<QString(int)>& addressOf)
{
    QFile::remove(path);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-writer"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(
            QStringLiteral("CREATE TABLE tasks(id INTEGER PRIMARY KEY AUTOINCREMENT, task_id INTEGER, task_date "
                           "TEXT, last_update TEXT, name TEXT, grabtext TEXT, frequency INTEGER, address TEXT)"));
        query.exec(QStringLiteral("CREATE TABLE results(id INTEGER PRIMARY KEY AUTOINCREMENT, result_date TEXT, "
                                  "taskid INTEGER, text TEXT, link TEXT, result_state INTEGER)"));
        db.transaction();
        const QString now = QDateTime::currentDateTime().toString(Qt::ISODate);
        QSqlQuery task(db);
        task.prepare(QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, "
                                    "address) VALUES(?, '01/01/2026', ?, ?, 'item', 3600, ?)"));
        QSqlQuery result(db);
        result.prepare(QStringLiteral("INSERT INTO results(result_date, taskid, text, link, result_state) "
                                      "VALUES(?, ?, ?, ?, ?)"));
        for (int t = 0; t < tasks; ++t) {
            task.addBindValue(t);
            task.addBindValue(now);
            task.addBindValue(QStringLiteral("Task %1").arg(t));
            task.addBindValue(addressOf(t));
            task.exec();
            const int count = resultsOf(t);
            for (int r = 0; r < count; ++r) {
                result.addBindValue(QDate(2026, 1, 1).addDays(r % 300).toString(QStringLiteral("MM/dd/yyyy")));
                result.addBindValue(t);
                result.addBindValue(textOf(t, r));
                result.addBindValue(linkOf(t, r));
                result.addBindValue(r % 2);
                result.exec();
            }
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-writer"));
}

// Set up before the application object: no diagnostic lines, the offscreen platform unless another is
// asked for, and settings in a folder of their own so the user's are never touched.
struct BenchEnvironment
{
    QTemporaryDir config;
    BenchEnvironment()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
};

// Runs the event loop until done() holds, asking at least every 50 ms. The thread sleeps while nothing comes: a
// timer wakes it, as processEvents() with a time limit would spin instead.
inline void waitUntil(const std::function<bool()>& done)
{
    QTimer wake;
    wake.start(50);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

inline QStringList rowsOf(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("compare"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(QStringLiteral("SELECT taskid, text, link, result_state, result_date FROM results"), db);
        while (query.next())
            rows << QStringList{query.value(0).toString(), query.value(1).toString(), query.value(2).toString(),
                                query.value(3).toString(), query.value(4).toString()}
                        .join(QLatin1Char('|'));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("compare"));
    rows.sort();
    return rows;
}

// Records every keyword link of the pages as they were before the new ones appeared as seen, the way the
// program leaves task.db after a check with the option on.
// Gives every task of task.db the region; the page's links all stand in it, so the results are those without it.
inline void giveRegion(const QString& path, int tasks, const QString& region)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("region-writer"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS task_options (task_id INTEGER NOT NULL, name TEXT NOT "
                                  "NULL, value TEXT NOT NULL, PRIMARY KEY (task_id, name))"));
        db.transaction();
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) VALUES(?, ?, ?)"));
        for (int t = 0; t < tasks; ++t) {
            query.addBindValue(t);
            query.addBindValue(QLatin1String(Task::RegionOption));
            query.addBindValue(region);
            query.exec();
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("region-writer"));
}

inline qint64 seenCount(const QString& path)
{
    qint64 count = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seen-count"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(QStringLiteral("SELECT count(*) FROM seen_links"), db);
        if (query.next())
            count = query.value(0).toLongLong();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seen-count"));
    return count;
}
