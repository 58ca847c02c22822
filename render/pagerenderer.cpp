// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/pagerenderer.h"

#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace {
constexpr int PollMs = 100;

// Counts the DOM's changes from the first call on, in a world of its own so that the page's scripts
// neither see nor disturb it; answers the count so far.
const QString kCountMutations = QStringLiteral(
    "(function () {"
    "  if (!window.vantrelMutations) {"
    "    window.vantrelMutations = { count: 0 };"
    "    new MutationObserver(function (records) { window.vantrelMutations.count += records.length; })"
    "      .observe(document, { subtree: true, childList: true, attributes: true, characterData: true });"
    "  }"
    "  return window.vantrelMutations.count;"
    "})()");
const QString kSerialise = QStringLiteral("document.documentElement ? document.documentElement.outerHTML : ''");
} // namespace

// The task's User-Agent, added to every request of the page, and its other headers, added to those that
// go to the site it was asked of.
class SiteHeaders : public QWebEngineUrlRequestInterceptor
{
public:
    SiteHeaders(const QUrl& site, const QByteArray& userAgent, const RenderFrame::Headers& headers, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), m_site(site), m_userAgent(userAgent), m_headers(headers)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (!m_userAgent.isEmpty())
            info.setHttpHeader("User-Agent", m_userAgent);
        if (!sameSite(info.requestUrl()))
            return;
        for (const auto& header : m_headers)
            info.setHttpHeader(header.first, header.second);
    }

private:
    bool sameSite(const QUrl& url) const
    {
        const int defaultPort = m_site.scheme() == QLatin1String("https") ? 443 : 80;
        return url.scheme() == m_site.scheme() && url.host() == m_site.host() &&
               url.port(defaultPort) == m_site.port(defaultPort);
    }

    const QUrl m_site;
    const QByteArray m_userAgent;
    const RenderFrame::Headers m_headers;
};

// The page: redirections as the plain download follows them (never from https to http, at most
// RenderFrame::MaxRedirects), everything else the page's own scripts do is left alone.
class RenderPage : public QWebEnginePage
{
public:
    RenderPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

    QUrl current;
    QString refused; // why a redirection was refused; the load then fails with it
    int redirects = 0;

protected:
    // What the page's scripts write on their console is theirs: kept out of this program's output, which a
    // page flooding its console would otherwise fill.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}

    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return true;
        if (type != NavigationTypeRedirect) {
            current = url;
            return true;
        }
        if (current.scheme() == QLatin1String("https") && url.scheme() != QLatin1String("https")) {
            refused = QStringLiteral("redirection from https to %1 refused").arg(url.scheme());
            return false;
        }
        if (++redirects > RenderFrame::MaxRedirects) {
            refused = QStringLiteral("more than %1 redirections").arg(RenderFrame::MaxRedirects);
            return false;
        }
        current = url;
        return true;
    }
};

QWebEngineProfile* PageRenderer::makeProfile(QObject* parent)
{
    // A profile without a storage name is off the record: nothing on disk. The pages of several tasks share
    // it, so nothing one page got may reach another: no cache, and no cookie kept (a task's own cookies
    // travel as its request headers).
    auto* profile = new QWebEngineProfile(parent);
    profile->setHttpCacheType(QWebEngineProfile::NoCache);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->cookieStore()->setCookieFilter([](const QWebEngineCookieStore::FilterRequest&) { return false; });
    QWebEngineSettings* settings = profile->settings();
    settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    // Nothing shows a page's icon, so none is asked of its site.
    settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    settings->setAttribute(QWebEngineSettings::TouchIconsEnabled, false);
    return profile;
}

PageRenderer::PageRenderer(const Limits& limits, QWebEngineProfile* profile, QObject* parent)
    : QObject(parent), m_limits(limits)
{
    m_page = new RenderPage(profile, this);
    // A page without a view counts as hidden, and the engine holds back the timers of hidden pages (to one
    // wake-up a second): a script that builds its links a moment after loading would miss the quiet time.
    m_page->setVisible(true);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &PageRenderer::onLoadingChanged);
    // The page's memory bound goes on its process the moment the engine starts one, before the page's scripts
    // can allocate; the watch would only find it at its next look.
    connect(m_page, &QWebEnginePage::renderProcessPidChanged, this, [this] { processId(); });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                // A process whose allocation is refused at its data limit ends itself (the engine's allocators
                // stop rather than run on without memory); one last seen near that limit ended at it.
                if (status != QWebEnginePage::NormalTerminationStatus &&
                    m_peakDataBytes >= m_limits.pageMemoryBytes / 4 * 3)
                    finish(RenderFrame::OutOfMemory, pageMemoryReason(m_limits.pageMemoryBytes));
                else
                    finish(RenderFrame::EngineCrashed,
                           QStringLiteral("the browser engine's page process ended (code %1)").arg(code));
            });

    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        finish(RenderFrame::TimedOut, QStringLiteral("no page after %1 s").arg(m_deadline.interval() / 1000.0));
    });
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &PageRenderer::poll);
}

