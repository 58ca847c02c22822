// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/edittask.h"

#include "core/checkstate.h"
#include "core/commandguard.h"
#include "core/taskhealth.h"
#include "core/watchlist.h"
#include "engine/definition/taskdefinition.h"

#include <utility>

using Commands::Outcome;

Commands::Outcome EditTask::run(Task* task, const TaskDefinition& typed)
{
    if (m_parts.guard.isBusy() || m_parts.watches.isImporting())
        return Outcome::Dropped;
    if (!m_parts.watches.contains(task))
        return Outcome::TaskGone;
    // A frequency kept as stored is not judged again (an older file may hold 0 or 90 seconds).
    const int parts = typed.frequency == task->frequency() ? TaskDefinition::Options : TaskDefinition::Everything;
    TaskDefinition entered = typed.normalised();
    if (const TaskDefinition::Problem problem = entered.check(parts)) {
        m_error = problem.text();
        return Outcome::Invalid;
    }
    if (m_parts.watches.duplicateOf(entered.address, entered.keyword, task))
        return Outcome::Exists;

    // A new region or new excluded words change which links count, as a new keyword does.
    const auto watched = [](const QHash<QString, QString>& options) {
        return std::make_pair(options.value(QLatin1String(Task::RegionOption)),
                              options.value(QLatin1String(Task::ExcludedWordsOption)));
    };
    const bool pageChanged = entered.address != task->address() || entered.keyword != task->keyword() ||
                             watched(entered.options) != watched(task->options());
    // The entered options replace the user's; the options the checks keep stay, and so do pause and mute,
    // which have commands of their own.
    QHash<QString, QString> newOptions = task->options();
    for (const QString& own : TaskDefinition::userOptions())
        newOptions.remove(own);
    newOptions.insert(TaskDefinition::userOptionsOf(entered.options));
    for (const QString& own : TaskDefinition::switchOptions()) {
        newOptions.remove(own);
        if (task->options().contains(own))
            newOptions.insert(own, task->options().value(own));
    }
    // The validators name a state of the old page: asked with them, the new page could answer "not modified".
    if (pageChanged) {
        newOptions.remove(QLatin1String(Task::EtagOption));
        newOptions.remove(QLatin1String(Task::LastModifiedOption));
    }
    entered.options = newOptions;
    const bool reported = m_parts.states.reportsNewLinks(task);
    if (!m_parts.watches.changeTask(task, entered, pageChanged)) {
        m_error = m_parts.watches.lastError();
        return Outcome::StoreFailed;
    }
    if (!reported && m_parts.states.reportsNewLinks(task) && !m_parts.states.seeAfresh(task)) {
        m_error = m_parts.watches.lastError();
        return Outcome::StoreFailed;
    }
    // What was seen of the old page says nothing about the new one.
    if (pageChanged) {
        m_parts.states.pageChanged(task);
        m_parts.health.forget(task);
    }
    return Outcome::Done;
}
