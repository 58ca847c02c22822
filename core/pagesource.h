// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/pagefetcher.h"
#include "engine/matching/pagereader.h"
#include "engine/rendering/pagerenderrunner.h"

class Task;

// Where a check gets its task's page: downloaded, or rendered by vantrel-render for a task that runs its
// page's scripts. Both hand back the same FetchedPage, so every check asks here by task and takes the page
// over the same way whichever way it came. A page comes with its links read by the task's rule as it was when the
// page was asked for, on a worker thread while the other pages are still on their way (see PageReader).
class PageSource
{
public:
    PageSource(PageFetcher& fetcher, PageRenderRunner& renderer) : m_fetcher(fetcher), m_renderer(renderer) {}

    // conditional: a download asks with the validators of the page as last read (a render always loads the
    // whole page). A render carries the task's headers and waits by the priority as a download does. order: how the
    // pages a command waits for are handed on (see PageReader).
    void get(const Task& task, bool conditional, QObject* context, PageFetcher::Callback done,
             PageFetcher::Priority priority = PageFetcher::Priority::Waited,
             PageReader::Order order = PageReader::Order::Given);
    // Ends every download, render and reading at once; no callback runs for any of them.
    void abortAll();

    PageReader& reader() { return m_reader; }

private:
    PageFetcher& m_fetcher;
    PageRenderRunner& m_renderer;
    PageReader m_reader;
};
