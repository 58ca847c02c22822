// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/watchlist.h"
#include "storage/deferredwork.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class TaskChecker;

// The half of the start that can wait until the window shows: the indexes over the results built when they are
// missing, the old results deleted when the options ask for it, the stored results counted. It runs on a thread
// of its own with a connection of its own; meanwhile the tasks' unread counts read as Task::UncountedResults, the
// core refuses writes and the periodic checks wait. Its end is told on the thread that began it.
class DeferredStart : public QObject
{
    Q_OBJECT

public:
    explicit DeferredStart(TaskChecker& core, QObject* parent = nullptr);
    // Asks the work to stop and waits for it, which SQLite's interruption keeps short.
    ~DeferredStart() override;

    // Loads the tasks without counting their results (see WatchList::loadTasksUncounted).
    void loadTasks(bool reportNewLinks);
    // Starts the work; days below 0 deletes nothing. With readTasks the tasks are read first, on the work's own
    // connection, and taken by the core once read (tasksTaken()): the window can show before them.
    void begin(int deleteDays, bool readTasks = false);
    bool running() const { return m_running; }
    // Whether the indexes are being built (they were missing when the work began).
    bool buildingIndexes() const { return m_running && m_indexing; }

signals:
    // The tasks read by the work are the core's (loaded uncounted, as loadTasks() loads them).
    void tasksTaken();
    // The work began building the indexes.
    void indexBuildStarted();
    // The work is done and the counts are in the tasks. Each text says what failed, empty when it did not.
    void finished(const QString& indexFailure, const QString& removeFailure, const QString& countFailure);

private:
    void takeTasks(const WatchList::Screened& screened, std::optional<qint64> lastRow, const QString& failure);
    void takeOutcome(const DeferredOutcome& outcome);

    TaskChecker& m_core;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
    bool m_running = false;
    bool m_indexing = false;
};
