// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/pagesource.h"

#include "engine/definition/task.h"
#include "engine/matching/readingresult.h"

void PageSource::get(const Task& task, bool conditional, QObject* context, PageFetcher::Callback done,
                     PageFetcher::Priority priority, PageReader::Order order)
{
    // Every page is read on a worker: a periodic check's page is taken over as soon as it is read, whatever the
    // order asked for.
    PageFetcher::Callback read =
        m_reader.reading(task.linkRule(), context, std::move(done),
                         priority == PageFetcher::Priority::Background ? PageReader::Order::AsRead : order);
    if (task.runsScripts())
        m_renderer.render(task.fetchRequest(false), context, std::move(read), priority);
    else
        m_fetcher.fetch(task.fetchRequest(conditional), context, std::move(read), priority);
}

void PageSource::abortAll()
{
    m_fetcher.abortAll();
    m_renderer.abortAll();
    m_reader.abortAll();
}
