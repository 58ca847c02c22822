// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/pagesource.h"

#include "engine/task.h"

void PageSource::get(const Task& task, bool conditional, QObject* context, PageFetcher::Callback done,
                     PageFetcher::Priority priority)
{
    if (task.runsScripts())
        m_renderer.render(task.fetchRequest(false), context, std::move(done), priority);
    else
        m_fetcher.fetch(task.fetchRequest(conditional), context, std::move(done), priority);
}

void PageSource::abortAll()
{
    m_fetcher.abortAll();
    m_renderer.abortAll();
}
