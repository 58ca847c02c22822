// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/matching/seenlinks.h"

#include <QSet>
#include <QStringList>

#include <optional>

class SqlRunner;

// The rows of the seen_links table: the links each task's page showed at its last check. Every write runs
// inside the caller's transaction.
class SeenLinkRows
{
public:
    explicit SeenLinkRows(SqlRunner& runner) : m_runner(runner) {}

    // nullopt when they could not be read, an empty set when none are recorded.
    std::optional<QSet<QString>> of(int taskId);
    // Each change's seen-link differences; adding a recorded link or removing an unknown one is no failure.
    bool write(const QList<TaskChange>& changes);
    // The task's links become exactly links; only the difference is written.
    bool replace(int taskId, const QStringList& links);
    bool removeOf(int taskId);
    bool removeAll();

private:
    SqlRunner& m_runner;
};
