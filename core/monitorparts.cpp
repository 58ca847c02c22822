// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/monitorparts.h"

#include "core/settings.h"

bool MonitorParts::start(const Options& options)
{
    applyNewsOptions(core.news(), options);
    // What waited in the outbox when the program last ended goes out now (or when its wait is over).
    core.news().deliverDue();
    applyCheckOptions(core, options);
    return core.start(options.autoDelete, options.deleteDays, options.reportNewLinks);
}

void MonitorParts::startShown(const Options& options)
{
    applyNewsOptions(core.news(), options);
    applyCheckOptions(core, options);
    deferred.loadTasks(options.reportNewLinks);
}

void MonitorParts::startBeside(const Options& options)
{
    applyNewsOptions(core.news(), options);
    core.health().setChecksInRow(options.checksBeforeLook);
    core.setReportNewLinks(options.reportNewLinks);
    m_readBeside = true;
}

void MonitorParts::finishStart(const Options& options)
{
    // What waited in the outbox when the program last ended goes out once task.db is ready for writing.
    QObject::connect(&deferred, &DeferredStart::finished, &core.news(), &NewsOutbox::deliverDue,
                     Qt::SingleShotConnection);
    deferred.begin(options.autoDelete ? options.deleteDays : -1, m_readBeside);
}

void MonitorParts::applyCheckOptions(TaskChecker& core, const Options& options)
{
    core.health().setChecksInRow(options.checksBeforeLook);
    core.checks().setHours(CheckHours::fromText(options.checkHours).value_or(CheckHours{}));
}

void MonitorParts::applyNewsOptions(NewsOutbox& news, const Options& options)
{
    QHash<QString, QString> own{{QLatin1String(NewsOutbox::NewsCommandOption), options.newsCommand},
                                {QLatin1String(NewsOutbox::NewsPostOption), options.newsPost},
                                {QLatin1String(NewsOutbox::NewsHeadersOption), options.newsHeaders},
                                {QLatin1String(NewsOutbox::NewsPlainOption), options.newsPlain ? "1" : ""}};
    news.setDestinations(NewsOutbox::ownDestinations(own));
}
