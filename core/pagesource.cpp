// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/pagesource.h"

#include "engine/pagereading.h"
#include "engine/task.h"

void PageSource::get(const Task& task, bool conditional, QObject* context, PageFetcher::Callback done,
                     PageFetcher::Priority priority, PageReader::Order order)
{
    // A periodic check's page is taken over as it arrives, read on this thread: checks fall due a few at a time,
    // and what waits on them sees the page taken over once it has come.
    PageFetcher::Callback read = priority == PageFetcher::Priority::Background
                                     ? std::move(done)
                                     : m_reader.reading(task.linkRule(), context, std::move(done), order);
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
