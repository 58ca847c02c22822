// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/fetching/fetchrequest.h"
#include "engine/fetching/pagefetcher.h"
#include "engine/rendering/renderframe.h"
#include "engine/fetching/waitqueue.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QProcess;

// Gets pages whose links are built by scripts through vantrel-render: one helper process renders up to
// maxRunning() pages at once (asked for on its standard input, answered on its standard output), and ends
// when it has had nothing to do for idleMs(); the rest wait, those the user waits for before background
// ones. What a render gives is handed back as the FetchedPage a download gives (the document as UTF-8
// HTML, the final address, the status), so the scan, the comparison and the storing are those of a
// downloaded page. Every render is bounded from the moment it is asked for (its time in the queue
// counts); a helper that outlives a bound, writes more than it may on either output, or breaks the
// protocol is ended, and only the renders it held fail. The next render starts a fresh helper.
class PageRenderRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxRunning = 10;
    static constexpr int DefaultIdleMs = 10000;
    // What the helper may write on its standard error over its life: the engine's own warnings.
    static constexpr qint64 DefaultMaxErrorBytes = 1024 * 1024;
    using Callback = std::function<void(const FetchedPage&)>;
    using Priority = PageFetcher::Priority;

    explicit PageRenderRunner(QObject* parent = nullptr);
    ~PageRenderRunner() override;

    // The helper program: vantrel-render beside this program, else the one on the PATH.
    static QString defaultProgram();
    QString program() const { return m_program; }
    // A new program is probed afresh.
    void setProgram(const QString& path);
    // Whether the helper is there to be started, and its engine did not fail the last probe.
    bool isAvailable() const;
    // What to tell a user whose helper is missing.
    static QString missingMessage();
    // Why isAvailable() is false: the helper missing, or why its engine could not start.
    QString unavailableReason() const;
    // Starts the helper once on an empty page, in the background, to learn whether its browser engine
    // starts here at all; engineChecked reports it. A probe already running or done is not repeated.
    void probeEngine();
    bool engineProbed() const { return m_engine != Engine::Unknown; }

signals:
    void engineChecked(bool works, const QString& reason);

public:
    // The bound of one render from the moment it is asked for; the helper gets what is left of it when
    // the render starts, and is ended a little after it.
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms > 0 ? ms : PageFetch::DefaultTransferTimeoutMs; }
    // Extra arguments for every helper (its limits); tests shorten its waits.
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }
    // The pages rendered at once.
    int maxRunning() const { return m_maxRunning; }
    void setMaxRunning(int renders);
    // One helper process per page, ended after it, up to maxRunning() at once: the way of comparison for
    // measuring the shared helper.
    void setProcessPerPage(bool on) { m_processPerPage = on; }
    // How long a helper with nothing to do is kept for the next render.
    int idleMs() const { return m_idleMs; }
    void setIdleMs(int ms) { m_idleMs = qMax(0, ms); }
    void setMaxErrorBytes(qint64 bytes) { m_maxErrorBytes = qMax<qint64>(1, bytes); }
    // The memory of one page's process, and of a helper's processes together. A helper runs in a memory
    // scope of the user's service manager capped at the total where one is reachable (scopeProgram()), and
    // each of its processes under a data limit of the total in any case; the helper holds each page to its
    // own bound and fails the page past it.
    void setMemoryLimits(qint64 pageBytes, qint64 totalBytes);
    qint64 pageMemoryBytes() const { return m_pageMemoryBytes; }
    qint64 totalMemoryBytes() const { return m_totalMemoryBytes; }
    // systemd-run when the user's service manager answers here, else empty; a scope it cannot start is
    // given up for good and its renders go to a helper started without it.
    static QString defaultScopeProgram();
    QString scopeProgram() const { return m_scopeProgram; }
    void setScopeProgram(const QString& path) { m_scopeProgram = path; }

    // Queues a render of the request's address with its headers: the User-Agent among them for every
    // request of the page, the others for the requests to the page's own site only. done runs on this
    // object's thread once it has ended, unless context has been destroyed or the ticket cancelled.
    quint64 render(const FetchRequest& request, QObject* context, Callback done, Priority priority = Priority::Waited);
    quint64 render(const QString& address, QObject* context, Callback done, Priority priority = Priority::Waited);
    void cancel(quint64 ticket);
    // Drops every queued render and ends the helpers; no callback runs for any of them.
    void abortAll();

    int running() const;
    int queued() const { return int(m_waiting.size()); }
    int peakRunning() const { return m_peakRunning; }
    // The helper processes running now, for measuring them.
    QList<qint64> processIds() const;

private:
    struct Job
    {
        quint64 ticket = 0;
        FetchRequest request;
        Priority priority = Priority::Waited;
        QPointer<QObject> context;
        Callback done;
        QDeadlineTimer deadline; // from the moment it was asked for
    };
    struct Helper
    {
        QProcess* process = nullptr;
        QHash<quint64, Job> held; // by ticket, which is the request's id
        RenderFrame::Reader answers;
        QByteArray errorTail; // the last lines of its standard error, for its reason
        qint64 errorBytes = 0;
        QString endReason; // why this program ended it
        QTimer* idle = nullptr;
        bool closing = false; // its input is closed: it takes no more renders
        bool scoped = false;  // started in a memory scope
        bool answered = false;
    };

    void pump();
    Helper* helperWithRoom();
    Helper* startHelper();
    void startBoxed(QProcess* process, const QStringList& arguments, bool scoped,
                    QIODevice::OpenMode mode = QIODevice::ReadWrite) const;
    // A scope that refused to start its helper: the renders it held are asked for again, without a scope.
    bool scopeRefused(Helper* helper);
    void send(Helper* helper, Job job);
    void readAnswers(Helper* helper);
    void readErrors(Helper* helper);
    void endHelper(Helper* helper, const QString& reason);
    void helperEnded(QProcess* process);
    // Fails the waiting renders whose bound has passed and ends the helpers that outlived one; then waits
    // for the next bound.
    void sweep();
    void deliver(Job job, const FetchedPage& page);
    Helper* helperOf(QProcess* process);

    enum class Engine
    {
        Unknown,
        Probing,
        Works,
        Fails
    };

    QString m_program;
    QStringList m_extraArguments;
    Engine m_engine = Engine::Unknown;
    QString m_engineProblem;
    WaitQueue<Job> m_waiting;
    QList<Helper*> m_helpers;
    QTimer m_sweep;
    int m_maxRunning = DefaultMaxRunning;
    int m_timeoutMs = PageFetch::DefaultTransferTimeoutMs;
    int m_idleMs = DefaultIdleMs;
    qint64 m_maxErrorBytes = DefaultMaxErrorBytes;
    qint64 m_pageMemoryBytes = RenderFrame::DefaultPageMemoryBytes;
    qint64 m_totalMemoryBytes = RenderFrame::DefaultTotalMemoryBytes;
    QString m_scopeProgram;
    bool m_processPerPage = false;
    int m_peakRunning = 0;
    quint64 m_nextTicket = 1;
};
