// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/pagerenderrunner.h"

#include "engine/renderframe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

static_assert(RenderFrame::MaxRedirects == PageFetch::MaxRedirects, "a render follows redirections as a download");

namespace {
const QString kProgramName = QStringLiteral("vantrel-render");
// The helper's start and its own clean-up, beyond the bound it keeps itself.
constexpr int KillGraceMs = 5000;
// The frame's header, beyond the document the helper caps.
constexpr qint64 FrameSlack = 64 * 1024;

const char* const KilledReasonProperty = "vantrel_killed_reason";
// The engine starts in about half a second; a loaded machine may take a few.
constexpr int ProbeTimeoutMs = 15000;

FetchedPage failedPage(const QString& address, const QString& reason, int status = 0)
{
    FetchedPage page;
    page.url = QUrl(address);
    page.error = reason;
    page.status = status;
    return page;
}

// The helper's own one-line reason: the last line it wrote under its name (the engine writes lines of
// its own before it).
QString reasonOf(const QByteArray& err)
{
    const QByteArray prefix = kProgramName.toUtf8() + ": ";
    const QList<QByteArray> lines = err.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (it->startsWith(prefix))
            return QString::fromUtf8(it->mid(prefix.size())).trimmed();
    }
    return {};
}
} // namespace

PageRenderRunner::PageRenderRunner(QObject* parent) : QObject(parent), m_program(defaultProgram()) {}

PageRenderRunner::~PageRenderRunner()
{
    abortAll();
}

QString PageRenderRunner::defaultProgram()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(kProgramName);
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString onPath = QStandardPaths::findExecutable(kProgramName);
    return onPath.isEmpty() ? beside : onPath;
}

void PageRenderRunner::setProgram(const QString& path)
{
    m_program = path;
    m_engine = Engine::Unknown;
    m_engineProblem.clear();
}

bool PageRenderRunner::isAvailable() const
{
    const QFileInfo info(m_program);
    return info.isFile() && info.isExecutable() && m_engine != Engine::Fails;
}

QString PageRenderRunner::unavailableReason() const
{
    if (isAvailable())
        return {};
    if (m_engine == Engine::Fails)
        return tr("The browser engine of vantrel-render cannot start here: %1").arg(m_engineProblem);
    return missingMessage();
}

void PageRenderRunner::probeEngine()
{
    if (m_engine != Engine::Unknown)
        return;
    if (!isAvailable()) {
        emit engineChecked(false, unavailableReason());
        return;
    }
    m_engine = Engine::Probing;
    auto* process = new QProcess(this);
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, process, [process] {
        process->setProperty(KilledReasonProperty, tr("it did not start within %1 s").arg(ProbeTimeoutMs / 1000));
        process->kill();
    });
    const QString program = m_program;
    auto done = [this, process, program] {
        if (m_program != program || m_engine != Engine::Probing) {
            process->deleteLater();
            return; // another helper was set meanwhile
        }
        const QString killed = process->property(KilledReasonProperty).toString();
        const bool works =
            killed.isEmpty() && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
        if (!works) {
            const QString reason = reasonOf(process->readAllStandardError());
            m_engineProblem = !killed.isEmpty()                               ? killed
                              : process->exitStatus() != QProcess::NormalExit ? tr("it stopped unexpectedly")
                              : reason.isEmpty() ? RenderFrame::describe(process->exitCode())
                                                 : reason;
        }
        m_engine = works ? Engine::Works : Engine::Fails;
        process->deleteLater();
        emit engineChecked(works, unavailableReason());
    };
    connect(process, &QProcess::finished, this, done);
    connect(process, &QProcess::errorOccurred, this, [process, done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            process->setProperty(KilledReasonProperty, process->errorString());
            done();
        }
    });
    deadline->start(ProbeTimeoutMs);
    process->start(m_program, {QStringLiteral("--probe")}, QIODevice::ReadOnly);
}

QString PageRenderRunner::missingMessage()
{
    return tr("The page renderer vantrel-render is not installed: install the package vantrel-monitor-render.");
}

void PageRenderRunner::setMaxRunning(int renders)
{
    m_maxRunning = qMax(1, renders);
    pump();
}

quint64 PageRenderRunner::render(const QString& address, QObject* context, Callback done)
{
    Job job{m_nextTicket++, address, context, std::move(done)};
    const quint64 ticket = job.ticket;
    m_waiting.append(std::move(job));
    pump();
    return ticket;
}

