// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/optionrows.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Writes batches of task options on a thread and connection of its own, each batch in one transaction, in the
// order they were handed over: a batch of every task of a large file costs the window thread nothing, however
// slow the disk. Each batch's outcome is told through the event loop of its context's thread; the context must
// outlive the writer (a member of the context, say).
class OptionWriter
{
public:
    using Done = std::function<void(bool stored, const QString& error)>;

    explicit OptionWriter(const QString& fileName);
    // Waits for the batches handed over, up to a bound (then the one being written is abandoned, undone).
    ~OptionWriter();
    OptionWriter(const OptionWriter&) = delete;
    OptionWriter& operator=(const OptionWriter&) = delete;

    void write(QList<OptionRows::Change> changes, QObject* context, Done done);
    // Whether batches are handed over and not written yet.
    bool pending() const { return m_pending > 0; }

    // How long the destructor waits for the batches before it abandons them.
    static constexpr int CloseWaitMs = 1500;

private:
    struct Batch
    {
        QList<OptionRows::Change> changes;
        QObject* context = nullptr;
        Done done;
    };
    void run();

    const QString m_fileName;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
    bool m_closing = false;
    std::atomic_bool m_stop{false};
    std::atomic_int m_pending{0};
    std::thread m_thread;
};
