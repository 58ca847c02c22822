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

template <typename T> class QFutureWatcher;

// Reads downloaded pages on a pool of worker threads while the caller's thread goes on with the network and
// the pages already read: decoding, the link scan, forming the links and the links to compare with the stored
// results. A worker gets copies of the page and the rule only, and its reading comes back to the caller's
// thread by a queued call. Pages are handed on in the order they were given, whichever is read first.
class PageReader
{
public:
    using Callback = std::function<void(const FetchedPage&)>;

    // workers: threads of the pool; 0 reads each page on the caller's thread as it is given.
    explicit PageReader(int workers = QThread::idealThreadCount());
    ~PageReader();
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // Hands the page to done with its reading by the rule, on the caller's thread, unless context has been
    // destroyed or abortAll() has run meanwhile. A page that was not read whole (a failure, a 304) is not read,
    // only kept in its place in the order.
    void read(FetchedPage page, const LinkRule& rule, QObject* context, Callback done);
    // A callback that reads the page it is given, then calls done, as read() does.
    Callback reading(const LinkRule& rule, QObject* context, Callback done);
    // Drops every page not handed on yet: none of their callbacks runs.
    void abortAll();

    int workers() const { return m_workers; }
    void setWorkers(int workers);

private:
    struct Entry
    {
        QPointer<QObject> context;
        FetchedPage page;
        Callback done;
        bool ready = false;
        QFutureWatcher<std::shared_ptr<const PageReading>>* watcher = nullptr;
    };
    // Hands on the pages at the head of the order that are ready; those whose context is gone are dropped.
    void deliver();

    int m_workers = 0;
    QThreadPool m_pool;
    // Parent of the watchers of running readings, so that none outlives the reader.
    QObject m_watchers;
    std::deque<std::shared_ptr<Entry>> m_order;
    // Shared with the callbacks handed out; false once the reader is gone or its pages were dropped.
    std::shared_ptr<bool> m_live = std::make_shared<bool>(true);
};
