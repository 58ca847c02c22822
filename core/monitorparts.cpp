// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/monitorparts.h"

#include "core/settings.h"

bool MonitorParts::start(const Options& options)
{
    return core.start(options.autoDelete, options.deleteDays, options.reportNewLinks);
}

void MonitorParts::startShown(const Options& options)
{
    deferred.loadTasks(options.reportNewLinks);
}

void MonitorParts::finishStart(const Options& options)
{
    deferred.begin(options.autoDelete ? options.deleteDays : -1);
}
