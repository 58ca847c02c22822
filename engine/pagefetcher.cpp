// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagefetcher.h"

#include <QLocale>
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
    m_maxBytes = bytes > 0 ? bytes : DefaultMaxBytesInFlight;
    readPaused();
    pump();
}

void PageFetcher::hold(qint64 bytes)
{
    m_heldBytes += bytes;
    m_peakHeldBytes = qMax(m_peakHeldBytes, m_heldBytes);
}

qint64 PageFetcher::committedBytes() const
{
    qint64 total = 0;
    for (const Job& job : m_running)
        total += qMax(qint64(job.body.size()), job.announced);
    return total;
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
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        job.refusal = tr("only http and https addresses are read");
        const quint64 ticket = job.ticket;
        failDeferred(std::move(job));
        return ticket;
    }
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
    if (m_failing.remove(ticket))
        return;
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
    m_failing.clear();
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
    while (started && m_queued > 0) {
        started = false;
        const QStringList hosts = m_hosts;
        for (const QString& host : hosts)
            started = startNextOf(host) || started;
    }
}

bool PageFetcher::startNextOf(const QString& host)
{
    auto it = m_waiting.find(host);
    if (it == m_waiting.end() || it->isEmpty())
        return false;
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
    // The byte bound, except for the one download the user waits for: it never waits for background bodies.
    if (committedBytes() >= m_maxBytes && !(waited && m_runningWaited == 0))
        return false;
    Job job = it->takeFirst();
    --m_queued;
    if (it->isEmpty()) {
        m_waiting.erase(it);
        m_hosts.removeOne(host);
    }
    if (!job.context)
        return true; // its owner is gone: nothing to download for
    const auto deferred = m_deferred.constFind(host);
    if (deferred != m_deferred.constEnd()) {
        if (m_now() < deferred->until) {
            failDeferred(std::move(job));
            return true;
        }
        m_deferred.erase(deferred);
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
            it->announced = length;
            it->body.reserve(length); // one allocation instead of doublings
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
    m_running.insert(reply, std::move(job));
    m_peakRunning = qMax(m_peakRunning, running());
    return true;
}

QDateTime PageFetcher::deferredUntil(const QString& address) const
{
    const auto it = m_deferred.constFind(hostOf(address));
    if (it == m_deferred.constEnd() || m_now() >= it->until)
        return {};
    return it->until;
}

namespace {
QString statusWords(int status)
{
    return status == 429 ? QStringLiteral("HTTP 429, too many requests")
                         : QStringLiteral("HTTP 503, service unavailable");
}
} // namespace

void PageFetcher::noteRetryAfter(const QString& host, FetchedPage& page)
{
    if (page.status != 429 && page.status != 503)
        return;
    page.ok = false;
    page.body.clear(); // an answer that asks to come back later is no state of the page
    page.retryAt = m_now().addSecs(page.retryAfterSeconds);
    Deferral& deferral = m_deferred[host];
    deferral.until = qMax(deferral.until, page.retryAt);
    deferral.status = page.status;
    page.error = statusWords(page.status) + QStringLiteral("; next try after ") +
                 QLocale().toString(page.retryAt.time(), QStringLiteral("HH:mm"));
}

void PageFetcher::failDeferred(Job job)
{
    const quint64 ticket = job.ticket;
    m_failing.insert(ticket, std::move(job));
    // Delivered from the event loop, as a finished download would be.
    QMetaObject::invokeMethod(
        this, [this, ticket] { deliverDeferred(ticket); }, Qt::QueuedConnection);
}

void PageFetcher::deliverDeferred(quint64 ticket)
{
    const auto it = m_failing.find(ticket);
    if (it == m_failing.end())
        return; // cancelled or aborted meanwhile
    const Job job = it.value();
    m_failing.erase(it);
    FetchedPage page;
    page.url = QUrl(job.request.address);
    if (!job.refusal.isEmpty()) {
        page.error = job.refusal;
        if (job.done && job.context)
            job.done(page);
        return;
    }
    const Deferral deferral = m_deferred.value(job.host);
    page.retryAt = deferral.until;
    page.error = statusWords(deferral.status) + QStringLiteral(" earlier; next try after ") +
                 QLocale().toString(deferral.until.time(), QStringLiteral("HH:mm"));
    if (job.done && job.context)
        job.done(page);
}

bool PageFetcher::mayRead(const Job& job) const
{
    // The oldest download always goes on, and so does the oldest one the user waits for, so bodies keep
    // being completed and handed over. The others read only while what is held leaves room for those
    // two to arrive whole.
    const Job* oldest = nullptr;
    const Job* oldestWaited = nullptr;
    for (const Job& other : m_running) {
        if (!oldest || other.ticket < oldest->ticket)
            oldest = &other;
        if (other.priority == Priority::Waited && (!oldestWaited || other.ticket < oldestWaited->ticket))
            oldestWaited = &other;
    }
    if (&job == oldest || &job == oldestWaited)
        return true;
    const auto remaining = [](const Job* privileged) {
        return privileged ? qMax<qint64>(0, privileged->announced - privileged->body.size()) : 0;
    };
    const qint64 reserve = remaining(oldest) + (oldestWaited != oldest ? remaining(oldestWaited) : 0);
    return m_heldBytes + reserve < m_maxBytes;
}

void PageFetcher::readBody(QNetworkReply* reply, Job& job)
{
    if (!mayRead(job))
        return; // resumed by readPaused() once bodies have been handed over
    const QByteArray data = reply->readAll();
    if (job.body.size() + data.size() > PageFetch::maxBodyBytes()) {
        // Read out as it arrives, the body never piles up in the reply where guardBody() looks for it.
        PageFetch::abortWith(reply, PageFetch::tooLargeReason());
        return;
    }
    job.body += data;
    hold(data.size());
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
    const qint64 received = job.body.size();
    FetchedPage page = PageFetch::takePage(reply, std::move(job.body));
    noteRetryAfter(job.host, page);
    PageFetch::readFeed(page, job.request.address);
    reply->deleteLater();
    // The delivered body stays held until its callback has returned.
    const qint64 delivered = page.body.size();
    hold(delivered - received);
    // Started before the callback, which may queue more pages or end a wait.
    pump();
    const QPointer<PageFetcher> self(this);
    if (job.done && job.context)
        job.done(page);
    if (!self)
        return;
    page = FetchedPage();
    m_heldBytes -= delivered;
    readPaused();
    pump();
}
