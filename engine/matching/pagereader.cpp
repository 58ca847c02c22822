// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/pagereader.h"

#include "engine/definition/task.h"

#include <QCoreApplication>
#include <QEvent>

// Takes the readings the workers send, on the caller's thread.
class PageReader::Readings : public QObject
{
public:
    struct Done : QEvent
    {
        static QEvent::Type type()
        {
            static const auto registered = QEvent::Type(QEvent::registerEventType());
            return registered;
        }
        Done(std::weak_ptr<Entry> entry, std::shared_ptr<const PageReading> reading)
            : QEvent(type()), entry(std::move(entry)), reading(std::move(reading))
        {
        }
        std::weak_ptr<Entry> entry;
        std::shared_ptr<const PageReading> reading;
    };

    explicit Readings(PageReader& reader) : m_reader(reader) {}

    bool event(QEvent* event) override
    {
        if (event->type() != Done::type())
            return QObject::event(event);
        auto* done = static_cast<Done*>(event);
        m_reader.readingDone(done->entry, std::move(done->reading));
        return true;
    }

private:
    PageReader& m_reader;
};

PageReader::PageReader(int workers, ReadingBudget::Limits limits)
    : m_limits(limits), m_readings(std::make_unique<Readings>(*this))
{
    setWorkers(workers);
}

PageReader::~PageReader()
{
    *m_live = false;
    *m_cancel = true;
    m_order.clear();
    m_asRead.clear();
    // The workers end first: a page dropped before its turn is not read, a reading under way stops at its next
    // look at its budget. The readings they sent go unread with m_readings.
    m_pool.clear();
    m_pool.waitForDone();
}

void PageReader::setWorkers(int workers)
{
    m_workers = qMax(1, workers);
    m_pool.setMaxThreadCount(m_workers);
}

void PageReader::read(FetchedPage page, const LinkRule& rule, QObject* context, Callback done, Order order)
{
    if (!context) {
        done(page);
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->context = context;
    entry->done = std::move(done);
    entry->order = order;
    if (order == Order::Given)
        m_order.push_back(entry);
    else
        m_asRead.insert(entry);
    const bool toRead = page.ok && !page.notModified;
    entry->page = std::move(page);
    if (!toRead) {
        ready(entry);
        return;
    }
    // The worker holds its own copies; they share the body with the page that waits here. A page that comes while
    // every worker is busy waits in the pool's queue.
    m_pool.start([page = entry->page, rule, weak = std::weak_ptr<Entry>(entry), to = m_readings.get(),
                  limits = m_limits, cancel = m_cancel, running = m_running, ended = m_ended] {
        // A page dropped meanwhile is not read; expired() is an atomic look at the page's owners.
        std::shared_ptr<const PageReading> reading;
        if (!weak.expired() && !cancel->load()) {
            ++*running;
            {
                const ReadingBudget budget(limits, cancel);
                reading = std::make_shared<const PageReading>(Task::readPage(page, rule));
            }
            if (ended)
                ended(*reading);
            --*running;
        }
        QCoreApplication::postEvent(to, new Readings::Done(weak, std::move(reading)));
    });
}

void PageReader::readingDone(const std::weak_ptr<Entry>& page, std::shared_ptr<const PageReading> reading)
{
    // A page dropped meanwhile (abortAll) is no longer waited for: its reading goes nowhere.
    const std::shared_ptr<Entry> entry = page.lock();
    if (!entry || !reading)
        return;
    FetchedPage& read = entry->page;
    if (!reading->error.isEmpty()) {
        read.ok = false;
        read.error = reading->error;
        read.body.clear();
    } else {
        read.feed = reading->feed;
        read.feedItems = reading->feedItems;
        read.reading = std::move(reading);
    }
    ready(entry);
}

void PageReader::ready(const std::shared_ptr<Entry>& entry)
{
    entry->ready = true;
    if (entry->order == Order::Given) {
        deliver();
        return;
    }
    m_asRead.erase(entry);
    if (entry->context)
        entry->done(entry->page);
}

void PageReader::deliver()
{
    while (!m_order.empty()) {
        const std::shared_ptr<Entry> entry = m_order.front();
        // A page whose context is gone holds up no other: it is dropped as soon as it is at the head.
        if (entry->context && !entry->ready)
            return;
        m_order.pop_front();
        if (entry->context)
            entry->done(entry->page);
    }
}

PageReader::Callback PageReader::reading(const LinkRule& rule, QObject* context, Callback done, Order order)
{
    // A page that arrives once the reader is gone or its pages were dropped goes nowhere.
    return [this, live = m_live, rule, context, done = std::move(done), order](const FetchedPage& page) {
        if (*live)
            read(page, rule, context, done, order);
    };
}

void PageReader::abortAll()
{
    *m_live = false;
    m_live = std::make_shared<bool>(true);
    *m_cancel = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    // The readings still out come back to no page.
    m_order.clear();
    m_asRead.clear();
}
