// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/rendering/pagerenderrunner.h"

#include "engine/logging.h"
#include "engine/rendering/renderframe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <climits>
#include <memory>

#include <sys/resource.h>

static_assert(RenderFrame::MaxRedirects == PageFetch::MaxRedirects, "a render follows redirections as a download");

namespace {
const QString kProgramName = QStringLiteral("vantrel-render");
// The helper's start and its own clean-up, beyond the bound it keeps itself.
constexpr int KillGraceMs = 5000;
// The last bytes of a helper's standard error kept for its reason.
constexpr qsizetype ErrorTailBytes = 4096;

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

PageRenderRunner::PageRenderRunner(QObject* parent)
    : QObject(parent), m_program(defaultProgram()), m_scopeProgram(defaultScopeProgram())
{
    m_sweep.setSingleShot(true);
    connect(&m_sweep, &QTimer::timeout, this, &PageRenderRunner::sweep);
}

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

QString PageRenderRunner::defaultScopeProgram()
{
    // The user's service manager listens on its private socket in the user's runtime folder; without it
    // (no desktop session, a container) there is no scope to ask for.
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (runtime.isEmpty() || !QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("systemd/private"))))
        return {};
    return QStandardPaths::findExecutable(QStringLiteral("systemd-run"));
}

void PageRenderRunner::setMemoryLimits(qint64 pageBytes, qint64 totalBytes)
{
    m_totalMemoryBytes = totalBytes > 0 ? totalBytes : RenderFrame::DefaultTotalMemoryBytes;
    m_pageMemoryBytes = qMin(pageBytes > 0 ? pageBytes : RenderFrame::DefaultPageMemoryBytes, m_totalMemoryBytes);
}

