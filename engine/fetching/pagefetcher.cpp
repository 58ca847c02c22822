// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/pagefetcher.h"

#include "engine/fetching/bodyinflater.h"

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

void PageFetcher::setMaxBytesInFlight(qint64 bytes)
{
    m_budget.setMaxBytes(bytes);
    readPaused();
    pump();
}

quint64 PageFetcher::fetch(const QString& address, QObject* context, Callback done, Priority priority)
{
    FetchRequest request;
    request.address = address;
    return fetch(request, context, std::move(done), priority);
}

quint64 PageFetcher::fetch(const FetchRequest& request, QObject* context, Callback done, Priority priority)
{
    Job job;
    job.ticket = m_nextTicket++;
    job.request = request;
    job.host = hostOf(request.address);
    job.context = context;
    job.done = std::move(done);
    job.priority = priority;
    // Only web pages are read, whatever address a task holds: another scheme would make the network layer
    // read local files or other services.
    const QString scheme = QUrl(request.address).scheme();
    const quint64 ticket = job.ticket;
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        FetchedPage refusal;
        refusal.url = QUrl(request.address);
        refusal.error = tr("only http and https addresses are read");
        refuse(std::move(job), refusal);
        return ticket;
    }
    if (!m_waiting.contains(job.host))
        m_hosts.push_back(job.host);
    m_hostOfTicket.insert(ticket, job.host);
    m_waiting[job.host].add(std::move(job));
    ++m_queued;
    pump();
    return ticket;
}

