// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-render: loads pages in a browser engine, runs their scripts and writes the documents they built
// on standard output, for Vantrel Monitor's tasks whose pages build their links with scripts. The pages
// are asked for on standard input (engine/renderframe.h), several rendered at once by one engine.
#include "render/pagerenderer.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebEngineProfile>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {
bool positive(const QCommandLineParser& parser, const QCommandLineOption& option, qint64& into)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const qint64 value = parser.value(option).toLongLong(&ok);
    if (!ok || value <= 0)
        return false;
    into = value;
    return true;
}

int fail(int status, const QString& reason)
{
    std::fprintf(stderr, "vantrel-render: %s\n", qUtf8Printable(reason));
    return status;
}

void write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool webAddress(const QUrl& url)
{
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Reads the requests on standard input and renders each in a page of its own; answers each as it ends.
// Ends when standard input has closed and the last render has been answered.
// Each page runs in a page process of its own, held to the page's memory bound; the processes of the helper
// together are held to totalMemoryBytes by ending the largest page process when they pass it.
class Server : public QObject
{
public:
    Server(const PageRenderer::Limits& limits, qint64 totalMemoryBytes)
        : m_limits(limits), m_totalMemoryBytes(totalMemoryBytes), m_profile(PageRenderer::makeProfile(nullptr)),
          m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_input, &QSocketNotifier::activated, this, &Server::read);
        m_watch.setInterval(WatchMs);
        connect(&m_watch, &QTimer::timeout, this, &Server::watch);
    }

private:
    // Page processes are looked at often (one small file each); all processes of the helper less often.
    static constexpr int WatchMs = 50;
    static constexpr int TreeEvery = 4;

    void watch()
    {
        QHash<qint64, QList<PageRenderer*>> byProcess;
        for (PageRenderer* renderer : std::as_const(m_renders)) {
            if (renderer->processId() > 0)
                byProcess[renderer->processId()].append(renderer);
        }
        qint64 largest = 0;
        qint64 largestBytes = -1;
        qint64 pagesBytes = 0; // of the page processes left running: a part of the total, known at every look
        for (auto it = byProcess.cbegin(); it != byProcess.cend(); ++it) {
            const ProcessMemory::Usage usage = ProcessMemory::of(it.key());
            bool over = false;
            for (PageRenderer* renderer : it.value())
                over = renderer->sample(usage) || over;
            if (over) {
                ::kill(pid_t(it.key()), SIGKILL);
                continue;
            }
            pagesBytes += qMax<qint64>(0, usage.anonBytes);
            if (usage.anonBytes > largestBytes)
                largest = it.key(), largestBytes = usage.anonBytes;
        }
        // The page processes alone past the total are ended at once: a page can grow by a gigabyte between two
        // looks at the whole tree, and would otherwise meet its own bound first.
        const bool treeTick = ++m_ticks % TreeEvery == 0;
        if (largest == 0 || (!treeTick && pagesBytes <= m_totalMemoryBytes))
            return;
        qint64 total = pagesBytes;
        if (treeTick) {
            total = 0;
            for (qint64 pid : ProcessMemory::tree())
                total += qMax<qint64>(0, ProcessMemory::of(pid).anonBytes);
        }
        if (total <= m_totalMemoryBytes)
            return;
        const QString reason = QStringLiteral("the pages rendered at once used more than %1 MB, this one the most")
                                   .arg(m_totalMemoryBytes / (1024 * 1024));
        for (PageRenderer* renderer : byProcess.value(largest))
            renderer->abandon(RenderFrame::OutOfMemory, reason);
        ::kill(pid_t(largest), SIGKILL);
    }

    // A page process left spinning or growing by the page it held is ended, unless another page uses it.
    void endProcessOf(PageRenderer* ended)
    {
        const qint64 pid = ended->processId();
        if (pid <= 0)
            return;
        for (PageRenderer* renderer : std::as_const(m_renders)) {
            if (renderer != ended && renderer->processId() == pid)
                return;
        }
        ::kill(pid_t(pid), SIGKILL);
    }

    void read()
    {
        char chunk[64 * 1024];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (got <= 0) {
            m_input.setEnabled(false);
            m_closed = true;
            endIfDone();
            return;
        }
        m_reader.feed(QByteArray(chunk, got));
        bool cancel = false;
        while (const std::optional<RenderFrame::Request> request = m_reader.nextRequest(&cancel)) {
            if (cancel)
                drop(request->id);
            else
                start(*request);
        }
        if (m_reader.failed()) {
            fail(RenderFrame::Usage, QStringLiteral("a request that is not one"));
            QCoreApplication::exit(RenderFrame::Usage);
        }
    }

    void start(const RenderFrame::Request& request)
    {
        if (!webAddress(request.url) || m_renders.contains(request.id)) {
            write(RenderFrame::encodeAnswer({request.id,
                                             RenderFrame::Usage,
                                             QStringLiteral("give one new render of an http or https address"),
                                             {}}));
            return;
        }
        auto* renderer = new PageRenderer(m_limits, m_profile.get(), &m_pages);
        m_renders.insert(request.id, renderer);
        const quint64 id = request.id;
        connect(renderer, &PageRenderer::finished, this,
                [this, id, renderer](int result, const QString& reason, const RenderFrame::Page& page) {
                    write(RenderFrame::encodeAnswer({id, result, reason, page}));
                    if (result == RenderFrame::TimedOut || result == RenderFrame::OutOfMemory)
                        endProcessOf(renderer);
                    drop(id);
                });
        renderer->start(request);
        m_watch.start();
    }

    void drop(quint64 id)
    {
        if (PageRenderer* renderer = m_renders.take(id))
            renderer->deleteLater();
        if (m_renders.isEmpty())
            m_watch.stop();
        endIfDone();
    }

    void endIfDone()
    {
        if (m_closed && m_renders.isEmpty())
            QCoreApplication::exit(0);
    }

    PageRenderer::Limits m_limits;
    qint64 m_totalMemoryBytes;
    std::unique_ptr<QWebEngineProfile> m_profile;
    QTimer m_watch;
    int m_ticks = 0;
    QObject m_pages; // the renderers: destroyed before the profile, as the engine requires
    QSocketNotifier m_input;
    RenderFrame::Reader m_reader{0};
    QHash<quint64, PageRenderer*> m_renders;
    bool m_closed = false;
};
} // namespace

