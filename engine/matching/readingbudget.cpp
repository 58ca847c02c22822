// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/readingbudget.h"

#include <QCoreApplication>

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>
#include <libxml/xpath.h>

#include <malloc.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
thread_local ReadingBudget* t_budget = nullptr;

// How often the clock is read: every so many questions or allocations, or after so many bytes allocated.
constexpr unsigned CallsPerClock = 64;
constexpr qint64 BytesPerClock = 4 * 1024 * 1024;

// The signal of the CPU-time timers of the budgets, delivered to the thread whose time ran out.
int timerSignal()
{
    return SIGRTMIN + 7;
}

// On the thread whose budget's time is up, between any two of its instructions: libxml2 loops that neither
// allocate nor evaluate an XPath step (a node set merged into another) are stopped too.
void onTimeUp(int, siginfo_t* info, void*)
{
    for (ReadingBudget* budget = t_budget; budget; budget = budget->outer()) {
        if (budget == info->si_value.sival_ptr) {
            budget->timeIsUp();
            return;
        }
    }
}

qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// libxml2's allocations: what the allocator really gives (malloc_usable_size) is counted, so a block allocated
// before the hooks were set or on another thread is freed as well. No allocation is ever refused: libxml2's XPath
// (2.9) frees twice after a refused one. A budget that an allocation spends stops the work at its next step
// instead (see ReadingBudget::spend()), so a reading passes its memory by at most one step's allocation.
void* countedMalloc(size_t size)
{
    void* block = std::malloc(size);
    if (block && t_budget)
        t_budget->allocated(qint64(malloc_usable_size(block)));
    return block;
}

void countedFree(void* block)
{
    if (block && t_budget)
        t_budget->freed(qint64(malloc_usable_size(block)));
    std::free(block);
}

void* countedRealloc(void* block, size_t size)
{
    ReadingBudget* budget = t_budget;
    const qint64 before = block && budget ? qint64(malloc_usable_size(block)) : 0;
    void* moved = std::realloc(block, size);
    if (budget && moved) {
        budget->freed(before);
        budget->allocated(qint64(malloc_usable_size(moved)));
    }
    return moved;
}

