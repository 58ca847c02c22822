// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/taskrows.h"

#include "engine/definition/taskdefinition.h"
#include "storage/logging.h"
#include "storage/sqlrunner.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <climits>

namespace {
const QString kColumns = QStringLiteral("id, task_id, task_date, last_update, name, grabtext, frequency, address");

// A row addressed by its own id when it is known, else by the task id it carries.
QString byRow(const QString& statement, const Task& task)
{
    return statement.arg(task.rowId() > 0 ? QStringLiteral("id") : QStringLiteral("task_id"));
}
QVariant rowKey(const Task& task)
{
    return task.rowId() > 0 ? task.rowId() : task.taskId();
}

// Why a task_id of the SQLite type cannot be a task's id (an integer: it is out of range).
QString idProblem(const QString& type)
{
    if (type == QLatin1String("integer"))
        return SqlRunner::tr("task_id: outside the range of task ids");
    const QString what = type == QLatin1String("null")   ? SqlRunner::tr("empty")
                         : type == QLatin1String("real") ? SqlRunner::tr("a real number")
                         : type == QLatin1String("blob") ? SqlRunner::tr("bytes")
                                                         : SqlRunner::tr("a text");
    return SqlRunner::tr("task_id: not a whole number (%1)").arg(what);
}
} // namespace

std::optional<QList<Task*>> TaskRows::loadAll(QList<Refusal>* refused)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(
            query, QStringLiteral("SELECT %1, typeof(task_id) AS task_id_type FROM tasks ORDER BY id").arg(kColumns)))
        return std::nullopt;
    const QSqlRecord record = query.record();
    const int row = record.indexOf(QStringLiteral("id"));
    const int taskId = record.indexOf(QStringLiteral("task_id"));
    const int taskDate = record.indexOf(QStringLiteral("task_date"));
    const int lastUpdate = record.indexOf(QStringLiteral("last_update"));
    const int name = record.indexOf(QStringLiteral("name"));
    const int keyword = record.indexOf(QStringLiteral("grabtext"));
    const int frequency = record.indexOf(QStringLiteral("frequency"));
    const int address = record.indexOf(QStringLiteral("address"));
    const int taskIdType = record.indexOf(QStringLiteral("task_id_type"));
    QList<Task*> tasks;
    while (query.next()) {
        const QString type = query.value(taskIdType).toString();
        const qlonglong id = query.value(taskId).toLongLong();
        if (type != QLatin1String("integer") || id < INT_MIN || id > INT_MAX) {
            if (refused)
                refused->append({query.value(row).toInt(), idProblem(type)});
            continue;
        }
        auto* task = new Task(query.value(taskId).toInt(), {query.value(name).toString(),
                                                            query.value(address).toString(),
                                                            query.value(keyword).toString(),
                                                            query.value(frequency).toInt(),
                                                            {}});
        task->setRowId(query.value(row).toInt());
        task->setTaskDate(query.value(taskDate).toString());
        task->setLastUpdate(query.value(lastUpdate).toString());
        tasks.append(task);
    }
    return tasks;
}

std::optional<bool> TaskRows::stored(const Task& task)
{
    // SQL narrows the rows down by address; the match itself is the duplicate rule of every door, on the
    // texts read back, where a NULL reads as an empty text.
    const QString address = task.address();
    QSqlQuery query = m_runner.query();
    const bool found =
        address.isEmpty()
            ? m_runner.select(query, QStringLiteral("SELECT id, grabtext, address FROM tasks "
                                                    "WHERE address = '' OR address IS NULL"))
            : m_runner.select(query, QStringLiteral("SELECT id, grabtext, address FROM tasks WHERE address = ?"),
                              {address});
    if (!found)
        return std::nullopt;
    const QSqlRecord record = query.record();
    const int keywordColumn = record.indexOf(QStringLiteral("grabtext"));
    const int addressColumn = record.indexOf(QStringLiteral("address"));
    while (query.next()) {
        const QString keyword = query.value(keywordColumn).toString();
        const QString storedAddress = query.value(addressColumn).toString();
        if (TaskDefinition::sameWatch(address, task.keyword(), storedAddress, keyword))
            return true;
        qCDebug(lcStorage) << "select query is" << query.value(record.indexOf(QStringLiteral("id"))).toLongLong()
                           << keyword << storedAddress;
    }
    return false;
}

std::optional<bool> TaskRows::storedId(int taskId)
{
    // Rows whose task_id is not a plain int are handed to the same conversion a full read uses.
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query,
                         QStringLiteral("SELECT task_id FROM tasks WHERE task_id = ? OR typeof(task_id) <> 'integer' "
                                        "OR task_id NOT BETWEEN -2147483648 AND 2147483647"),
                         {taskId}))
        return std::nullopt;
    while (query.next()) {
        if (query.value(0).toInt() == taskId)
            return true;
    }
    return false;
}

std::optional<QSet<int>> TaskRows::usedIds()
{
    // A NULL or a text counts as what toInt() makes of it.
    QSet<int> used;
    for (const QString& statement : {QStringLiteral("SELECT DISTINCT task_id FROM tasks"),
                                     QStringLiteral("SELECT DISTINCT taskid FROM results")}) {
        QSqlQuery query = m_runner.query();
        if (!m_runner.select(query, statement))
            return std::nullopt;
        while (query.next())
            used.insert(query.value(0).toInt());
    }
    return used;
}

int TaskRows::freeId(int preferred, QSet<int>& used)
{
    int id = preferred;
    if (used.contains(preferred)) {
        const int largest = *std::max_element(used.cbegin(), used.cend());
        if (largest < INT_MAX) {
            id = largest + 1;
        } else {
            id = 0; // the largest id is taken: the lowest free one instead
            while (used.contains(id))
                ++id;
        }
    }
    used.insert(id);
    return id;
}

std::optional<int> TaskRows::insert(const Task& task, int taskId)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query,
                         QStringLiteral("INSERT INTO tasks(task_id, task_date, last_update, name, grabtext, frequency, "
                                        "address) VALUES(?, ?, ?, ?, ?, ?, ?)"),
                         {taskId, sqlText(task.taskDateText()), sqlText(task.lastUpdateText()), sqlText(task.name()),
                          sqlText(task.keyword()), task.frequency(), sqlText(task.address())}))
        return std::nullopt;
    return query.lastInsertId().toInt();
}

std::optional<int> TaskRows::update(const Task& task, const TaskDefinition& changed)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query,
                         byRow(QStringLiteral("UPDATE tasks SET name = ?, address = ?, grabtext = ?, frequency = ? "
                                              "WHERE %1 = ?"),
                               task),
                         {sqlText(changed.name), sqlText(changed.address), sqlText(changed.keyword), changed.frequency,
                          rowKey(task)}))
        return std::nullopt;
    return query.numRowsAffected();
}

bool TaskRows::setLastUpdate(const Task& task)
{
    // Written in local time without an offset, the form every task.db holds, whatever clock set the time.
    return m_runner.exec(QStringLiteral("UPDATE tasks SET last_update = ? WHERE task_id = ?"),
                         {sqlText(task.lastUpdate().toLocalTime().toString(Qt::ISODate)), task.taskId()});
}

bool TaskRows::remove(const Task& task)
{
    return m_runner.exec(byRow(QStringLiteral("DELETE FROM tasks WHERE %1 = ?"), task), {rowKey(task)});
}

bool TaskRows::removeAll()
{
    return m_runner.exec(QStringLiteral("DELETE FROM tasks"));
}
