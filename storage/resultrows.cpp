// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/resultrows.h"

#include "storage/logging.h"
#include "storage/sqlrunner.h"

#include <QSqlQuery>

namespace {
const QString kInsert = QStringLiteral("INSERT INTO results(taskid, result_date, text, link, result_state) "
                                       "VALUES(?, ?, ?, ?, ?)");
const QString kByLink = QStringLiteral("SELECT text, link, taskid FROM results WHERE link = ?");
const QString kRemoveOne = QStringLiteral("DELETE FROM results WHERE taskid =? AND text=? AND link=?");

void bindResult(QSqlQuery& query, const Task::TaskResult& result, int taskId)
{
    query.addBindValue(taskId);
    query.addBindValue(sqlText(result.date.toString(TaskDateFormat)));
    query.addBindValue(sqlText(result.text));
    query.addBindValue(sqlText(result.link));
    query.addBindValue(result.state);
}

// A result dated `date` is old when date + days lies before today; an unparsable date counts as old.
bool isOld(const QDate& date, int days, const QDate& today)
{
    if (!date.isValid())
        return true;
    return date.toJulianDay() + qint64(days) < today.toJulianDay();
}

// A time of day as "HH:mm:ss" reads. Most rows hold it just so, or none (a result stored before times were kept),
// and Qt's format parser costs more than the rest of the row: those are read here, anything else by Qt.
QTime timeOf(const QString& text)
{
    if (text.isEmpty())
        return QTime();
    // The two digits at at, or -1.
    const auto number = [&text](qsizetype at) {
        const char16_t tens = text.at(at).unicode(), ones = text.at(at + 1).unicode();
        const auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
        return digit(tens) && digit(ones) ? int(tens - u'0') * 10 + int(ones - u'0') : -1;
    };
    if (text.size() == 8 && text.at(2) == u':' && text.at(5) == u':') {
        const int hour = number(0), minute = number(3), second = number(6);
        if (hour >= 0 && minute >= 0 && second >= 0)
            return QTime(hour, minute, second);
    }
    return QTime::fromString(text, QStringLiteral("HH:mm:ss"));
}

// "?, ?, ..." for count values.
QString marks(qsizetype count, const QString& mark)
{
    return QStringList(count, mark).join(QStringLiteral(", "));
}
} // namespace

std::optional<ResultRows::Summary> ResultRows::summarize()
{
    // Grouped by the raw values of taskid, as few as the tasks, read as numbers here as for a record. A state is
    // unread when it reads as 0: NULL and a text that is no number count too.
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query, QStringLiteral("SELECT taskid, COUNT(*) FILTER (WHERE IFNULL(result_state, 0) = 0 OR "
                                               "typeof(result_state) = 'text'), MAX(id) FROM results GROUP BY taskid")))
        return std::nullopt;
    Summary summary;
    while (query.next()) {
        const QVariant key = query.value(0);
        const int taskId = key.toInt();
        summary.keys[taskId].append(key);
        summary.unread[taskId] += query.value(1).toInt();
        summary.lastRow = qMax(summary.lastRow, query.value(2).toLongLong());
    }
    return summary;
}

std::optional<qint64> ResultRows::lastRow()
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query, QStringLiteral("SELECT MAX(id) FROM results")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

std::optional<Task::ResultList> ResultRows::loadOf(const QVariantList& keys, int taskId, Known& known)
{
    // Almost always the one key, the id itself, found through the index on taskid.
    QStringList match;
    QVariantList values;
    for (const QVariant& key : keys) {
        if (key.isNull()) {
            match.append(QStringLiteral("taskid IS NULL"));
            continue;
        }
        match.append(QStringLiteral("taskid = ?"));
        values.append(key);
    }
    // Read through SQLite's own calls: a task's rows are read by the thousand while pages wait, and a row costs
    // half as much without a variant per column. A file an older copy wrote (opened read-only) may hold no times.
    if (!known.times)
        known.times = hasTimes();
    const bool times = *known.times;
    SqlRunner::Rows rows =
        m_runner.rows(QStringLiteral("SELECT id, result_date, text, link, result_state%1 FROM results%2 WHERE %3 "
                                     "ORDER BY id DESC")
                          .arg(times ? QStringLiteral(", found_at") : QString(),
                               times ? QStringLiteral(" LEFT JOIN result_times ON result_id = id") : QString(),
                               match.join(QStringLiteral(" OR "))),
                      values);
    if (!rows.ready())
        return std::nullopt;
    const int row = rows.column("id");
    const int date = rows.column("result_date");
    const int text = rows.column("text");
    const int link = rows.column("link");
    const int state = rows.column("result_state");
    const int foundAt = rows.column("found_at");
    Task::ResultList results;
    while (rows.next()) {
        const QString dateText = rows.text(date);
        auto parsed = known.dates.constFind(dateText);
        if (parsed == known.dates.constEnd())
            parsed = known.dates.insert(dateText, QDate::fromString(dateText, TaskDateFormat));
        auto result = Task::ResultPtr::create(
            Task::TaskResult{taskId, *parsed, rows.text(text), rows.text(link), rows.number(state)});
        // Rows are numbered in the order they were stored, which is the order they were found.
        result->found = rows.number64(row);
        if (foundAt >= 0)
            result->time = timeOf(rows.text(foundAt));
        results.append(result);
    }
    if (!rows.done())
        return std::nullopt;
    return results;
}

bool ResultRows::hasTimes()
{
    QSqlQuery query = m_runner.query();
    return m_runner.select(query, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = "
                                                 "'result_times'")) &&
           query.next();
}