char* countedStrdup(const char* text)
{
    const size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(countedMalloc(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}
} // namespace

void initLibxml()
{
    static const bool done = [] {
        struct sigaction action{};
        action.sa_sigaction = onTimeUp;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(timerSignal(), &action, nullptr);
        // A page's tree is many small blocks: merged with their neighbours as they are freed, in the order the
        // tree holds them, rather than kept in the allocator's fast lists and merged in one pass at its next large
        // allocation, which misses the cache at every block (a third of the reading of a large page). Small
        // blocks freed and taken again at once still come from the allocator's per-thread cache.
        mallopt(M_MXFAST, 0);
        xmlGcMemSetup(countedFree, countedMalloc, countedMalloc, countedRealloc, countedStrdup);
        xmlInitParser();
        // Buffers grow by doubling on threads started from now on (the default of this thread is set below).
        xmlThrDefBufferAllocScheme(XML_BUFFER_ALLOC_DOUBLEIT);
        return true;
    }();
    (void)done;
}

ReadingBudget::ReadingBudget(Limits limits, Cancel cancel)
    : m_limits(limits), m_cancel(std::move(cancel)), m_startNs(threadCpuNs()), m_outer(t_budget)
{
    initLibxml();
    // libxml2 2.9 grows its buffers by the bytes asked for by default: a string value of a large tree (one XPath
    // step, string(/)) would copy the string once per text node, quadratic work that no budget can interrupt.
    // Doubling keeps every step linear in what it builds.
    xmlSetBufferAllocationScheme(XML_BUFFER_ALLOC_DOUBLEIT);
    t_budget = this;
    // A timer of this thread's CPU time signals the thread itself once the time is spent.
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = timerSignal();
    event.sigev_value.sival_ptr = this;
    event._sigev_un._tid = pid_t(syscall(SYS_gettid));
    timer_t timer{};
    if (timer_create(CLOCK_THREAD_CPUTIME_ID, &event, &timer) == 0) {
        m_timer = timer;
        itimerspec when{};
        const qint64 ns = qMax<qint64>(1, m_limits.cpuNs);
        when.it_value.tv_sec = time_t(ns / 1'000'000'000LL);
        when.it_value.tv_nsec = long(ns % 1'000'000'000LL);
        timer_settime(timer, 0, &when, nullptr);
    }
}

ReadingBudget::~ReadingBudget()
{
    // Deleting the timer also drops its signal if it is still pending.
    if (m_timer)
        timer_delete(*m_timer);
    t_budget = m_outer;
}

void ReadingBudget::timeIsUp()
{
    m_timeUp = true;
    // m_spent is set by the next look at the budget.
    stopWork();
}

ReadingBudget* ReadingBudget::current()
{
    return t_budget;
}

bool ReadingBudget::carryOnHere()
{
    return !t_budget || t_budget->carryOn();
}

bool ReadingBudget::carryOn()
{
    if (m_spent != Spent::No)
        return false;
    if (m_cancel && m_cancel->load(std::memory_order_relaxed)) {
        spend(Spent::Cancelled);
        return false;
    }
    if (m_timeUp) {
        spend(Spent::Time);
        return false;
    }
    return m_calls++ % CallsPerClock != 0 || checkClock();
}

void ReadingBudget::allocated(qint64 bytes)
{
    m_memory += bytes;
    if (m_spent != Spent::No)
        return;
    if (m_memory > m_limits.memoryBytes + m_page) {
        spend(Spent::Memory);
        return;
    }
    if (m_timeUp) {
        spend(Spent::Time);
        return;
    }
    m_sinceClock += bytes;
    // The first allocation reads the clock too, so a reading of a few allocations is not past a spent budget.
    if (m_sinceClock > BytesPerClock || m_calls++ % CallsPerClock == 0) {
        if (m_cancel && m_cancel->load(std::memory_order_relaxed))
            spend(Spent::Cancelled);
        else
            checkClock();
    }
}

bool ReadingBudget::checkClock()
{
    m_sinceClock = 0;
    if (m_timeUp || threadCpuNs() - m_startNs >= m_limits.cpuNs)
        spend(Spent::Time);
    return m_spent == Spent::No;
}

void ReadingBudget::spend(Spent why)
{
    if (m_spent == Spent::No)
        m_spent = why;
    stopWork();
}

void ReadingBudget::stopWork()
{
    if (m_xpath) {
        // libxml2 checks the count against the limit at every step it takes.
        m_xpath->opLimit = 1;
        m_xpath->opCount = 1;
    }
    if (m_parser) {
        // What xmlStopParser() sets, without freeing the input the parser may be reading at this moment.
        m_parser->disableSAX = 1;
        m_parser->instate = XML_PARSER_EOF;
    }
}

void ReadingBudget::watchParser(_xmlParserCtxt* parser)
{
    m_parser = parser;
    if (m_parser && m_spent != Spent::No)
        spend(m_spent);
}

void ReadingBudget::watchXPath(_xmlXPathContext* context)
{
    m_xpath = context;
    if (m_xpath && m_spent != Spent::No)
        spend(m_spent);
}

QString ReadingBudget::reason(const QString& what, const QString& doing) const
{
    switch (m_spent) {
    case Spent::No:
        break;
    case Spent::Time:
        return QCoreApplication::translate("ReadingBudget", "the %1 took too long to %2").arg(what, doing);
    case Spent::Memory:
        return QCoreApplication::translate("ReadingBudget", "the %1 took too much memory to %2").arg(what, doing);
    case Spent::Cancelled:
        return QCoreApplication::translate("ReadingBudget", "the reading of the %1 was cancelled").arg(what);
    }
    return {};
}

ReadingBudget::Here::Here() : m_budget(t_budget)
{
    if (!m_budget)
        m_budget = &m_own.emplace();
}
