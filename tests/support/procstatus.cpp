// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/procstatus.h"

#include <QFile>

namespace {
qint64 statusField(const QByteArray& name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = name + ':';
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            // "VmRSS:\t  12345 kB" or "Threads:\t7"
            bool ok = false;
            const qint64 value = line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}
} // namespace

int ProcStatus::threads()
{
    return int(statusField("Threads"));
}

qint64 ProcStatus::residentKb()
{
    return statusField("VmRSS");
}

qint64 ProcStatus::peakResidentKb()
{
    return statusField("VmHWM");
}
