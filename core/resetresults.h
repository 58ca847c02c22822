// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/commandparts.h"
#include "core/commandresults.h"

#include <QString>

// Reset Results: rebuilds a task's results from a fresh download of its page. On any failure the old results
// stay, in memory and in task.db.
class ResetResults
{
public:
    explicit ResetResults(const CommandParts& parts) : m_parts(parts) {}

    Commands::Outcome run(Task* task);
    // Why the latest run failed to store (StoreFailed).
    QString error() const { return m_error; }

private:
    CommandParts m_parts;
    QString m_error;
};
