// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/newsstore.h"

#include "storage/sqlrunner.h"

bool NewsStore::add(const QList<OutboxEvent>& events)
{
    int dropped = 0;
    const bool stored = m_runner->inTransaction([&] { return addInside(events, &dropped); });
    if (stored)
        committed(dropped);
    return stored;
}

bool NewsStore::addInside(const QList<OutboxEvent>& events, int* dropped)
{
    return OutboxRows(*m_runner).add(events, dropped, m_maxPerDestination);
}

std::optional<QList<OutboxEvent>> NewsStore::events(int limit)
{
    return OutboxRows(*m_runner).all(limit);
}

bool NewsStore::remove(qint64 row)
{
    return m_runner->inTransaction([&] { return OutboxRows(*m_runner).remove(row); });
}

bool NewsStore::reschedule(qint64 row, int attempts, qint64 nextTry, const QString& error)
{
    return m_runner->inTransaction([&] { return OutboxRows(*m_runner).reschedule(row, attempts, nextTry, error); });
}