void PageFetcher::cancel(quint64 ticket)
{
    if (m_failing.remove(ticket))
        return;
    if (const auto host = m_hostOfTicket.constFind(ticket); host != m_hostOfTicket.constEnd()) {
        const auto it = m_waiting.find(*host);
        if (it != m_waiting.end() && it->remove(ticket))
            --m_queued;
        m_hostOfTicket.erase(host);
        return;
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
    m_failing.clear();
    m_waiting.clear();
    m_hosts.clear();
    m_hostOfTicket.clear();
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
    // One request per host in turn, so the hosts share the free places: a host served goes to the back of the
    // line. It ends once no place is free, or every host in a row has started nothing, so a pump costs the
    // requests it starts, not the number of hosts waiting.
    qsizetype idle = 0;
    while (m_queued > 0 && idle < qsizetype(m_hosts.size()) && placeFree()) {
        const QString host = std::move(m_hosts.front());
        m_hosts.pop_front();
        const bool started = startNextOf(host);
        if (m_waiting.contains(host))
            m_hosts.push_back(host);
        idle = started ? 0 : idle + 1;
    }
}

bool PageFetcher::placeFree() const
{
    return (m_runningWaited < m_maxInFlight && m_budget.mayBegin(true)) ||
           (running() < m_maxInFlight && m_budget.mayBegin(false));
}

bool PageFetcher::startNextOf(const QString& host)
{
    auto it = m_waiting.find(host);
    if (it == m_waiting.end())
        return false;
    if (it->isEmpty()) { // its downloads were cancelled
        m_waiting.erase(it);
        return false;
    }
    const bool waited = it->first().priority == Priority::Waited;
    // Background downloads share maxInFlight() with every running one; downloads the user waits for
    // have as many places of their own, so background checks never hold them back.
    if (waited ? m_runningWaited >= m_maxInFlight : running() >= m_maxInFlight)
        return false;
    bool spare = false;
    if (m_perHost.value(host) >= MaxPerHost) {
        // The host's connections are taken; the user's download gets one of the spare manager's unless
        // it is downloads the user waits for that hold them.
        if (!waited || m_waitedPerHost.value(host) >= MaxPerHost || m_sparePerHost.value(host) >= MaxPerHost)
            return false;
        spare = true;
    }
    if (!m_budget.mayBegin(waited))
        return false;
    Job job = it->takeFirst();
    --m_queued;
    m_hostOfTicket.remove(job.ticket);
    if (it->isEmpty())
        m_waiting.erase(it); // pump() takes the host out of its line
    if (!job.context)
        return true; // its owner is gone: nothing to download for
    if (const std::optional<HostDeferrals::Deferral> deferral = m_deferrals.take(host, m_now())) {
        const FetchedPage refusal = HostDeferrals::refused(job.request.address, *deferral);
        refuse(std::move(job), refusal);
        return true;
    }
    if (spare && !m_spareManager)
        m_spareManager = new QNetworkAccessManager(this);
    QNetworkReply* reply = (spare ? m_spareManager : m_manager)->get(PageFetch::makeRequest(job.request));
    // Qt stops reading the connection while this much is unread, so a paused download holds no more.
    reply->setReadBufferSize(ReadBufferBytes);
    PageFetch::guardBody(reply);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        auto it = m_running.find(reply);
        if (it == m_running.end())
            return;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > 0 && length <= PageFetch::maxBodyBytes()) {
            m_budget.announce(it->ticket, length);
            it->announced = length;
        }
    });
    connect(reply, &QIODevice::readyRead, this, [this, reply] {
        auto it = m_running.find(reply);
        if (it != m_running.end())
            readBody(reply, *it);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
    job.spare = spare;
    ++(spare ? m_sparePerHost : m_perHost)[host];
    if (waited) {
        ++m_waitedPerHost[host];
        ++m_runningWaited;
    }
    m_budget.begin(job.ticket, waited);
    m_running.insert(reply, std::move(job));
    m_peakRunning = qMax(m_peakRunning, running());
    return true;
}

QDateTime PageFetcher::deferredUntil(const QString& address) const
{
    return m_deferrals.until(hostOf(address), m_now());
}

void PageFetcher::refuse(Job job, const FetchedPage& page)
{
    const quint64 ticket = job.ticket;
    m_failing.insert(ticket, {std::move(job), page});
    QMetaObject::invokeMethod(
        this, [this, ticket] { deliverRefused(ticket); }, Qt::QueuedConnection);
}

void PageFetcher::deliverRefused(quint64 ticket)
{
    const auto it = m_failing.find(ticket);
    if (it == m_failing.end())
        return; // cancelled or aborted meanwhile
    const Failing failing = it.value();
    m_failing.erase(it);
    if (failing.job.done && failing.job.context)
        failing.job.done(failing.page);
}

void PageFetcher::readBody(QNetworkReply* reply, Job& job)
{
    if (!m_budget.mayRead(job.ticket))
        return; // resumed by readPaused() once bodies have been handed over
    const qint64 available = reply->bytesAvailable();
    const qsizetype had = job.body.size();
    if (!job.inflater)
        job.inflater = BodyInflater::forEncoding(reply->rawHeader("Content-Encoding"), PageFetch::maxBodyBytes());
    if (job.inflater) {
        // Compressed: inflated as it comes, bounded by what it inflates to.
        if (available < ReadBufferBytes / 2)
            return;
        if (!job.inflater->add(reply->read(available), job.body)) {
            PageFetch::abortWith(reply, job.inflater->error());
            return;
        }
        m_budget.receive(job.ticket, job.body.size() - had);
        return;
    }
    if (had + available > PageFetch::maxBodyBytes()) {
        // What was read out and what waits in the reply: checked as each piece arrives.
        PageFetch::abortWith(reply, PageFetch::tooLargeReason());
        return;
    }
    // Left in the reply until half its buffer is taken: a page that fits there is taken whole once it has arrived
    // (finished()), with no copy of its own held beside Qt's while the page is still coming.
    if (available < ReadBufferBytes / 2)
        return;
    if (had == 0 && job.announced > available)
        job.body.reserve(job.announced); // one allocation instead of doublings
    // Straight into the body: no buffer of its own per read.
    job.body.resize(had + available);
    const qint64 read = qMax<qint64>(0, reply->read(job.body.data() + had, available));
    job.body.truncate(had + read);
    m_budget.receive(job.ticket, read);
}

void PageFetcher::readPaused()
{
    const QList<QNetworkReply*> replies = m_running.keys();
    for (QNetworkReply* reply : replies) {
        auto it = m_running.find(reply);
        if (it != m_running.end() && reply->bytesAvailable() > 0)
            readBody(reply, *it);
    }
}

void PageFetcher::finished(QNetworkReply* reply)
{
    Job job = m_running.take(reply);
    QHash<QString, int>& perHost = job.spare ? m_sparePerHost : m_perHost;
    if (--perHost[job.host] <= 0)
        perHost.remove(job.host);
    if (job.priority == Priority::Waited) {
        --m_runningWaited;
        if (--m_waitedPerHost[job.host] <= 0)
            m_waitedPerHost.remove(job.host);
    }
    const QDateTime now = m_now(); // one reading for the Retry-After and the deferral it starts
    FetchedPage page = PageFetch::takePage(reply, now, std::move(job.body), job.inflater.get());
    m_deferrals.note(job.host, page, now);
    reply->deleteLater();
    // The delivered body stays held until its callback has returned.
    const qint64 delivered = page.body.size();
    m_budget.end(job.ticket, delivered);
    // Started before the callback, which may queue more pages or end a wait.
    pump();
    const QPointer<PageFetcher> self(this);
    if (job.done && job.context)
        job.done(page);
    if (!self)
        return;
    page = FetchedPage();
    m_budget.release(delivered);
    readPaused();
    pump();
}
