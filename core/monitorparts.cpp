// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/monitorparts.h"

#include "core/settings.h"

bool MonitorParts::start(const Options& options)
{
    core.setChecksBeforeLook(options.checksBeforeLook);
    return core.start(options.autoDelete, options.deleteDays, options.reportNewLinks);
}
