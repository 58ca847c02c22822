// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/commandparts.h"
#include "core/commandresults.h"

struct TaskDefinition;

// New Task: downloads the new task's page (with the request headers of its options), stores the task with its
// results and options and appends it to the list. The entries are normalised and checked here, by the rule of
// every way in; the report says why a task was not created.
class CreateTask
{
public:
    explicit CreateTask(const CommandParts& parts) : m_parts(parts) {}

    Commands::Created run(const TaskDefinition& entered);

private:
    // run() once the command holds the guard and the definition passed its check.
    Commands::Created runChecked(const TaskDefinition& definition);

    CommandParts m_parts;
};
