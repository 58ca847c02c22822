// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/renderframe.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class RenderPage;

// Loads one address in a browser engine page of its own, off the record, runs its scripts, waits until
// the document has loaded and its DOM has stayed unchanged for a quiet time (or a cap has passed), and
// hands back the serialised DOM. Every way it can end is reported once through finished().
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
    };

    explicit PageRenderer(const Limits& limits, QObject* parent = nullptr);
    ~PageRenderer() override;

    void start(const QUrl& address);

signals:
    // status is a RenderFrame::ExitStatus; page is set when it is Rendered, reason otherwise.
    void finished(int status, const QString& reason, const RenderFrame::Page& page);

private:
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void poll();
    void serialise();
    void finish(int status, const QString& reason, const RenderFrame::Page& page = {});

    Limits m_limits;
    QWebEngineProfile* m_profile = nullptr;
    RenderPage* m_page = nullptr;
    QTimer m_deadline;
    QTimer m_poll;
    QElapsedTimer m_sinceLoad;
    QElapsedTimer m_sinceChange;
    qlonglong m_mutations = -1;
    bool m_loaded = false;
    bool m_done = false;
    bool m_polling = false;
    int m_status = 200;
};
