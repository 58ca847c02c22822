// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/fetchrequest.h"
#include "engine/matching/readingresult.h"
#include "engine/matching/readingbudget.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_set>

// Reads downloaded pages on a pool of worker threads while the caller's thread goes on with the network and
// the pages already read: a feed's items, decoding, the link scan or the region, forming the links and the links
// to compare with the stored results. A worker gets copies of the page and the rule only, reads within a budget
// of time and memory (limits()), and its reading comes back to the caller's thread as an event. A page that comes
// while every worker is busy waits for one: no page is read on the caller's thread. A page whose reading failed or
// spent its budget is handed on as failed, with the reason. Pages are handed on in the order they were given,
// whichever is read first, unless the caller takes them as they are read. Dropping the pages (abortAll(), the
// reader's end) cancels the readings under way.
class PageReader
{
public:
    using Callback = std::function<void(const FetchedPage&)>;
    // Given: a page waits for those given before it. AsRead: a page is handed on once read, so no page and
    // no reading waits for a slower one (for a caller that takes the pages over in an order of its own).
    enum class Order
    {
        Given,
        AsRead
    };

    // workers: threads of the pool, at least one.
    explicit PageReader(int workers = QThread::idealThreadCount(), ReadingBudget::Limits limits = {});
    ~PageReader();
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // Hands the page to done with its reading by the rule, on the caller's thread, unless context has been
    // destroyed or abortAll() has run meanwhile. A page that was not read whole (a failure, a 304) is not read,
    // only kept in its place in the order.
    void read(FetchedPage page, const LinkRule& rule, QObject* context, Callback done, Order order = Order::Given);
    // A callback that reads the page it is given, then calls done, as read() does.
    Callback reading(const LinkRule& rule, QObject* context, Callback done, Order order = Order::Given);
    // Drops every page not handed on yet: none of their callbacks runs.
    void abortAll();

    int workers() const { return m_workers; }
    void setWorkers(int workers);
    ReadingBudget::Limits limits() const { return m_limits; }
    void setLimits(ReadingBudget::Limits limits) { m_limits = limits; }
    // The pages given and not handed on yet.
    int pending() const { return int(m_order.size() + m_asRead.size()); }
    // The readings a worker is at now.
    int readingsRunning() const { return m_running->load(); }
    // Called on the worker's thread with each reading made, as it ends (whether it is handed on or not).
    using Ended = std::function<void(const PageReading&)>;
    void setReadingEnded(Ended ended) { m_ended = std::move(ended); }

private:
    struct Entry
    {
        QPointer<QObject> context;
        FetchedPage page;
        Callback done;
        Order order = Order::Given;
        bool ready = false;
    };
    class Readings;
    // Hands on the pages at the head of the order that are ready; those whose context is gone are dropped.
    void deliver();
    // Hands on a page that is read, or a page not to be read, as its order allows.
    void ready(const std::shared_ptr<Entry>& entry);
    // A reading is back on the caller's thread (null when its page was dropped before it was read).
    void readingDone(const std::weak_ptr<Entry>& page, std::shared_ptr<const PageReading> reading);

    int m_workers = 1;
    ReadingBudget::Limits m_limits;
    Ended m_ended;
    QThreadPool m_pool;
    // Lives on the caller's thread and takes the readings the workers send it.
    std::unique_ptr<Readings> m_readings;
    std::deque<std::shared_ptr<Entry>> m_order;
    std::unordered_set<std::shared_ptr<Entry>> m_asRead; // the pages handed on as they are read, until then
    // Set when the readings given so far are to stop; a new one for the readings given after abortAll().
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> m_running = std::make_shared<std::atomic<int>>(0);
    // Shared with the callbacks handed out; false once the reader is gone or its pages were dropped.
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true);
};
