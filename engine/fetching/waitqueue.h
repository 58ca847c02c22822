// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMultiHash>

#include <list>
#include <utility>

// Whom a download or render is for: the user waiting for it, or a background check.
enum class FetchPriority
{
    Background,
    Waited
};

// Downloads or renders waiting for a place: those the user waits for before every background one, each kind
// in the order asked for. Job has a ticket, a priority and a context (a QPointer: null once its owner is gone).
// Adding, taking the next and removing by ticket take constant time, so a queue of every task stays cheap.
template <typename Job> class WaitQueue
{
public:
    void add(Job job)
    {
        std::list<Job>& line = lineOf(job.priority);
        line.push_back(std::move(job));
        m_byTicket.insert(line.back().ticket, std::prev(line.end()));
    }
    // Removes every job with the ticket (a ticket is given once, so that is one at most).
    bool remove(quint64 ticket)
    {
        const QList<Iterator> found = m_byTicket.values(ticket);
        if (found.isEmpty())
            return false;
        m_byTicket.remove(ticket);
        for (const Iterator& it : found)
            lineOf(it->priority).erase(it);
        return true;
    }
    bool contains(quint64 ticket) const { return m_byTicket.contains(ticket); }
    // Drops the jobs at the front whose owner is gone; the first one left is next.
    void dropOrphans()
    {
        while (!isEmpty() && !first().context)
            takeFirst();
    }
    // Takes out the jobs pred holds for, in their order.
    template <typename Pred> QList<Job> takeIf(Pred pred)
    {
        QList<Job> taken;
        for (std::list<Job>* line : {&m_waited, &m_background}) {
            for (auto it = line->begin(); it != line->end();) {
                if (pred(*it)) {
                    forget(it);
                    taken.append(std::move(*it));
                    it = line->erase(it);
                } else {
                    ++it;
                }
            }
        }
        return taken;
    }
    // Calls f with every job, in their order.
    template <typename F> void forEach(F f) const
    {
        for (const Job& job : m_waited)
            f(job);
        for (const Job& job : m_background)
            f(job);
    }
    bool isEmpty() const { return m_waited.empty() && m_background.empty(); }
    qsizetype size() const { return qsizetype(m_waited.size() + m_background.size()); }
    const Job& first() const { return m_waited.empty() ? m_background.front() : m_waited.front(); }
    Job takeFirst()
    {
        std::list<Job>& line = m_waited.empty() ? m_background : m_waited;
        forget(line.begin());
        Job job = std::move(line.front());
        line.pop_front();
        return job;
    }
    void clear()
    {
        m_waited.clear();
        m_background.clear();
        m_byTicket.clear();
    }

private:
    using Iterator = typename std::list<Job>::iterator;

    std::list<Job>& lineOf(FetchPriority priority)
    {
        return priority == FetchPriority::Waited ? m_waited : m_background;
    }
    // Takes the entry of the job at it out of the ticket index.
    void forget(Iterator it)
    {
        for (auto entry = m_byTicket.find(it->ticket); entry != m_byTicket.end() && entry.key() == it->ticket;
             ++entry) {
            if (entry.value() == it) {
                m_byTicket.erase(entry);
                return;
            }
        }
    }

    std::list<Job> m_waited;
    std::list<Job> m_background;
    QMultiHash<quint64, Iterator> m_byTicket;
};
