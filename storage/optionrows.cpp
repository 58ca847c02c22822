// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/optionrows.h"

#include "engine/definition/task.h"
#include "storage/sqlrunner.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {
const QString kSet = QStringLiteral("INSERT OR REPLACE INTO task_options(task_id, name, value) VALUES(?, ?, ?)");
}

QHash<int, QHash<QString, QString>> OptionRows::loadAll()
{
    QHash<int, QHash<QString, QString>> byTask;
    // Read without a failure noted: a task without options is no failure of loading.
    QSqlQuery query = m_runner.query();
    // Only ids a task can carry: a row under a text or a real would read as the id of another task.
    if (!query.exec(QStringLiteral("SELECT task_id, name, value FROM task_options WHERE typeof(task_id) = 'integer' "
                                   "AND task_id BETWEEN -2147483648 AND 2147483647")))
        return byTask;
    const QSqlRecord record = query.record();
    const int taskId = record.indexOf(QStringLiteral("task_id"));
    const int name = record.indexOf(QStringLiteral("name"));
    const int value = record.indexOf(QStringLiteral("value"));
    while (query.next())
        byTask[query.value(taskId).toInt()].insert(query.value(name).toString(), query.value(value).toString());
    return byTask;
}

void OptionRows::giveTo(const QList<Task*>& tasks)
{
    const QHash<int, QHash<QString, QString>> optionsById = loadAll();
    for (Task* task : tasks)
        task->setOptions(optionsById.value(task->taskId()));
}

bool OptionRows::replace(int taskId, const QHash<QString, QString>& options)
{
    if (!m_runner.exec(QStringLiteral("DELETE FROM task_options WHERE task_id = ?"), {taskId}))
        return false;
    QSqlQuery insert = m_runner.query();
    if (!m_runner.prepare(insert, kSet))
        return false;
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (it.value().isEmpty())
            continue;
        insert.addBindValue(taskId);
        insert.addBindValue(sqlText(it.key()));
        insert.addBindValue(it.value());
        if (!m_runner.run(insert))
            return false;
    }
    return true;
}

bool OptionRows::set(int taskId, const QString& name, const QString& value)
{
    if (value.isEmpty())
        return m_runner.exec(QStringLiteral("DELETE FROM task_options WHERE task_id = ? AND name = ?"),
                             {taskId, sqlText(name)});
    return m_runner.exec(kSet, {taskId, sqlText(name), value});
}

bool OptionRows::setAll(const QList<Change>& changes)
{
    QSqlQuery insert = m_runner.query();
    QSqlQuery remove = m_runner.query();
    if (!m_runner.prepare(insert, kSet) ||
        !m_runner.prepare(remove, QStringLiteral("DELETE FROM task_options WHERE task_id = ? AND name = ?")))
        return false;
    for (const Change& change : changes) {
        QSqlQuery& query = change.value.isEmpty() ? remove : insert;
        query.addBindValue(change.taskId);
        query.addBindValue(sqlText(change.name));
        if (!change.value.isEmpty())
            query.addBindValue(change.value);
        if (!m_runner.run(query))
            return false;
    }
    return true;
}

bool OptionRows::removeOf(int taskId)
{
    return m_runner.exec(QStringLiteral("DELETE FROM task_options WHERE task_id = ?"), {taskId}) &&
           m_runner.exec(QStringLiteral("DELETE FROM task_owners WHERE task_id = ?"), {taskId});
}

bool OptionRows::removeAll()
{
    return m_runner.exec(QStringLiteral("DELETE FROM task_options")) &&
           m_runner.exec(QStringLiteral("DELETE FROM task_owners"));
}

bool OptionRows::recordOwner(int taskId, int rowId)
{
    return m_runner.exec(QStringLiteral("INSERT OR REPLACE INTO task_owners(task_id, task_row) VALUES(?, ?)"),
                         {taskId, rowId});
}
