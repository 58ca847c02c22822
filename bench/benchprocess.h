// SPDX-License-Identifier: GPL-3.0-or-later
// What a benchmark measures of its own process, and the child processes it runs itself as.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

// Reads the thread count through a file opened once: with a thread and a network manager per check the
// process can run out of file descriptors, and a fresh open of /proc/self/status would then fail.
class ThreadSampler
{
public:
    ThreadSampler() : m_status(QStringLiteral("/proc/self/status"))
    {
        m_status.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        sample();
        QObject::connect(&m_timer, &QTimer::timeout, [this] { sample(); });
        m_timer.start(5);
    }
    int peak() const { return m_peak; }

private:
    void sample()
    {
        m_status.seek(0);
        const QByteArray status = m_status.readAll();
        const qsizetype at = status.indexOf("Threads:");
        if (at >= 0)
            m_peak = qMax(m_peak, status.mid(at + 8, status.indexOf('\n', at) - at - 8).trimmed().toInt());
    }
    QFile m_status;
    QTimer m_timer;
    int m_peak = 0;
};

// Starts the peak resident memory (VmHWM) afresh, so it tells the peak of what follows, not of start-up.
inline void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

inline QStringList runChild(const QStringList& arguments, const QString& folder)
{
    QProcess child;
    child.setWorkingDirectory(folder);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(600000);
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
}