PageRenderer::~PageRenderer()
{
    // The page goes before its profile, as the engine requires.
    delete m_page;
    m_page = nullptr;
}

QString PageRenderer::pageMemoryReason(qint64 bytes)
{
    return QStringLiteral("the page used more than %1 MB while rendering").arg(bytes / (1024 * 1024));
}

qint64 PageRenderer::processId()
{
    // The engine names the page's process once it has started it (and anew if it starts another); the
    // page's memory bound goes on it at once.
    const qint64 pid = m_page ? m_page->renderProcessPid() : 0;
    if (pid != m_pid && pid > 0) {
        m_peakDataBytes = 0;
        if (!ProcessMemory::limitData(pid, m_limits.pageMemoryBytes))
            qWarning("the page process %lld runs without a data limit; its memory is watched", pid);
    }
    m_pid = pid;
    return m_pid;
}

bool PageRenderer::sample(const ProcessMemory::Usage& usage)
{
    m_peakDataBytes = qMax(m_peakDataBytes, usage.dataBytes);
    if (m_done || usage.dataBytes <= m_limits.pageMemoryBytes)
        return false;
    finish(RenderFrame::OutOfMemory, pageMemoryReason(m_limits.pageMemoryBytes));
    return true;
}

void PageRenderer::start(const RenderFrame::Request& request)
{
    if (!request.userAgent.isEmpty() || !request.headers.isEmpty()) {
        m_headers = new SiteHeaders(request.url, request.userAgent, request.headers, this);
        m_page->setUrlRequestInterceptor(m_headers);
    }
    m_deadline.start(request.timeoutMs > 0 ? request.timeoutMs : m_limits.timeoutMs);
    m_page->current = request.url;
    m_page->load(request.url);
}

void PageRenderer::onLoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (m_done)
        return;
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        // A new document (a script sent the page elsewhere): wait for it as for the first.
        m_loaded = false;
        m_poll.stop();
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
    case QWebEngineLoadingInfo::LoadFailedStatus:
        if (!m_page->refused.isEmpty())
            finish(RenderFrame::LoadFailed, m_page->refused);
        else if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            finish(RenderFrame::HttpError, QStringLiteral("HTTP status %1").arg(info.errorCode()));
        else
            finish(RenderFrame::LoadFailed,
                   info.errorString().isEmpty() ? QStringLiteral("the load was stopped") : info.errorString());
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        m_loaded = true;
        m_mutations = -1;
        m_sinceLoad.start();
        m_sinceChange.start();
        m_poll.start();
        poll();
        return;
    }
}

void PageRenderer::poll()
{
    if (m_done || !m_loaded || m_polling)
        return;
    m_polling = true; // one question to the page at a time
    m_page->runJavaScript(kCountMutations, QWebEngineScript::ApplicationWorld, [this](const QVariant& value) {
        m_polling = false;
        if (m_done || !m_loaded)
            return;
        const qlonglong count = value.toLongLong();
        if (count != m_mutations) {
            m_mutations = count;
            m_sinceChange.start();
        }
        if (m_sinceChange.elapsed() >= m_limits.quietMs || m_sinceLoad.elapsed() >= m_limits.settleCapMs)
            serialise();
    });
}

void PageRenderer::serialise()
{
    // Read in the page's own world, the one its scripts built the document in.
    m_poll.stop();
    m_loaded = false; // no further polls
    m_page->runJavaScript(kSerialise, QWebEngineScript::MainWorld, [this](const QVariant& value) {
        if (m_done)
            return;
        RenderFrame::Page page;
        page.url = m_page->url();
        page.status = m_status;
        page.document = value.toString().toUtf8();
        if (page.document.size() > m_limits.maxBytes)
            finish(RenderFrame::TooLarge, QStringLiteral("the page is larger than %1 bytes").arg(m_limits.maxBytes));
        else
            finish(RenderFrame::Rendered, {}, page);
    });
}

void PageRenderer::finish(int status, const QString& reason, const RenderFrame::Page& page)
{
    if (m_done)
        return;
    m_done = true;
    m_poll.stop();
    m_deadline.stop();
    emit finished(status, reason, page);
}
