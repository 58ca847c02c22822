// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/rendering/renderframe.h"

#include <QCoreApplication>

namespace {
const QByteArray kAnswer = QByteArrayLiteral("vantrel-render 1");
const QByteArray kRender = QByteArrayLiteral("render ");
const QByteArray kCancel = QByteArrayLiteral("cancel ");

bool oneLine(const QByteArray& value)
{
    return !value.contains('\n') && !value.contains('\r');
}

QByteArray field(const QByteArray& name, const QByteArray& value)
{
    return name + ": " + value + '\n';
}

std::optional<quint64> idOf(const QByteArray& text)
{
    bool ok = false;
    const quint64 id = text.toULongLong(&ok);
    return ok && id > 0 ? std::optional<quint64>(id) : std::nullopt;
}
} // namespace

QByteArray RenderFrame::encodeRequest(const Request& request)
{
    QByteArray out = kRender + QByteArray::number(request.id) + '\n';
    out += field("url", request.url.toEncoded());
    out += field("timeout-ms", QByteArray::number(request.timeoutMs));
    if (!request.userAgent.isEmpty() && oneLine(request.userAgent))
        out += field("user-agent", request.userAgent);
    for (const auto& header : request.headers) {
        if (!header.first.isEmpty() && !header.first.contains(':') && oneLine(header.first) && oneLine(header.second))
            out += field("header", header.first + ": " + header.second);
    }
    return out + '\n';
}

QByteArray RenderFrame::encodeCancel(quint64 id)
{
    return kCancel + QByteArray::number(id) + "\n\n";
}

QByteArray RenderFrame::encodeAnswer(const Answer& answer)
{
    QByteArray out = kAnswer + '\n';
    out += field("id", QByteArray::number(answer.id));
    out += field("result", QByteArray::number(answer.result));
    QString reason = answer.reason;
    reason.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    out += field("reason", reason.left(1000).toUtf8());
    out += field("url", answer.page.url.toEncoded());
    out += field("status", QByteArray::number(answer.page.status));
    out += field("length", QByteArray::number(answer.page.document.size()));
    return out + '\n' + answer.page.document;
}

QByteArray RenderFrame::Reader::Frame::value(const QByteArray& name) const
{
    for (const auto& f : fields) {
        if (f.first == name)
            return f.second;
    }
    return {};
}

std::optional<RenderFrame::Reader::Frame> RenderFrame::Reader::next()
{
    if (m_failed)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf("\n\n");
    if (end < 0) {
        m_failed = m_buffer.size() > MaxFieldBytes;
        return std::nullopt;
    }
    if (end > MaxFieldBytes) {
        m_failed = true;
        return std::nullopt;
    }
    Frame frame;
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    frame.first = lines.first();
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(": ");
        if (colon <= 0) {
            m_failed = true;
            return std::nullopt;
        }
        frame.fields.append({lines[i].left(colon), lines[i].mid(colon + 2)});
        if (frame.fields.last().first == "length") {
            bool ok = false;
            length = frame.fields.last().second.toLongLong(&ok);
            if (!ok || length < 0 || length > m_maxDocument) {
                m_failed = true;
                return std::nullopt;
            }
        }
    }
    const qsizetype bodyAt = end + 2;
    if (m_buffer.size() - bodyAt < length)
        return std::nullopt; // the document is still arriving
    frame.body = m_buffer.mid(bodyAt, length);
    m_buffer.remove(0, bodyAt + length);
    return frame;
}

std::optional<RenderFrame::Request> RenderFrame::Reader::nextRequest(bool* cancel)
{
    *cancel = false;
    const std::optional<Frame> frame = next();
    if (!frame)
        return std::nullopt;
    Request request;
    const bool render = frame->first.startsWith(kRender);
    *cancel = frame->first.startsWith(kCancel);
    const std::optional<quint64> id = idOf(frame->first.mid(render ? kRender.size() : kCancel.size()));
    if ((!render && !*cancel) || !id) {
        m_failed = true;
        return std::nullopt;
    }
    request.id = *id;
    if (*cancel)
        return request;
    request.url = QUrl::fromEncoded(frame->value("url"), QUrl::StrictMode);
    bool ok = false;
    request.timeoutMs = frame->value("timeout-ms").toInt(&ok);
    if (!ok || request.timeoutMs <= 0)
        request.timeoutMs = DefaultTimeoutMs;
    request.userAgent = frame->value("user-agent");
    for (const auto& f : frame->fields) {
        const qsizetype colon = f.second.indexOf(':');
        if (f.first == "header" && colon > 0)
            request.headers.append({f.second.left(colon), f.second.mid(colon + 1).trimmed()});
    }
    return request;
}

std::optional<RenderFrame::Answer> RenderFrame::Reader::nextAnswer()
{
    const std::optional<Frame> frame = next();
    if (!frame)
        return std::nullopt;
    Answer answer;
    bool resultOk = false;
    bool statusOk = false;
    const std::optional<quint64> id = idOf(frame->value("id"));
    answer.result = frame->value("result").toInt(&resultOk);
    answer.reason = QString::fromUtf8(frame->value("reason"));
    answer.page.url = QUrl::fromEncoded(frame->value("url"), QUrl::StrictMode);
    answer.page.status = frame->value("status").toInt(&statusOk);
    answer.page.document = frame->body;
    if (frame->first != kAnswer || !id || !resultOk || !statusOk || frame->value("length").isEmpty() ||
        (answer.result == Rendered && !answer.page.url.isValid())) {
        m_failed = true;
        return std::nullopt;
    }
    answer.id = *id;
    return answer;
}

QString RenderFrame::describe(int exitStatus)
{
    switch (exitStatus) {
    case Rendered:
        return {};
    case Usage:
        return QCoreApplication::translate("RenderFrame", "the page renderer was started wrongly");
    case LoadFailed:
        return QCoreApplication::translate("RenderFrame", "the page could not be loaded");
    case HttpError:
        return QCoreApplication::translate("RenderFrame", "the server answered with an error");
    case TimedOut:
        return QCoreApplication::translate("RenderFrame", "rendering the page took too long");
    case EngineCrashed:
        return QCoreApplication::translate("RenderFrame", "the browser engine stopped while rendering the page");
    case TooLarge:
        return QCoreApplication::translate("RenderFrame", "the rendered page is too large");
    case NoEngine:
        return QCoreApplication::translate("RenderFrame", "the browser engine could not start");
    case OutOfMemory:
        return QCoreApplication::translate("RenderFrame", "the page used too much memory while rendering");
    default:
        return QCoreApplication::translate("RenderFrame", "the page renderer failed (status %1)").arg(exitStatus);
    }
}
