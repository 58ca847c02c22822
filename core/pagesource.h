// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagefetcher.h"
#include "engine/pagerenderrunner.h"

class Task;

// Where a check gets its task's page: downloaded, or rendered by vantrel-render for a task that runs its
// page's scripts. Both hand back the same FetchedPage, so every check asks here by task and takes the page
// over the same way whichever way it came.
class PageSource
{
public:
    PageSource(PageFetcher& fetcher, PageRenderRunner& renderer) : m_fetcher(fetcher), m_renderer(renderer) {}

    // conditional: a download asks with the validators of the page as last read (a render always loads the
    // whole page). A render carries the task's headers and waits by the priority as a download does.
    void get(const Task& task, bool conditional, QObject* context, PageFetcher::Callback done,
             PageFetcher::Priority priority = PageFetcher::Priority::Waited);
    // Ends every download and render at once; no callback runs for any of them.
    void abortAll();

private:
    PageFetcher& m_fetcher;
    PageRenderRunner& m_renderer;
};
