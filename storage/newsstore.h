// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/outboxrows.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

class SqlRunner;

// task.db's outbox as the delivery of news uses it: events stored (one transaction each call), read oldest
// first, removed once delivered, rescheduled after a failed try. It shares the connection of the task.db it
// belongs to, which also writes news inside its own transactions (see add()).
class NewsStore
{
public:
    explicit NewsStore(std::shared_ptr<SqlRunner> runner) : m_runner(std::move(runner)) {}

    bool add(const QList<OutboxEvent>& events);
    // The same inside the caller's transaction; the events pushed out count once it commits (see committed()).
    bool addInside(const QList<OutboxEvent>& events, int* dropped);
    void committed(int dropped) { m_dropped += dropped; }
    // Every waiting event, oldest first, at most limit of them; nullopt when the outbox cannot be read.
    std::optional<QList<OutboxEvent>> events(int limit = -1);
    bool remove(qint64 row);
    bool reschedule(qint64 row, int attempts, qint64 nextTry, const QString& error);
    // The events pushed out of a full outbox since the last call (the oldest of a destination go first).
    int takeDropped() { return std::exchange(m_dropped, 0); }
    // The bound of a destination's waiting events.
    void setMaxPerDestination(int count) { m_maxPerDestination = count; }

private:
    std::shared_ptr<SqlRunner> m_runner;
    int m_dropped = 0;
    int m_maxPerDestination = OutboxRows::MaxPerDestination;
};
