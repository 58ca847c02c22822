// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/bodybudget.h"

void BodyBudget::setMaxBytes(qint64 bytes)
{
    m_maxBytes = bytes > 0 ? bytes : DefaultMaxBytes;
}

void BodyBudget::hold(qint64 bytes)
{
    m_heldBytes += bytes;
    m_peakHeldBytes = qMax(m_peakHeldBytes, m_heldBytes);
}

bool BodyBudget::mayBegin(bool waited) const
{
    return m_committed < m_maxBytes || (waited && m_runningWaited == 0);
}

void BodyBudget::begin(quint64 ticket, bool waited)
{
    if (!m_running.emplace(ticket, Download{waited}).second)
        return;
    m_runningWaited += waited ? 1 : 0;
}

void BodyBudget::announce(quint64 ticket, qint64 length)
{
    const auto it = m_running.find(ticket);
    if (it == m_running.end() || length < 0)
        return;
    m_committed -= it->second.committed();
    it->second.announced = length;
    m_committed += it->second.committed();
}

bool BodyBudget::mayRead(quint64 ticket) const
{
    if (m_running.empty())
        return false;
    // The oldest download always goes on, and so does the oldest one the user waits for, so bodies keep
    // being completed and handed over.
    const auto oldest = m_running.begin();
    auto oldestWaited = oldest;
    while (oldestWaited != m_running.end() && !oldestWaited->second.waited)
        ++oldestWaited;
    if (ticket == oldest->first || (oldestWaited != m_running.end() && ticket == oldestWaited->first))
        return true;
    const auto remaining = [](const Download& download) {
        return qMax<qint64>(0, download.announced - download.received);
    };
    qint64 reserve = remaining(oldest->second);
    if (oldestWaited != m_running.end() && oldestWaited != oldest)
        reserve += remaining(oldestWaited->second);
    return m_heldBytes + reserve < m_maxBytes;
}

void BodyBudget::receive(quint64 ticket, qint64 bytes)
{
    const auto it = m_running.find(ticket);
    if (it == m_running.end() || bytes <= 0)
        return;
    m_committed -= it->second.committed();
    it->second.received += bytes;
    m_committed += it->second.committed();
    hold(bytes);
}

void BodyBudget::end(quint64 ticket, qint64 delivered)
{
    const auto it = m_running.find(ticket);
    if (it == m_running.end())
        return;
    m_committed -= it->second.committed();
    m_runningWaited -= it->second.waited ? 1 : 0;
    hold(delivered - it->second.received);
    m_running.erase(it);
}

void BodyBudget::release(qint64 delivered)
{
    m_heldBytes -= delivered;
}
