// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <csignal>
#include <memory>
#include <optional>

struct _xmlParserCtxt;
struct _xmlXPathContext;

// What one reading of untrusted input (a page's link scan, a feed, a region) may spend: CPU time of its thread and
// memory that libxml2 allocates for it beyond the page. A budget is the thread's own while it lives: the readers
// ask it whether to carry on inside their loops, and libxml2's allocations on the thread are counted against it
// (see initLibxml()). Once spent, or once its cancel flag is set, it stays spent: carryOn() answers false, a parser
// it watches builds no more of its tree and stops where it looks, and an XPath evaluation it watches ends at its
// next step. Allocations are counted, never refused (libxml2 does not recover from a refused one everywhere).
// What one reading may spend: CPU time of its thread, and memory beyond the page.
struct ReadingLimits
{
    static constexpr qint64 DefaultCpuNs = 5'000'000'000LL;
    static constexpr qint64 DefaultMemoryBytes = 256LL * 1024 * 1024;
    qint64 cpuNs = DefaultCpuNs;
    qint64 memoryBytes = DefaultMemoryBytes;
};

class ReadingBudget
{
public:
    using Limits = ReadingLimits;
    enum class Spent
    {
        No,
        Time,
        Memory,
        Cancelled
    };
    using Cancel = std::shared_ptr<const std::atomic<bool>>;

    explicit ReadingBudget(Limits limits = {}, Cancel cancel = {});
    ~ReadingBudget();
    ReadingBudget(const ReadingBudget&) = delete;
    ReadingBudget& operator=(const ReadingBudget&) = delete;

    // Whether the reading may go on; looks at the clock every few calls.
    bool carryOn();
    Spent spent() const { return m_spent; }
    // Why the reading was abandoned, e.g. "the region took too long to evaluate" for ("region", "evaluate");
    // empty while the budget lasts.
    QString reason(const QString& what, const QString& doing) const;
    qint64 memoryUsed() const { return m_memory; }
    // The page read takes this much libxml2 memory of its own (its copy, its tree), allowed beyond the limit.
    void allowPage(qint64 bytes) { m_page += bytes; }

    // The budget of the reading running on this thread, or null.
    static ReadingBudget* current();
    // current()'s answer, true on a thread without a budget.
    static bool carryOnHere();

    // While an XPath evaluation runs under the budget: it is stopped at its next step once the budget is spent.
    void watchXPath(_xmlXPathContext* context);
    // While a parser runs under the budget: once the budget is spent it adds nothing to its tree and ends.
    void watchParser(_xmlParserCtxt* parser);

    class Here;

    // Counted by libxml2's allocation hooks; an allocation past the memory spends the budget.
    void allocated(qint64 bytes);
    void freed(qint64 bytes) { m_memory -= bytes; }
    // Ends the reading for the reason, as a reader that finds its own bound passed does.
    void spend(Spent why);
    // Called by the budget's CPU-time timer on its thread: stops the work under way at once.
    void timeIsUp();
    ReadingBudget* outer() const { return m_outer; }

private:
    bool checkClock();
    // Stops the parser and the XPath evaluation under way, if any, at their next step.
    void stopWork();

    Limits m_limits;
    Cancel m_cancel;
    qint64 m_startNs = 0;
    qint64 m_memory = 0;
    qint64 m_page = 0;
    qint64 m_sinceClock = 0; // bytes allocated since the clock was last read
    unsigned m_calls = 0;
    Spent m_spent = Spent::No;
    _xmlXPathContext* m_xpath = nullptr;
    _xmlParserCtxt* m_parser = nullptr;
    ReadingBudget* m_outer = nullptr;
    std::optional<void*> m_timer; // the POSIX timer of the CPU time, when it could be made
    volatile sig_atomic_t m_timeUp = 0;
};

// The current budget, or one of the default limits for the scope when the thread has none.
class ReadingBudget::Here
{
public:
    Here();
    ReadingBudget& operator*() const { return *m_budget; }
    ReadingBudget* operator->() const { return m_budget; }

private:
    std::optional<ReadingBudget> m_own;
    ReadingBudget* m_budget;
};

// Sets up libxml2 once per process: its allocations are counted against the reading budget of their thread, then
// the parser's global state.
void initLibxml();
