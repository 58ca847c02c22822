// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QtGlobal>

// What the helper knows of the memory of its own processes and of the engine's page processes (Linux, from
// /proc), and the limit it puts on a page process.
namespace ProcessMemory {

struct Usage
{
    qint64 dataBytes = -1; // the private writable memory the data limit counts (VmData); -1: process gone
    qint64 anonBytes = -1; // the resident memory of its own (RssAnon)
};
Usage of(qint64 pid);

// This process and every process below it, by id.
QList<qint64> tree();

// Lowers the data limit of a process (its further allocations past it fail); false when not allowed.
bool limitData(qint64 pid, qint64 bytes);

} // namespace ProcessMemory
