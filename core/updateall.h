// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/commandparts.h"
#include "core/commandresults.h"

#include <QList>
#include <QObject>

// Update Tasks Now: every task's page asked for at once, each compared as soon as it is read, and the new results
// taken over in the list's order and stored in one transaction. A paused task is not downloaded. The run's report
// says what was found and what could not be stored.
class UpdateAll : public QObject
{
    Q_OBJECT

public:
    explicit UpdateAll(const CommandParts& parts, QObject* parent = nullptr) : QObject(parent), m_parts(parts) {}

    Commands::UpdateRun run();
    // How many pages a run requests in one turn of the event loop (a few milliseconds of work); tests lower it.
    static constexpr int RequestBatch = 500;
    void setRequestBatch(int pages) { m_requestBatch = qMax(1, pages); }
    // For how many tasks a run reads the stored results while their pages are on their way.
    static constexpr int ReadAheadTasks = 1000;

private:
    // Reads the stored results of the tasks that do not hold them while their pages are on their way.
    void readResultsAhead(const QList<Task*>& tasks);

    CommandParts m_parts;
    int m_requestBatch = RequestBatch;
};
