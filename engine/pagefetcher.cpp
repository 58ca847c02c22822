// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagefetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

namespace {
QString hostOf(const QString& address)
{
    const QUrl url(address);
    return url.host().toLower() + QLatin1Char(':') + QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}
} // namespace

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), m_manager(new QNetworkAccessManager(this)) {}

PageFetcher::~PageFetcher()
{
    abortAll();
}

void PageFetcher::setMaxInFlight(int requests)
{
    m_maxInFlight = qMax(1, requests);
    pump();
}

quint64 PageFetcher::fetch(const QString& address, QObject* context, Callback done, Priority priority)
{
    Job job;
    job.ticket = m_nextTicket++;
    job.address = address;
    job.host = hostOf(address);
    job.context = context;
    job.done = std::move(done);
    job.priority = priority;
    if (!m_waiting.contains(job.host))
        m_hosts.append(job.host);
    const quint64 ticket = job.ticket;
    QList<Job>& jobs = m_waiting[job.host];
    qsizetype at = jobs.size();
    if (priority == Priority::Waited) {
        while (at > 0 && jobs.at(at - 1).priority == Priority::Background)
            --at;
    }
    jobs.insert(at, std::move(job));
    ++m_queued;
    pump();
    return ticket;
}

void PageFetcher::cancel(quint64 ticket)
{
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        QList<Job>& jobs = it.value();
        for (qsizetype i = 0; i < jobs.size(); ++i) {
            if (jobs.at(i).ticket == ticket) {
                jobs.removeAt(i);
                --m_queued;
                return;
            }
        }
    }
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it.value().ticket == ticket) {
            it.value().done = nullptr; // the reply finishes as usual, quietly
            it.key()->abort();
            return;
        }
    }
}

void PageFetcher::abortAll()
{
    m_waiting.clear();
    m_hosts.clear();
    m_queued = 0;
    const QList<QNetworkReply*> replies = m_running.keys();
    for (QNetworkReply* reply : replies) {
        // abort() may finish the reply at once, which takes it out of m_running.
        auto it = m_running.find(reply);
        if (it == m_running.end())
            continue;
        it->done = nullptr;
        reply->abort();
    }
}

void PageFetcher::pump()
{
    // One request per host per round, so the hosts share the free places.
    bool started = true;
    while (started && running() < m_maxInFlight && m_queued > 0) {
        started = false;
        const QStringList hosts = m_hosts;
        for (const QString& host : hosts) {
            if (running() >= m_maxInFlight)
                break;
            started = startNextOf(host) || started;
        }
    }
}

bool PageFetcher::startNextOf(const QString& host)
{
    auto it = m_waiting.find(host);
    if (it == m_waiting.end() || m_perHost.value(host) >= MaxPerHost)
        return false;
    Job job = it->takeFirst();
    --m_queued;
    if (it->isEmpty()) {
        m_waiting.erase(it);
        m_hosts.removeOne(host);
    }
    if (!job.context)
        return true; // its owner is gone: nothing to download for
    QNetworkReply* reply = m_manager->get(PageFetch::makeRequest(job.address));
    PageFetch::guardBody(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
    ++m_perHost[host];
    m_running.insert(reply, std::move(job));
    m_peakRunning = qMax(m_peakRunning, running());
    return true;
}

void PageFetcher::finished(QNetworkReply* reply)
{
    Job job = m_running.take(reply);
    if (--m_perHost[job.host] <= 0)
        m_perHost.remove(job.host);
    FetchedPage page = PageFetch::takePage(reply);
    reply->deleteLater();
    // Started before the callback, which may queue more pages or end a wait.
    pump();
    if (job.done && job.context)
        job.done(page);
}
