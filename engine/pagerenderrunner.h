// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/pagefetch.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QProcess;
class QTimer;

// Gets pages whose links are built by scripts: each through a vantrel-render process of its own, at most
// maxRunning() at once (each holds a browser engine of about 100 MB), the rest queued in order. What a
// render gives is handed back as the FetchedPage a download gives (the document as UTF-8 HTML, the final
// address, the status), so the scan, the comparison and the storing are those of a downloaded page.
// Every render is bounded: the helper bounds itself, and a helper that outlives its bound is killed.
class PageRenderRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxRunning = 2;
    using Callback = std::function<void(const FetchedPage&)>;

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
    // The bound of one render, given to the helper; the helper is killed a little after it.
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms > 0 ? ms : PageFetch::DefaultTransferTimeoutMs; }
    // Extra arguments for every helper (its limits); tests shorten its waits.
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }
    int maxRunning() const { return m_maxRunning; }
    void setMaxRunning(int renders);

    // Queues a render of the address. done runs on this object's thread once it has ended, unless
    // context has been destroyed or the ticket cancelled.
    quint64 render(const QString& address, QObject* context, Callback done);
    void cancel(quint64 ticket);
    // Drops every queued render and kills the running ones; no callback runs for any of them.
    void abortAll();

    int running() const { return int(m_running.size()); }
    int queued() const { return int(m_waiting.size()); }
    int peakRunning() const { return m_peakRunning; }
    // The helper processes running now, for measuring them.
    QList<qint64> processIds() const;

private:
    struct Job
    {
        quint64 ticket = 0;
        QString address;
        QPointer<QObject> context;
        Callback done;
    };

    void pump();
    void start(const Job& job);
    void ended(QProcess* process);
    void end(QProcess* process, const FetchedPage& page);
    FetchedPage pageOf(QProcess* process) const;

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
    QList<Job> m_waiting;
    QHash<QProcess*, Job> m_running;
    int m_maxRunning = DefaultMaxRunning;
    int m_timeoutMs = PageFetch::DefaultTransferTimeoutMs;
    int m_peakRunning = 0;
    quint64 m_nextTicket = 1;
};
