// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagefetch.h"
#include "engine/pagereading.h"

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <memory>
#include <unordered_set>

// Reads downloaded pages on a pool of worker threads while the caller's thread goes on with the network and
// the pages already read: decoding, the link scan, forming the links and the links to compare with the stored
// results. A worker gets copies of the page and the rule only, and its reading comes back to the caller's
// thread as an event. A page that comes while every worker is busy is read on the caller's thread at once (see
// readingsAhead()). Pages are handed on in the order they were given, whichever is read first, unless the caller
// takes them as they are read.
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

    // workers: threads of the pool; 0 reads each page on the caller's thread as it is given.
    explicit PageReader(int workers = QThread::idealThreadCount());
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
    // The most pages given to the workers and not yet back: with that many out, a page is read on the caller's
    // thread as it is given, so pages coming faster than the workers read them pile up neither bodies nor links.
    int readingsAhead() const { return m_workers * ReadingsAheadPerWorker; }

private:
    static constexpr int ReadingsAheadPerWorker = 2;
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

    int m_workers = 0;
    QThreadPool m_pool;
    // Lives on the caller's thread and takes the readings the workers send it.
    std::unique_ptr<Readings> m_readings;
    std::deque<std::shared_ptr<Entry>> m_order;
    std::unordered_set<std::shared_ptr<Entry>> m_asRead; // the pages handed on as they are read, until then
    int m_readingsOut = 0; // readings given to the workers and not yet back on the caller's thread
    // Shared with the callbacks handed out; false once the reader is gone or its pages were dropped.
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true);
};
