// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/optionwriter.h"

#include "storage/logging.h"
#include "storage/sqlrunner.h"

#include <chrono>

OptionWriter::OptionWriter(const QString& fileName) : m_fileName(fileName), m_thread([this] { run(); }) {}

OptionWriter::~OptionWriter()
{
    std::unique_lock lock(m_mutex);
    m_closing = true;
    m_changed.notify_all();
    // Marks lost here cost only a whole page read at the next check, or a failure not shown after a restart.
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(CloseWaitMs), [this] { return m_pending == 0; })) {
        qCWarning(lcStorage) << "task options not written in time, abandoned:" << int(m_pending);
        m_stop = true;
    }
    lock.unlock();
    m_thread.join();
}

void OptionWriter::write(QList<OptionRows::Change> changes, QObject* context, Done done)
{
    std::lock_guard lock(m_mutex);
    ++m_pending;
    m_batches.push_back(Batch{std::move(changes), context, std::move(done)});
    m_changed.notify_all();
}

void OptionWriter::run()
{
    SqlRunner runner(m_fileName, false);
    runner.setStop(&m_stop);
    for (;;) {
        Batch batch;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_closing || !m_batches.empty(); });
            if (m_batches.empty() || m_stop)
                return;
            batch = std::move(m_batches.front());
            m_batches.pop_front();
        }
        const bool stored = runner.inTransaction([&] { return OptionRows(runner).setAll(batch.changes); });
        const QString error = stored ? QString() : runner.lastError();
        QMetaObject::invokeMethod(
            batch.context, [done = std::move(batch.done), stored, error] { done(stored, error); },
            Qt::QueuedConnection);
        std::lock_guard lock(m_mutex);
        --m_pending;
        m_changed.notify_all();
    }
}
