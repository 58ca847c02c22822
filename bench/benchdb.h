// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
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
