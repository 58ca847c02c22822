// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/pagesource.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <utility>

class QEventLoop;

// The waits of the commands that wait for pages. Every wait runs the event loop (the periodic checks and their
// deliveries go on meanwhile); a command that returns drops the answers still to come with its wait.
class CommandWaits
{
public:
    // One command's wait. Its requests have context as their context: when the command returns, the answers
    // still to come are dropped (no callback reaches the command's locals after it).
    struct Wait
    {
        QEventLoop* loop = nullptr;
        bool aborted = false;
        bool cancelled = false;
        QObject context;
        // The addresses asked for and not answered yet, by the order they were asked in: an answer takes its own
        // out without a search, whatever the number of pages.
        std::map<quint64, QString> awaited;
        quint64 asked = 0;
    };

    // quit: what ends every wait and download when the event loop is told to quit (the program ends).
    CommandWaits(PageSource& source, std::function<void()> quit) : m_source(source), m_quit(std::move(quit)) {}

    // Asks for the task's page for the command waiting by w; the address is awaited until done runs. The pages
    // are handed on in the order they were asked for, or by order (see PageReader).
    void get(Wait& w, const Task& task, bool conditional, PageFetcher::Callback done)
    {
        get(w, task, conditional, PageReader::Order::Given, std::move(done));
    }
    void get(Wait& w, const Task& task, bool conditional, PageReader::Order order, PageFetcher::Callback done);
    // Runs the event loop until done() holds, abortAll() or cancel() is called; false when ended so
    // (w.aborted or w.cancelled says which).
    bool wait(Wait& w, const std::function<bool()>& done);
    // Waits for the whole page of the task (never "not modified"); false when the wait was ended (w says how).
    // The page is delivered into fetched, which must live as long as w.
    bool fetchWhole(Wait& w, const Task& task, std::optional<FetchedPage>& fetched);
    // Lets every wait look at its done() again.
    void wake();
    // Ends every wait running now (their downloads are the caller's to abort).
    void abortAll();
    void cancel();
    bool isAborting() const;
    // The addresses the latest wait still waits for, in the order they were asked for.
    QStringList awaited() const;

private:
    PageSource& m_source;
    std::function<void()> m_quit;
    QList<Wait*> m_waits;
};
