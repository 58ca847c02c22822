// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/commandparts.h"
#include "core/commandresults.h"

#include <QString>

struct TaskDefinition;

// Edit Task: changes what the task watches, in memory and in its row of task.db, keeping its id, date, results
// and their states. A changed address or keyword forgets the links seen so far: the next check records the page
// without reporting it. A changed frequency counts from the last check. Refused while a command runs (Dropped)
// and for a task removed meanwhile (TaskGone: held by a QPointer, which reads as none once it is removed).
// The entered options replace the user's options of the task (its request headers, its region; pause and mute
// stay as they are); a new address, keyword, region or excluded words also drop the validators of the page last
// read. An edit of the fields alone passes TaskDefinition::of(task) with them changed.
class EditTask
{
public:
    explicit EditTask(const CommandParts& parts) : m_parts(parts) {}

    Commands::Outcome run(Task* task, const TaskDefinition& entered);
    // Why the latest run was refused (Invalid) or not stored (StoreFailed).
    QString error() const { return m_error; }

private:
    CommandParts m_parts;
    QString m_error;
};
