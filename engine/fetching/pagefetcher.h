// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/bodybudget.h"
#include "engine/clock.h"
#include "engine/fetching/hostdeferrals.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/fetching/waitqueue.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

class BodyInflater;
class QNetworkAccessManager;
class QNetworkReply;

// Downloads many pages at once through one network manager, so connections to a site are reused and
// Qt's HTTP work runs on one thread whatever the number of pages. At most maxInFlight() requests run
// at a time and at most MaxPerHost to one host (Qt's own limit, kept here so that a request is only
// handed to Qt when it can be sent at once: its timeout then starts when it is sent, and a silent page
// holds only its own connection). Waiting requests are taken from the hosts in turn, not in the order
// they were queued, so one slow site does not hold back the others.
//
// A download the user waits for never queues behind background checks: when all of its host's
// connections are held by background downloads it gets a connection of a second, spare manager.
// The bodies held in flight are bounded by maxBytesInFlight() (see BodyBudget).
//
// A host that answers 429 or 503 is left alone for the time its Retry-After names (one minute without
// it, one hour at most): downloads from it fail at once until then, with the time of the next try
// (see HostDeferrals).
class PageFetcher : public QObject
{
    Q_OBJECT

public:
    // Six connections to each of twenty sites at once: an update-all over many sites takes two rounds of
    // their answer time, not three.
    static constexpr int DefaultMaxInFlight = 120;
    static constexpr int MaxPerHost = 6;
    static constexpr qint64 DefaultMaxBytesInFlight = BodyBudget::DefaultMaxBytes;
    // What Qt buffers of one reply before it stops reading its connection: room for a common page whole, which
    // is then taken in one piece (see readBody()).
    static constexpr qint64 ReadBufferBytes = 256 * 1024;
    using Callback = std::function<void(const FetchedPage&)>;
    // A download the user waits for goes before background ones still waiting for the same host, and
    // takes a spare connection when the host's are all held by background ones.
    using Priority = FetchPriority;

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // Queues a download of the address. done runs on this object's thread once it has finished (bounded
    // by PageFetch's timeout and size limit), unless context has been destroyed or the ticket cancelled.
    quint64 fetch(const QString& address, QObject* context, Callback done, Priority priority = Priority::Waited);
    // The same with the request's own headers and validators.
    quint64 fetch(const FetchRequest& request, QObject* context, Callback done, Priority priority = Priority::Waited);
    void cancel(quint64 ticket);
    // Drops every queued download and aborts the running ones; no callback runs for any of them.
    void abortAll();

    int maxInFlight() const { return m_maxInFlight; }
    void setMaxInFlight(int requests);
    int running() const { return int(m_running.size()); }
    int queued() const { return m_queued; }
    // The most requests that ran at once since this object was made.
    int peakRunning() const { return m_peakRunning; }

    // Where the time of host deferrals is read; the system clock by default.
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }
    // Until when the host of the address gets no request; invalid when it may be asked now.
    QDateTime deferredUntil(const QString& address) const;

    qint64 maxBytesInFlight() const { return m_budget.maxBytes(); }
    void setMaxBytesInFlight(qint64 bytes);
    // The bytes of bodies held now (received by running downloads or being handed over), and the most
    // held at once since this object was made.
    qint64 heldBytes() const { return m_budget.heldBytes(); }
    qint64 peakHeldBytes() const { return m_budget.peakHeldBytes(); }

private:
    struct Job
    {
        quint64 ticket = 0;
        FetchRequest request;
        QString host;
        QPointer<QObject> context;
        Callback done;
        Priority priority = Priority::Waited;
        bool spare = false;                     // runs on the spare manager
        QByteArray body;                        // received so far (inflated, when it came compressed)
        std::shared_ptr<BodyInflater> inflater; // made when a compressed body is first read
        qint64 announced = 0;                   // the length the server announced, 0 when it named none
    };
    struct Failing
    {
        Job job;
        FetchedPage page; // why the request was not sent
    };

    void pump();
    bool placeFree() const;
    bool startNextOf(const QString& host);
    // Fails the job from the event loop, as a finished download would be, without a request.
    void refuse(Job job, const FetchedPage& page);
    void deliverRefused(quint64 ticket);
    void finished(QNetworkReply* reply);
    void readBody(QNetworkReply* reply, Job& job);
    void readPaused();

    QNetworkAccessManager* m_manager;
    QNetworkAccessManager* m_spareManager = nullptr; // made on first need
    QHash<QString, WaitQueue<Job>> m_waiting;        // by host
    std::deque<QString> m_hosts;                     // hosts with waiting jobs, in the order they are served
    QHash<quint64, QString> m_hostOfTicket;          // the host of every waiting job
    QHash<QString, int> m_perHost;                   // running requests per host on m_manager
    QHash<QString, int> m_sparePerHost;              // the same on m_spareManager
    QHash<QString, int> m_waitedPerHost;             // running downloads the user waits for, per host
    int m_runningWaited = 0;
    QHash<QNetworkReply*, Job> m_running;
    HostDeferrals m_deferrals;
    BodyBudget m_budget;
    QHash<quint64, Failing> m_failing; // refused jobs whose failure is being delivered
    // In UTC: it is read at every finished download, and the local time zone costs a look at the file system.
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTimeUtc(); };
    int m_queued = 0;
    int m_maxInFlight = DefaultMaxInFlight;
    int m_peakRunning = 0;
    quint64 m_nextTicket = 1;
};
