// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class CheckStates;
class CommandGuard;
class CommandWaits;
class TaskHealth;
class WatchList;

// What the commands work with, handed to each as it is made: the tasks (and through them task.db), what the checks know
// of each task, whether a task needs a look, the guard no two waiting commands pass at once, and the waits. Each
// command keeps the report of its own latest run.
struct CommandParts
{
    WatchList& watches;
    CheckStates& states;
    TaskHealth& health;
    CommandGuard& guard;
    CommandWaits& waits;
};
