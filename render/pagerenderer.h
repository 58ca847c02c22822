// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/rendering/renderframe.h"
#include "render/processmemory.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class RenderPage;
class SiteHeaders;

// Loads one address in a browser engine page of its own, in a profile that keeps nothing between pages
// (makeProfile), runs its scripts, waits until the document has loaded and
// its DOM has stayed unchanged for a quiet time (or a cap has passed), and hands back the serialised DOM.
// Every request of the page carries the task's User-Agent; the task's other headers go only with the
// requests to the page's own scheme, host and port. Every way it can end is reported once through
// finished().
class PageRenderer : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int quietMs = RenderFrame::DefaultQuietMs;
        int settleCapMs = RenderFrame::DefaultSettleCapMs;
        int timeoutMs = RenderFrame::DefaultTimeoutMs;
        qint64 maxBytes = RenderFrame::MaxOutputBytes;
        qint64 pageMemoryBytes = RenderFrame::DefaultPageMemoryBytes;
    };

    static QString pageMemoryReason(qint64 bytes);

    // The profile the pages of one helper share; the pages must be gone before it.
    static QWebEngineProfile* makeProfile(QObject* parent);

    PageRenderer(const Limits& limits, QWebEngineProfile* profile, QObject* parent = nullptr);
    ~PageRenderer() override;

    // The render's own bound, when set, replaces the limits' one.
    void start(const RenderFrame::Request& request);

    // The engine's page process this page runs in; 0 before it has one.
    qint64 processId();
    // A look at that process's memory: past the page's bound the render fails with OutOfMemory (the caller
    // ends the process). Its process is held below the bound by a data limit; the look also tells, when the
    // process ends, whether it ended at that limit.
    bool sample(const ProcessMemory::Usage& usage);
    // Ends the render now, before its page does (its process's memory, or its time).
    void abandon(int status, const QString& reason) { finish(status, reason); }

signals:
    // status is a RenderFrame::ExitStatus; page is set when it is Rendered, reason otherwise.
    void finished(int status, const QString& reason, const RenderFrame::Page& page);

private:
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void poll();
    void serialise();
    void finish(int status, const QString& reason, const RenderFrame::Page& page = {});

    Limits m_limits;
    RenderPage* m_page = nullptr;
    SiteHeaders* m_headers = nullptr;
    QTimer m_deadline;
    QTimer m_poll;
    QElapsedTimer m_sinceLoad;
    QElapsedTimer m_sinceChange;
    qlonglong m_mutations = -1;
    bool m_loaded = false;
    bool m_done = false;
    bool m_polling = false;
    int m_status = 200;
    qint64 m_pid = 0;
    qint64 m_peakDataBytes = 0;
};
