// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/commandwaits.h"

#include "engine/definition/task.h"

#include <QEventLoop>

namespace {
constexpr int WakeCode = 1; // how wake() ends a wait's event loop
}

void CommandWaits::get(Wait& w, const Task& task, bool conditional, PageReader::Order order, PageFetcher::Callback done)
{
    const quint64 asked = ++w.asked;
    w.awaited.emplace(asked, task.address());
    PageFetcher::Callback answered = [&w, asked, done = std::move(done)](const FetchedPage& page) {
        w.awaited.erase(asked);
        done(page);
    };
    m_source.get(task, conditional, &w.context, std::move(answered), PageFetcher::Priority::Waited, order);
}

bool CommandWaits::wait(Wait& w, const std::function<bool()>& done)
{
    m_waits.append(&w);
    while (!w.aborted && !w.cancelled && !done()) {
        QEventLoop loop;
        w.loop = &loop;
        const int code = loop.exec();
        w.loop = nullptr;
        // Ended by anything but wake(): the application is quitting, and a new loop would return at once.
        if (code != WakeCode)
            m_quit();
    }
    m_waits.removeOne(&w);
    return !w.aborted && !w.cancelled;
}

void CommandWaits::wake()
{
    for (Wait* wait : std::as_const(m_waits)) {
        if (wait->loop)
            wait->loop->exit(WakeCode);
    }
}

// Only the waits running now end: an abort that outlived them would drop every later command in silence.
void CommandWaits::abortAll()
{
    for (Wait* wait : std::as_const(m_waits))
        wait->aborted = true;
    wake();
}

void CommandWaits::cancel()
{
    for (Wait* wait : std::as_const(m_waits))
        wait->cancelled = true;
    wake();
}

QStringList CommandWaits::awaited() const
{
    QStringList addresses;
    if (m_waits.isEmpty())
        return addresses;
    addresses.reserve(qsizetype(m_waits.last()->awaited.size()));
    for (const auto& [asked, address] : m_waits.last()->awaited)
        addresses.append(address);
    return addresses;
}

bool CommandWaits::isAborting() const
{
    for (const Wait* wait : m_waits) {
        if (wait->aborted)
            return true;
    }
    return false;
}

bool CommandWaits::fetchWhole(Wait& w, const Task& task, std::optional<FetchedPage>& fetched)
{
    get(w, task, false, [this, &fetched](const FetchedPage& page) {
        fetched = page;
        wake();
    });
    return wait(w, [&fetched] { return fetched.has_value(); });
}
