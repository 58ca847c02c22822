// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/outboxrows.h"

#include "storage/sqlrunner.h"

#include <QSet>
#include <QSqlQuery>

bool OutboxRows::add(const QList<OutboxEvent>& events, int* dropped, int maxPerDestination)
{
    QSet<QString> destinations;
    for (const OutboxEvent& event : events) {
        if (!m_runner.exec(QStringLiteral("INSERT OR IGNORE INTO news_outbox(event_id, task_id, destination, payload, "
                                          "attempts, next_try, last_error) VALUES(?, ?, ?, ?, ?, ?, ?)"),
                           {event.eventId, event.taskId, event.destination, event.payload, event.attempts,
                            event.nextTry, sqlText(event.lastError)}))
            return false;
        destinations.insert(event.destination);
    }
    int pushedOut = 0;
    for (const QString& destination : std::as_const(destinations)) {
        const std::optional<int> count = countFor(destination);
        if (!count)
            return false;
        if (*count <= maxPerDestination)
            continue;
        if (!m_runner.exec(QStringLiteral("DELETE FROM news_outbox WHERE id IN (SELECT id FROM news_outbox WHERE "
                                          "destination = ? ORDER BY id LIMIT ?)"),
                           {destination, *count - maxPerDestination}))
            return false;
        pushedOut += *count - maxPerDestination;
    }
    if (dropped)
        *dropped = pushedOut;
    return true;
}

std::optional<QList<OutboxEvent>> OutboxRows::all(int limit)
{
    SqlRunner::Rows rows = m_runner.rows(QStringLiteral("SELECT id, event_id, task_id, destination, payload, attempts, "
                                                        "next_try, last_error FROM news_outbox ORDER BY id LIMIT ?"),
                                         {limit});
    if (!rows.ready())
        return std::nullopt;
    QList<OutboxEvent> events;
    while (rows.next()) {
        OutboxEvent event;
        event.row = rows.number64(0);
        event.eventId = rows.text(1);
        event.taskId = rows.number(2);
        event.destination = rows.text(3);
        event.payload = rows.text(4);
        event.attempts = rows.number(5);
        event.nextTry = rows.number64(6);
        event.lastError = rows.text(7);
        events.append(event);
    }
    if (!rows.done())
        return std::nullopt;
    return events;
}

bool OutboxRows::remove(qint64 row)
{
    return m_runner.exec(QStringLiteral("DELETE FROM news_outbox WHERE id = ?"), {row});
}

bool OutboxRows::reschedule(qint64 row, int attempts, qint64 nextTry, const QString& error)
{
    return m_runner.exec(
        QStringLiteral("UPDATE news_outbox SET attempts = ?, next_try = ?, last_error = ? WHERE id = ?"),
        {attempts, nextTry, sqlText(error), row});
}

std::optional<int> OutboxRows::countFor(const QString& destination)
{
    QSqlQuery query = m_runner.query();
    if (!m_runner.select(query, QStringLiteral("SELECT count(*) FROM news_outbox WHERE destination = ?"),
                         {destination}) ||
        !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}
