// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

#include <algorithm>
#include <utility>

// Whom a download or render is for: the user waiting for it, or a background check.
enum class FetchPriority
{
    Background,
    Waited
};

// Downloads or renders waiting for a place: those the user waits for before every background one, each kind
// in the order asked for. Job has a ticket, a priority and a context (a QPointer: null once its owner is gone).
template <typename Job> class WaitQueue
{
public:
    void add(Job job)
    {
        auto at = m_jobs.end();
        if (job.priority == FetchPriority::Waited)
            at = std::find_if(m_jobs.begin(), m_jobs.end(),
                              [](const Job& waiting) { return waiting.priority == FetchPriority::Background; });
        m_jobs.insert(at, std::move(job));
    }
    bool remove(quint64 ticket)
    {
        return m_jobs.removeIf([ticket](const Job& job) { return job.ticket == ticket; }) > 0;
    }
    // Drops the jobs at the front whose owner is gone; the first one left is next.
    void dropOrphans()
    {
        while (!m_jobs.isEmpty() && !m_jobs.first().context)
            m_jobs.removeFirst();
    }
    // Takes out the jobs pred holds for, in their order.
    template <typename Pred> QList<Job> takeIf(Pred pred)
    {
        QList<Job> taken;
        for (auto it = m_jobs.begin(); it != m_jobs.end();) {
            if (pred(*it)) {
                taken.append(std::move(*it));
                it = m_jobs.erase(it);
            } else {
                ++it;
            }
        }
        return taken;
    }
    bool isEmpty() const { return m_jobs.isEmpty(); }
    qsizetype size() const { return m_jobs.size(); }
    const Job& first() const { return m_jobs.first(); }
    Job takeFirst() { return m_jobs.takeFirst(); }
    void clear() { m_jobs.clear(); }
    auto begin() const { return m_jobs.cbegin(); }
    auto end() const { return m_jobs.cend(); }

private:
    QList<Job> m_jobs;
};