int main(int argc, char* argv[])
{
    // Chromium refuses to start as root with its sandbox on; there it runs without it.
    const bool root = geteuid() == 0;
    if (root)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1"); // the engine's own way of passing --no-sandbox
    // The page has no view, so the engine counts it as in the background and holds its timers back; a
    // script that builds the links a moment after loading must run when it asks to.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --disable-background-timer-throttling --disable-renderer-backgrounding";
    // No bound on the number of page processes: each page gets one of its own (the engine's default for
    // pages that share no window), so a page that spins or grows fails alone.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    // Nothing is ever shown, whatever display the caller has.
    qputenv("QT_QPA_PLATFORM", "offscreen");

    // The engine's report of its start-up set-up is noise to the caller, which reads the last line.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("vantrel-render"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads render requests on standard input, loads each page with its scripts and writes the "
                       "documents they built on standard output; ends when standard input closes.\n"
                       "Run as root, it starts the browser engine with --no-sandbox (the engine refuses to "
                       "run as root otherwise); as any other user the sandbox stays on.%1")
            .arg(root ? QStringLiteral("\nRunning as root now: the sandbox is off.") : QString()));
    parser.addHelpOption();
    const QCommandLineOption quiet(QStringLiteral("quiet-ms"),
                                   QStringLiteral("How long the DOM must stay unchanged (default 500)."),
                                   QStringLiteral("ms"));
    const QCommandLineOption cap(QStringLiteral("settle-cap-ms"),
                                 QStringLiteral("The longest wait for a quiet DOM after loading (default 8000)."),
                                 QStringLiteral("ms"));
    const QCommandLineOption maxBytes(QStringLiteral("max-bytes"),
                                      QStringLiteral("The largest document written (default 32 MiB)."),
                                      QStringLiteral("bytes"));
    const QCommandLineOption probe(QStringLiteral("probe"),
                                   QStringLiteral("Only start the browser engine on an empty page and end: status 0 "
                                                  "when it works, else status 7 with the reason."));
    const QCommandLineOption pageMemory(
        QStringLiteral("page-memory"),
        QStringLiteral("The memory a page's process may take (default 256 MiB); past it the page fails."),
        QStringLiteral("bytes"));
    const QCommandLineOption totalMemory(
        QStringLiteral("total-memory"),
        QStringLiteral("The memory this helper's processes may take together (default 1 GiB); past it the "
                       "largest page fails."),
        QStringLiteral("bytes"));
    parser.addOptions({quiet, cap, maxBytes, pageMemory, totalMemory, probe});
    if (!parser.parse(app.arguments()) || !parser.positionalArguments().isEmpty())
        return fail(RenderFrame::Usage, parser.errorText().isEmpty()
                                            ? QStringLiteral("pages are asked for on standard input")
                                            : parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }

    PageRenderer::Limits limits;
    qint64 quietMs = limits.quietMs, capMs = limits.settleCapMs;
    qint64 totalMemoryBytes = RenderFrame::DefaultTotalMemoryBytes;
    if (!positive(parser, quiet, quietMs) || !positive(parser, cap, capMs) ||
        !positive(parser, maxBytes, limits.maxBytes) || !positive(parser, pageMemory, limits.pageMemoryBytes) ||
        !positive(parser, totalMemory, totalMemoryBytes) || quietMs > INT_MAX || capMs > INT_MAX)
        return fail(RenderFrame::Usage, QStringLiteral("limits are positive numbers"));
    limits.quietMs = int(quietMs);
    limits.settleCapMs = int(capMs);

    if (parser.isSet(probe)) {
        limits.quietMs = 1;
        QWebEngineProfile* profile = PageRenderer::makeProfile(&app);
        PageRenderer renderer(limits, profile);
        QObject::connect(&renderer, &PageRenderer::finished, &app, [&app](int result, const QString& reason) {
            if (result != RenderFrame::Rendered)
                fail(RenderFrame::NoEngine, reason);
            app.exit(result == RenderFrame::Rendered ? 0 : int(RenderFrame::NoEngine));
        });
        RenderFrame::Request blank;
        blank.url = QUrl(QStringLiteral("about:blank"));
        renderer.start(blank);
        return app.exec();
    }

    Server server(limits, totalMemoryBytes);
    return app.exec();
}
