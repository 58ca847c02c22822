// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagefetch.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// Downloads many pages at once through one network manager, so connections to a site are reused and
// Qt's HTTP work runs on one thread whatever the number of pages. At most maxInFlight() requests run
// at a time and at most MaxPerHost to one host (Qt's own limit, kept here so that a request is only
// handed to Qt when it can be sent at once: its timeout then starts when it is sent, and a silent page
// holds only its own connection). Waiting requests are taken from the hosts in turn, not in the order
// they were queued, so one slow site does not hold back the others.
class PageFetcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxInFlight = 96;
    static constexpr int MaxPerHost = 6;
    using Callback = std::function<void(const FetchedPage&)>;
    // A download the user waits for goes before background ones still waiting for the same host.
    enum class Priority
    {
        Background,
        Waited
    };

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // Queues a download of the address. done runs on this object's thread once it has finished (bounded
    // by PageFetch's timeout and size limit), unless context has been destroyed or the ticket cancelled.
    quint64 fetch(const QString& address, QObject* context, Callback done, Priority priority = Priority::Waited);
    void cancel(quint64 ticket);
    // Drops every queued download and aborts the running ones; no callback runs for any of them.
    void abortAll();

    int maxInFlight() const { return m_maxInFlight; }
    void setMaxInFlight(int requests);
    int running() const { return int(m_running.size()); }
    int queued() const { return m_queued; }
    // The most requests that ran at once since this object was made.
    int peakRunning() const { return m_peakRunning; }

private:
    struct Job
    {
        quint64 ticket = 0;
        QString address;
        QString host;
        QPointer<QObject> context;
        Callback done;
        Priority priority = Priority::Waited;
    };

    void pump();
    bool startNextOf(const QString& host);
    void finished(QNetworkReply* reply);

    QNetworkAccessManager* m_manager;
    QHash<QString, QList<Job>> m_waiting; // by host
    QStringList m_hosts;                  // hosts with waiting jobs, in the order they are served
    QHash<QString, int> m_perHost;        // running requests per host
    QHash<QNetworkReply*, Job> m_running;
    int m_queued = 0;
    int m_maxInFlight = DefaultMaxInFlight;
    int m_peakRunning = 0;
    quint64 m_nextTicket = 1;
};