void PageRenderRunner::startBoxed(QProcess* process, const QStringList& arguments, bool scoped,
                                  QIODevice::OpenMode mode) const
{
    // Every process of the helper, the engine's among them, inherits a data limit of the total: none can
    // take more alone, whether or not a scope holds them all. (An address-space limit would not do: the
    // engine reserves far more address space than it uses and does not start under one.)
    const rlim_t total = rlim_t(m_totalMemoryBytes);
    process->setChildProcessModifier([total] {
        const struct rlimit limit
        {
            total, total
        };
        ::setrlimit(RLIMIT_DATA, &limit);
    });
    if (!scoped) {
        process->start(m_program, arguments, mode);
        return;
    }
    // systemd-run starts the helper in its own place, within a scope capped at the total.
    const QStringList scope{QStringLiteral("--user"),  QStringLiteral("--scope"),
                            QStringLiteral("--quiet"), QStringLiteral("--collect"),
                            QStringLiteral("-p"),      QStringLiteral("MemoryMax=%1").arg(m_totalMemoryBytes),
                            QStringLiteral("-p"),      QStringLiteral("MemorySwapMax=0"),
                            QStringLiteral("--"),      m_program};
    process->start(m_scopeProgram, scope + arguments, mode);
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
    // Read as it comes, keeping the last lines only: an engine that cannot start may say much.
    auto errors = std::make_shared<QByteArray>();
    connect(process, &QProcess::readyReadStandardError, process,
            [process, errors] { *errors = (*errors + process->readAllStandardError()).right(ErrorTailBytes); });
    const QString program = m_program;
    auto done = [this, process, program, errors] {
        if (m_program != program || m_engine != Engine::Probing) {
            process->deleteLater();
            return; // another helper was set meanwhile
        }
        const QString killed = process->property(KilledReasonProperty).toString();
        const bool works =
            killed.isEmpty() && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
        if (!works) {
            *errors = (*errors + process->readAllStandardError()).right(ErrorTailBytes);
            const QString reason = reasonOf(*errors);
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
    startBoxed(process, {QStringLiteral("--probe")}, false, QIODevice::ReadOnly);
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

quint64 PageRenderRunner::render(const QString& address, QObject* context, Callback done, Priority priority)
{
    FetchRequest request;
    request.address = address;
    return render(request, context, std::move(done), priority);
}

quint64 PageRenderRunner::render(const FetchRequest& request, QObject* context, Callback done, Priority priority)
{
    Job job{m_nextTicket++, request, priority, context, std::move(done), QDeadlineTimer(m_timeoutMs)};
    const quint64 ticket = job.ticket;
    m_waiting.add(std::move(job));
    pump();
    return ticket;
}

void PageRenderRunner::cancel(quint64 ticket)
{
    if (m_waiting.remove(ticket))
        return;
    for (Helper* helper : std::as_const(m_helpers)) {
        if (!helper->held.remove(ticket))
            continue;
        if (helper->closing) {
            endHelper(helper, {}); // it can no longer be told; it held this page alone
        } else {
            helper->process->write(RenderFrame::encodeCancel(ticket));
            if (helper->held.isEmpty())
                helper->idle->start(m_idleMs);
        }
        pump();
        return;
    }
}

void PageRenderRunner::abortAll()
{
    m_waiting.clear();
    const QList<Helper*> helpers = std::exchange(m_helpers, {});
    for (Helper* helper : helpers) {
        helper->process->disconnect(this);
        helper->process->kill();
    }
    for (Helper* helper : helpers) {
        helper->process->waitForFinished(1000); // after a kill the end comes at once
        delete helper->process;
        delete helper;
    }
    m_sweep.stop();
}

int PageRenderRunner::running() const
{
    int pages = 0;
    for (const Helper* helper : m_helpers)
        pages += int(helper->held.size());
    return pages;
}

QList<qint64> PageRenderRunner::processIds() const
{
    QList<qint64> ids;
    for (const Helper* helper : m_helpers)
        ids.append(helper->process->processId());
    return ids;
}

void PageRenderRunner::pump()
{
    for (m_waiting.dropOrphans(); !m_waiting.isEmpty(); m_waiting.dropOrphans()) {
        Helper* helper = helperWithRoom();
        if (!helper)
            break;
        send(helper, m_waiting.takeFirst());
    }
    m_peakRunning = qMax(m_peakRunning, running());
    sweep();
}

PageRenderRunner::Helper* PageRenderRunner::helperWithRoom()
{
    if (running() >= m_maxRunning)
        return nullptr;
    if (!m_processPerPage) {
        for (Helper* helper : std::as_const(m_helpers)) {
            if (!helper->closing)
                return helper;
        }
    }
    return startHelper();
}

PageRenderRunner::Helper* PageRenderRunner::startHelper()
{
    auto* helper = new Helper;
    helper->process = new QProcess(this);
    helper->scoped = !m_scopeProgram.isEmpty();
    helper->answers = RenderFrame::Reader(PageFetch::maxBodyBytes());
    helper->idle = new QTimer(helper->process);
    helper->idle->setSingleShot(true);
    m_helpers.append(helper);
    QProcess* process = helper->process;

    connect(process, &QProcess::finished, this, [this, process] { helperEnded(process); });
    // Queued: a helper that cannot start is ended once it has been handed its first render.
    connect(
        process, &QProcess::errorOccurred, this,
        [this, process](QProcess::ProcessError error) {
            Helper* helper = helperOf(process);
            if (helper && error == QProcess::FailedToStart && !scopeRefused(helper))
                endHelper(helper, isAvailable()
                                      ? tr("The page renderer could not be started: %1").arg(process->errorString())
                                      : missingMessage());
        },
        Qt::QueuedConnection);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (Helper* helper = helperOf(process))
            readAnswers(helper);
    });
    connect(process, &QProcess::readyReadStandardError, this, [this, process] {
        if (Helper* helper = helperOf(process))
            readErrors(helper);
    });
    // Idle for a while: its input is closed, and it ends; one that does not is ended a little later.
    connect(helper->idle, &QTimer::timeout, this, [this, process] {
        Helper* helper = helperOf(process);
        if (!helper || !helper->held.isEmpty())
            return;
        if (helper->closing) {
            endHelper(helper, {});
            return;
        }
        helper->closing = true;
        process->closeWriteChannel();
        helper->idle->start(KillGraceMs);
    });

    QStringList arguments{QStringLiteral("--max-bytes"),    QString::number(PageFetch::maxBodyBytes()),
                          QStringLiteral("--page-memory"),  QString::number(m_pageMemoryBytes),
                          QStringLiteral("--total-memory"), QString::number(m_totalMemoryBytes)};
    arguments += m_extraArguments;
    startBoxed(process, arguments, helper->scoped);
    return helper;
}

void PageRenderRunner::send(Helper* helper, Job job)
{
    RenderFrame::Request request;
    request.id = job.ticket;
    request.url = QUrl(job.request.address);
    // What is left of the render's bound, which began when it was asked for.
    request.timeoutMs = int(qMax<qint64>(1, job.deadline.remainingTime()));
    for (const RequestHeaders::Header& header : std::as_const(job.request.headers)) {
        if (header.first.compare("User-Agent", Qt::CaseInsensitive) == 0)
            request.userAgent = header.second;
        else
            request.headers.append(header);
    }
    helper->idle->stop();
    helper->process->write(RenderFrame::encodeRequest(request));
    helper->held.insert(job.ticket, std::move(job));
    if (m_processPerPage) {
        helper->closing = true;
        helper->process->closeWriteChannel();
    }
}

void PageRenderRunner::readAnswers(Helper* helper)
{
    helper->answers.feed(helper->process->readAllStandardOutput());
    QList<QPair<Job, FetchedPage>> ended;
    while (const std::optional<RenderFrame::Answer> answer = helper->answers.nextAnswer()) {
        const auto found = helper->held.find(answer->id);
        helper->answered = true;
        if (found == helper->held.end())
            continue; // cancelled meanwhile
        const QString address = found->request.address;
        FetchedPage page;
        if (answer->result == RenderFrame::Rendered) {
            page.ok = true;
            page.body = answer->page.document;
            page.url = answer->page.url;
            page.status = answer->page.status;
            page.contentType = "text/html; charset=utf-8"; // the serialised DOM is always UTF-8
        } else {
            const QString reason = answer->reason.isEmpty() ? RenderFrame::describe(answer->result) : answer->reason;
            // An HTTP error status is reported as the download reports it.
            const QRegularExpressionMatch http =
                QRegularExpression(QStringLiteral("^HTTP status (\\d+)$")).match(reason);
            page =
                failedPage(address, reason,
                           answer->result == RenderFrame::HttpError && http.hasMatch() ? http.captured(1).toInt() : 0);
        }
        ended.append({found.value(), page});
        helper->held.erase(found);
    }
    if (helper->answers.failed())
        endHelper(helper, tr("the page renderer wrote no whole page"));
    else if (helper->held.isEmpty() && !helper->closing)
        helper->idle->start(m_idleMs);
    pump();
    // Last: a callback may queue, cancel or abort renders, or destroy this object's owner's state.
    for (auto& [job, page] : ended)
        deliver(std::move(job), page);
}

void PageRenderRunner::readErrors(Helper* helper)
{
    const QByteArray bytes = helper->process->readAllStandardError();
    helper->errorBytes += bytes.size();
    helper->errorTail = (helper->errorTail + bytes).right(ErrorTailBytes);
    if (helper->errorBytes > m_maxErrorBytes)
        endHelper(helper, tr("the page renderer wrote too much on its error output"));
}

void PageRenderRunner::helperEnded(QProcess* process)
{
    Helper* helper = helperOf(process);
    if (!helper)
        return;
    helper->closing = true; // no render goes to it any more
    readAnswers(helper);    // what it wrote before it ended still counts
    helper = helperOf(process);
    if (!helper)
        return;
    readErrors(helper);
    helper = helperOf(process);
    if (!helper || scopeRefused(helper))
        return;
    QString reason;
    if (process->exitStatus() != QProcess::NormalExit) {
        reason = tr("the page renderer stopped unexpectedly");
    } else if (!helper->held.isEmpty() && helper->answers.buffered() > 0) {
        reason = tr("the page renderer wrote no whole page");
    } else if (!helper->held.isEmpty()) {
        reason = reasonOf(helper->errorTail);
        if (reason.isEmpty())
            reason = process->exitCode() == 0 ? tr("the page renderer ended before it answered")
                                              : RenderFrame::describe(process->exitCode());
    }
    endHelper(helper, reason);
}

bool PageRenderRunner::scopeRefused(Helper* helper)
{
    // The helper names itself in what it writes before it ends; a scope that never started it did not.
    QProcess* process = helper->process;
    const bool failedToStart = process->error() == QProcess::FailedToStart;
    if (!helper->scoped || helper->answered || m_scopeProgram.isEmpty() ||
        (!failedToStart && (process->exitStatus() != QProcess::NormalExit || process->exitCode() == 0 ||
                            !reasonOf(helper->errorTail).isEmpty())))
        return false;
    qCWarning(lcEngine).noquote() << "The memory scope for the page renderer could not be started, it runs without one:"
                                  << (failedToStart ? process->errorString()
                                                    : QString::fromUtf8(helper->errorTail.trimmed().right(500)));
    m_scopeProgram.clear();
    for (Job& job : helper->held)
        m_waiting.add(std::move(job));
    helper->held.clear();
    endHelper(helper, {});
    return true;
}

void PageRenderRunner::endHelper(Helper* helper, const QString& reason)
{
    if (!m_helpers.removeOne(helper))
        return;
    QProcess* process = helper->process;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(1000); // after a kill the end comes at once
    }
    process->deleteLater();
    const QList<Job> held = helper->held.values();
    delete helper;
    pump();
    for (const Job& job : held)
        deliver(job, failedPage(job.request.address, reason));
}

