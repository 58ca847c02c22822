// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <optional>

class SqlRunner;

// One announcement waiting to reach one destination: written with the results it tells of, gone once
// delivered. The event id stays the same for every try, so a receiver can drop a repeat.
struct OutboxEvent
{
    qint64 row = 0;      // its row, given when stored
    int taskId = 0;      // the task it tells of (0: none, such as a test)
    QString eventId;     // the same for every destination of one piece of news
    QString destination; // where it goes, as NewsDestination::key() writes it
    QString payload;     // the JSON delivered
    int attempts = 0;    // tries that failed so far
    qint64 nextTry = 0;  // milliseconds since the epoch (UTC); 0: at once
    QString lastError;   // why the last try failed
};

// The rows of the news_outbox table. Every function runs inside the caller's transaction.
class OutboxRows
{
public:
    // The most events that wait for one destination; a new one past that pushes out the oldest.
    static constexpr int MaxPerDestination = 1000;

    explicit OutboxRows(SqlRunner& runner) : m_runner(runner) {}

    // Stores the events; *dropped counts the oldest events pushed out by them. An event already waiting for the
    // same destination is not stored twice.
    bool add(const QList<OutboxEvent>& events, int* dropped, int maxPerDestination = MaxPerDestination);
    // Every waiting event, oldest first, at most limit of them; nullopt when unreadable (no such table).
    std::optional<QList<OutboxEvent>> all(int limit = -1);
    bool remove(qint64 row);
    // Notes a failed try: the count of tries, the moment of the next and why.
    bool reschedule(qint64 row, int attempts, qint64 nextTry, const QString& error);
    // Events waiting per destination.
    std::optional<int> countFor(const QString& destination);

private:
    SqlRunner& m_runner;
};
