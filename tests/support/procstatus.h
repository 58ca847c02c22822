// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// Figures of this process from /proc/self/status (Linux); -1 when unavailable.
namespace ProcStatus {
int threads();
qint64 residentKb();     // VmRSS
qint64 peakResidentKb(); // VmHWM
} // namespace ProcStatus