void PageRenderRunner::sweep()
{
    const QList<Job> late = m_waiting.takeIf([](const Job& job) { return job.deadline.hasExpired(); });
    qint64 next = -1;
    auto soonest = [&next](qint64 ms) { next = next < 0 ? ms : qMin(next, ms); };
    m_waiting.forEach([&soonest](const Job& job) { soonest(job.deadline.remainingTime()); });
    Helper* overdue = nullptr;
    for (Helper* helper : std::as_const(m_helpers)) {
        for (const Job& job : std::as_const(helper->held)) {
            // The helper bounds the render itself; one that has not answered a while after is stuck.
            const qint64 left = job.deadline.deadline() - QDeadlineTimer::current().deadline() + KillGraceMs;
            if (left <= 0)
                overdue = helper;
            soonest(qMax<qint64>(0, left));
        }
    }
    if (next >= 0)
        m_sweep.start(int(qMin<qint64>(next, INT_MAX)));
    else
        m_sweep.stop();
    if (overdue)
        endHelper(overdue, tr("rendering the page took too long"));
    for (const Job& job : late)
        deliver(job, failedPage(job.request.address, tr("rendering the page took too long")));
}

void PageRenderRunner::deliver(Job job, const FetchedPage& page)
{
    if (job.context && job.done)
        job.done(page);
}

PageRenderRunner::Helper* PageRenderRunner::helperOf(QProcess* process)
{
    for (Helper* helper : std::as_const(m_helpers)) {
        if (helper->process == process)
            return helper;
    }
    return nullptr;
}