void PageRenderRunner::cancel(quint64 ticket)
{
    for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
        if (it->ticket == ticket) {
            m_waiting.erase(it);
            return;
        }
    }
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it->ticket == ticket) {
            QProcess* process = it.key();
            m_running.erase(it);
            process->disconnect(this);
            process->kill();
            process->waitForFinished(1000); // after a kill the end comes at once
            process->deleteLater();
            pump();
            return;
        }
    }
}

void PageRenderRunner::abortAll()
{
    m_waiting.clear();
    const QList<QProcess*> processes = m_running.keys();
    m_running.clear();
    for (QProcess* process : processes) {
        process->disconnect(this);
        process->kill();
    }
    for (QProcess* process : processes) {
        process->waitForFinished(1000);
        delete process;
    }
}

QList<qint64> PageRenderRunner::processIds() const
{
    QList<qint64> ids;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it)
        ids.append(it.key()->processId());
    return ids;
}

void PageRenderRunner::pump()
{
    while (int(m_running.size()) < m_maxRunning && !m_waiting.isEmpty()) {
        Job job = m_waiting.takeFirst();
        if (!job.context)
            continue; // its task is gone: nothing to start
        start(job);
    }
}

void PageRenderRunner::start(const Job& job)
{
    auto* process = new QProcess(this);
    m_running.insert(process, job);
    m_peakRunning = qMax(m_peakRunning, int(m_running.size()));
    const qint64 limit = PageFetch::maxBodyBytes();

    connect(process, &QProcess::finished, this, [this, process] { ended(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(process,
                failedPage(m_running.value(process).address,
                           isAvailable() ? tr("The page renderer could not be started: %1").arg(process->errorString())
                                         : missingMessage()));
    });
    // A helper writing more than it may is stopped at once instead of filling this program's memory.
    connect(process, &QProcess::readyReadStandardOutput, this, [process, limit] {
        if (process->bytesAvailable() > limit + FrameSlack && !process->property(KilledReasonProperty).isValid()) {
            process->setProperty(KilledReasonProperty, tr("the rendered page is too large"));
            process->kill();
        }
    });
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, process, [process] {
        process->setProperty(KilledReasonProperty, tr("rendering the page took too long"));
        process->kill();
    });
    deadline->start(m_timeoutMs + KillGraceMs);

    QStringList arguments{QStringLiteral("--timeout-ms"), QString::number(m_timeoutMs), QStringLiteral("--max-bytes"),
                          QString::number(limit)};
    arguments += m_extraArguments;
    arguments += job.address;
    process->start(m_program, arguments, QIODevice::ReadOnly);
}

void PageRenderRunner::ended(QProcess* process)
{
    if (!m_running.contains(process))
        return;
    end(process, pageOf(process));
}

FetchedPage PageRenderRunner::pageOf(QProcess* process) const
{
    const QString address = m_running.value(process).address;
    const QString killed = process->property(KilledReasonProperty).toString();
    if (!killed.isEmpty())
        return failedPage(address, killed);
    const QByteArray err = process->readAllStandardError();
    if (process->exitStatus() != QProcess::NormalExit)
        return failedPage(address, tr("the page renderer stopped unexpectedly"));
    const int status = process->exitCode();
    if (status != RenderFrame::Rendered) {
        const QString reason = reasonOf(err);
        // An HTTP error status is reported as the download reports it.
        const QRegularExpressionMatch http = QRegularExpression(QStringLiteral("^HTTP status (\\d+)$")).match(reason);
        if (status == RenderFrame::HttpError && http.hasMatch())
            return failedPage(address, reason, http.captured(1).toInt());
        return failedPage(address, reason.isEmpty() ? RenderFrame::describe(status) : reason);
    }
    const std::optional<RenderFrame::Page> frame = RenderFrame::decode(process->readAllStandardOutput());
    if (!frame)
        return failedPage(address, tr("the page renderer wrote no whole page"));
    FetchedPage page;
    page.ok = true;
    page.body = frame->document;
    page.url = frame->url;
    page.status = frame->status;
    page.contentType = "text/html; charset=utf-8"; // the serialised DOM is always UTF-8
    return page;
}

void PageRenderRunner::end(QProcess* process, const FetchedPage& page)
{
    const auto found = m_running.find(process);
    if (found == m_running.end())
        return;
    const Job job = found.value();
    m_running.erase(found);
    process->disconnect(this);
    process->deleteLater();
    pump();
    // Last: the callback may queue, cancel or abort renders, or destroy this object's owner's state.
    if (job.context && job.done)
        job.done(page);
}