std::optional<bool> ResultRows::stored(const Task::TaskResult& result)
{
    QSqlQuery byLink = m_runner.query();
    return stored(result, byLink);
}

std::optional<bool> ResultRows::stored(const Task::TaskResult& result, QSqlQuery& byLink)
{
    QSqlQuery emptyLink = m_runner.query();
    QSqlQuery& query = result.link.isEmpty() ? emptyLink : byLink;
    bool found = false;
    if (result.link.isEmpty()) {
        found = m_runner.select(query, QStringLiteral("SELECT text, link, taskid FROM results "
                                                      "WHERE link = '' OR link IS NULL"));
    } else {
        // Prepared once for all the records of one write.
        if (query.lastQuery().isEmpty() && !m_runner.prepare(query, kByLink))
            return std::nullopt;
        query.addBindValue(result.link);
        found = m_runner.run(query);
    }
    if (!found)
        return std::nullopt;
    // The task is compared as loading reads it, so a row counts for the task it is loaded into.
    while (query.next()) {
        if (query.value(0).toString() == result.text && query.value(1).toString() == result.link &&
            query.value(2).toInt() == result.taskId)
            return true;
    }
    return false;
}

bool ResultRows::insertAll(const Task::ResultList& results, int taskId)
{
    return insert(results, taskId);
}

bool ResultRows::insertNew(const Task::ResultList& results)
{
    return insert(results, std::nullopt);
}

bool ResultRows::insert(const Task::ResultList& results, std::optional<int> underId)
{
    QSqlQuery insert = m_runner.query();
    if (!m_runner.prepare(insert, kInsert))
        return false;
    QSqlQuery byLink = m_runner.query();
    for (const Task::ResultPtr& result : results) {
        if (!result)
            continue;
        // A link with the same text is stored once for its task, whichever task found it first.
        const std::optional<bool> exists = underId ? std::optional(false) : stored(*result, byLink);
        if (!exists)
            return false;
        if (*exists)
            continue;
        bindResult(insert, *result, underId.value_or(result->taskId));
        if (!m_runner.run(insert))
            return false;
    }
    return true;
}

bool ResultRows::setStates(const Task::ResultList& results, int state)
{
    // SQLite takes at most 32,766 values a statement; two a result, and three more.
    constexpr int PerStatement = 10000;
    QHash<int, Task::ResultList> byTask;
    for (const Task::ResultPtr& result : results)
        byTask[result->taskId].append(result);
    for (auto it = byTask.cbegin(); it != byTask.cend(); ++it) {
        for (qsizetype from = 0; from < it->size(); from += PerStatement) {
            const Task::ResultList part = it->mid(from, PerStatement);
            QVariantList values{state, it.key()};
            for (const Task::ResultPtr& result : part)
                values << sqlText(result->text) << sqlText(result->link);
            if (!m_runner.exec(QStringLiteral("UPDATE results SET result_state = ? WHERE taskid = ? AND "
                                              "(text, link) IN (VALUES %1)")
                                   .arg(marks(part.size(), QStringLiteral("(?, ?)"))),
                               values))
                return false;
        }
    }
    return true;
}

bool ResultRows::markRead(int taskId)
{
    return m_runner.exec(QStringLiteral("UPDATE results SET result_state = ? WHERE taskid = ? AND "
                                        "(result_state IS NULL OR result_state <> ?)"),
                         {int(StateRead), taskId, int(StateRead)});
}

bool ResultRows::remove(const Task::ResultList& results)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.prepare(query, kRemoveOne))
        return false;
    for (const Task::ResultPtr& result : results) {
        query.addBindValue(result->taskId);
        query.addBindValue(sqlText(result->text));
        query.addBindValue(sqlText(result->link));
        if (!m_runner.run(query))
            return false;
    }
    return true;
}

bool ResultRows::removeOf(int taskId)
{
    return m_runner.exec(QStringLiteral("DELETE FROM results WHERE taskid = ?"), {taskId});
}

bool ResultRows::removeAll()
{
    return m_runner.exec(QStringLiteral("DELETE FROM results"));
}

bool ResultRows::removeOld(int days, const QDate& today)
{
    // Deletion goes by date text, so each distinct text is judged once.
    QStringList oldDates;
    {
        QSqlQuery dates = m_runner.query();
        if (!m_runner.select(dates, QStringLiteral("SELECT DISTINCT result_date FROM results")))
            return false;
        while (dates.next()) {
            // A NULL date reads as an empty text, but no "result_date = text" matches it: it stays.
            if (dates.value(0).isNull())
                continue;
            const QString dateText = dates.value(0).toString();
            const QDate date = QDate::fromString(dateText, TaskDateFormat);
            qCDebug(lcStorage) << "date is" << date.toString();
            if (isOld(date, days, today))
                oldDates.append(dateText);
        }
    }
    // One pass over the table per chunk of dates (no index on the date: it would slow every insert for
    // the sake of a deletion that runs once at start-up). 500 stays below every SQLite's variable limit.
    const int chunk = 500;
    for (qsizetype from = 0; from < oldDates.size(); from += chunk) {
        const QStringList dates = oldDates.mid(from, chunk);
        const QVariantList values(dates.cbegin(), dates.cend());
        if (!m_runner.exec(QStringLiteral("DELETE FROM results WHERE result_date IN (%1)")
                               .arg(marks(dates.size(), QStringLiteral("?"))),
                           values))
            return false;
    }
    return true;
}
