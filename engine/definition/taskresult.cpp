// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/definition/taskresult.h"

#include <atomic>

namespace {
std::atomic<qint64> g_nextFound{1};
} // namespace

qint64 nextFoundOrder()
{
    return g_nextFound.fetch_add(1, std::memory_order_relaxed);
}

void noteFoundOrder(qint64 order)
{
    qint64 next = g_nextFound.load(std::memory_order_relaxed);
    while (next <= order && !g_nextFound.compare_exchange_weak(next, order + 1, std::memory_order_relaxed)) {
    }
}
