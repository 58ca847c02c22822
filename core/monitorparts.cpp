// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/monitorparts.h"

#include "core/settings.h"

bool MonitorParts::start(const Options& options)
{
    applyNewsOptions(core.news(), options);
    // What waited in the outbox when the program last ended goes out now (or when its wait is over).
    core.news().deliverDue();
    return core.start(options.autoDelete, options.deleteDays, options.reportNewLinks);
}

void MonitorParts::applyNewsOptions(NewsOutbox& news, const Options& options)
{
    QHash<QString, QString> own{{QLatin1String(NewsOutbox::NewsCommandOption), options.newsCommand},
                                {QLatin1String(NewsOutbox::NewsPostOption), options.newsPost},
                                {QLatin1String(NewsOutbox::NewsHeadersOption), options.newsHeaders},
                                {QLatin1String(NewsOutbox::NewsPlainOption), options.newsPlain ? "1" : ""}};
    news.setDestinations(NewsOutbox::ownDestinations(own));
}
