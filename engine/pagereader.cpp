// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagereader.h"

#include "engine/task.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

PageReader::PageReader(int workers)
{
    setWorkers(workers);
}

PageReader::~PageReader()
{
    *m_live = false;
    m_order.clear();
    // The watchers go first, so no reading is handed on; the pool then waits for the workers still reading.
    qDeleteAll(m_watchers.children());
    m_pool.waitForDone();
}

void PageReader::setWorkers(int workers)
{
    m_workers = qMax(0, workers);
    m_pool.setMaxThreadCount(qMax(1, m_workers));
}

void PageReader::read(FetchedPage page, const LinkRule& rule, QObject* context, Callback done)
{
    if (!context) {
        done(page);
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->context = context;
    entry->done = std::move(done);
    m_order.push_back(entry);
    if (!page.ok || page.notModified) {
        entry->page = std::move(page);
        entry->ready = true;
        deliver();
        return;
    }
    if (m_workers == 0) {
        page.reading = std::make_shared<const PageReading>(Task::readPage(page, rule));
        entry->page = std::move(page);
        entry->ready = true;
        deliver();
        return;
    }
    using Reading = std::shared_ptr<const PageReading>;
    // The worker holds its own copies; they share the body with the page that waits here.
    const QFuture<Reading> future = QtConcurrent::run(
        &m_pool, [page, rule]() -> Reading { return std::make_shared<const PageReading>(Task::readPage(page, rule)); });
    entry->page = std::move(page);
    entry->watcher = new QFutureWatcher<Reading>(&m_watchers);
    QObject::connect(entry->watcher, &QFutureWatcher<Reading>::finished, entry->watcher,
                     [this, weak = std::weak_ptr<Entry>(entry)] {
                         const std::shared_ptr<Entry> ready = weak.lock();
                         if (!ready)
                             return;
                         ready->page.reading = ready->watcher->result();
                         ready->watcher->deleteLater();
                         ready->watcher = nullptr;
                         ready->ready = true;
                         deliver();
                     });
    entry->watcher->setFuture(future);
}

void PageReader::deliver()
{
    while (!m_order.empty()) {
        const std::shared_ptr<Entry> entry = m_order.front();
        // A page whose context is gone holds up no other: it is dropped as soon as it is at the head.
        if (entry->context && !entry->ready)
            return;
        m_order.pop_front();
        if (!entry->context)
            delete entry->watcher;
        else
            entry->done(entry->page);
    }
}

PageReader::Callback PageReader::reading(const LinkRule& rule, QObject* context, Callback done)
{
    // A page that arrives once the reader is gone or its pages were dropped goes nowhere.
    return [this, live = m_live, rule, context, done = std::move(done)](const FetchedPage& page) {
        if (*live)
            read(page, rule, context, done);
    };
}

void PageReader::abortAll()
{
    *m_live = false;
    m_live = std::make_shared<bool>(true);
    for (const std::shared_ptr<Entry>& entry : m_order)
        delete entry->watcher;
    m_order.clear();
}
