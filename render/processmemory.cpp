// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/processmemory.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <sys/resource.h>
#include <unistd.h>

namespace {
QByteArray readProc(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.read(8192) : QByteArray();
}

// "VmData:   1234 kB" in bytes; -1 when absent.
qint64 statusBytes(const QByteArray& status, const QByteArray& name)
{
    const qsizetype at = status.indexOf("\n" + name + ':');
    if (at < 0)
        return -1;
    const qsizetype from = at + name.size() + 2;
    const qsizetype end = status.indexOf('\n', from);
    bool ok = false;
    const qint64 kb = status.mid(from, end < 0 ? -1 : end - from).trimmed().split(' ').value(0).toLongLong(&ok);
    return ok ? kb * 1024 : -1;
}
} // namespace

ProcessMemory::Usage ProcessMemory::of(qint64 pid)
{
    const QByteArray status = readProc(pid, "status");
    Usage usage;
    if (status.isEmpty())
        return usage;
    usage.dataBytes = statusBytes(status, "VmData");
    usage.anonBytes = statusBytes(status, "RssAnon");
    return usage;
}

QList<qint64> ProcessMemory::tree()
{
    const qint64 self = ::getpid();
    QHash<qint64, qint64> parentOf;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and brackets, so the fields after its last one.
        const QByteArray stat = readProc(pid, "stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close > 0)
            parentOf.insert(pid, stat.mid(close + 2).split(' ').value(1).toLongLong());
    }
    QList<qint64> below{self};
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        for (qint64 p = it.value(); p > 1 && it.key() != self; p = parentOf.value(p, 0)) {
            if (p == self) {
                below.append(it.key());
                break;
            }
        }
    }
    return below;
}

bool ProcessMemory::limitData(qint64 pid, qint64 bytes)
{
    const struct rlimit limit
    {
        rlim_t(bytes), rlim_t(bytes)
    };
    return ::prlimit(pid_t(pid), RLIMIT_DATA, &limit, nullptr) == 0;
}
