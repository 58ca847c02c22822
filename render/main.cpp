// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-render: loads one page in a browser engine, runs its scripts and writes the document they built
// on standard output, for Vantrel Monitor's tasks whose pages build their links with scripts.
#include "render/pagerenderer.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <climits>
#include <cstdio>
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
        QStringLiteral("Loads ADDRESS with its scripts and writes the document they built on standard output.\n"
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
    const QCommandLineOption timeout(QStringLiteral("timeout-ms"),
                                     QStringLiteral("The bound of the whole run (default 30000)."),
                                     QStringLiteral("ms"));
    const QCommandLineOption maxBytes(QStringLiteral("max-bytes"),
                                      QStringLiteral("The largest document written (default 32 MiB)."),
                                      QStringLiteral("bytes"));
    const QCommandLineOption probe(QStringLiteral("probe"),
                                   QStringLiteral("Only start the browser engine on an empty page and end: status 0 "
                                                  "when it works, else status 7 with the reason."));
    parser.addOptions({quiet, cap, timeout, maxBytes, probe});
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("The http or https address to load."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    if (!parser.parse(app.arguments()))
        return fail(RenderFrame::Usage, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }

    PageRenderer::Limits limits;
    qint64 quietMs = limits.quietMs, capMs = limits.settleCapMs, timeoutMs = limits.timeoutMs;
    if (!positive(parser, quiet, quietMs) || !positive(parser, cap, capMs) || !positive(parser, timeout, timeoutMs) ||
        !positive(parser, maxBytes, limits.maxBytes) || quietMs > INT_MAX || capMs > INT_MAX || timeoutMs > INT_MAX)
        return fail(RenderFrame::Usage, QStringLiteral("limits are positive numbers"));
    limits.quietMs = int(quietMs);
    limits.settleCapMs = int(capMs);
    limits.timeoutMs = int(timeoutMs);
    const bool probing = parser.isSet(probe);
    const QStringList positional = parser.positionalArguments();
    const QUrl address = probing                  ? QUrl(QStringLiteral("about:blank"))
                         : positional.size() == 1 ? QUrl(positional[0], QUrl::StrictMode)
                                                  : QUrl();
    if (!probing && (!address.isValid() ||
                     (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https"))))
        return fail(RenderFrame::Usage, QStringLiteral("give one http or https address"));
    if (probing)
        limits.quietMs = 1;

    PageRenderer renderer(limits);
    QObject::connect(&renderer, &PageRenderer::finished, &app,
                     [&app, probing](int result, const QString& reason, const RenderFrame::Page& page) {
                         if (probing) {
                             if (result != RenderFrame::Rendered)
                                 fail(RenderFrame::NoEngine, reason);
                             app.exit(result == RenderFrame::Rendered ? 0 : int(RenderFrame::NoEngine));
                             return;
                         }
                         if (result == RenderFrame::Rendered) {
                             const QByteArray frame = RenderFrame::encode(page);
                             std::fwrite(frame.constData(), 1, size_t(frame.size()), stdout);
                             std::fflush(stdout);
                         } else {
                             fail(result, reason);
                         }
                         app.exit(result);
                     });
    renderer.start(address);
    return app.exec();
}
