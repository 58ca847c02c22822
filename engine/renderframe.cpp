// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/renderframe.h"

#include <QCoreApplication>

namespace {
const QByteArray kMagic = QByteArrayLiteral("vantrel-render 1\n");

// The value of "name: value\n" at pos, moving pos past it; nullopt when the line is not that.
std::optional<QByteArray> headerLine(const QByteArray& output, qsizetype& pos, const QByteArray& name)
{
    const QByteArray prefix = name + ": ";
    if (!output.mid(pos, prefix.size()).startsWith(prefix))
        return std::nullopt;
    const qsizetype end = output.indexOf('\n', pos);
    if (end < 0)
        return std::nullopt;
    QByteArray value = output.mid(pos + prefix.size(), end - pos - prefix.size());
    pos = end + 1;
    return value;
}
} // namespace

QByteArray RenderFrame::encode(const Page& page)
{
    QByteArray out = kMagic;
    out += "url: " + page.url.toEncoded() + '\n';
    out += "status: " + QByteArray::number(page.status) + '\n';
    out += "length: " + QByteArray::number(page.document.size()) + "\n\n";
    out += page.document;
    return out;
}

std::optional<RenderFrame::Page> RenderFrame::decode(const QByteArray& output)
{
    if (!output.startsWith(kMagic))
        return std::nullopt;
    qsizetype pos = kMagic.size();
    const std::optional<QByteArray> url = headerLine(output, pos, "url");
    const std::optional<QByteArray> status = url ? headerLine(output, pos, "status") : std::nullopt;
    const std::optional<QByteArray> length = status ? headerLine(output, pos, "length") : std::nullopt;
    if (!length || output.mid(pos, 1) != "\n")
        return std::nullopt;
    ++pos;
    bool statusOk = false;
    bool lengthOk = false;
    Page page;
    page.url = QUrl::fromEncoded(*url, QUrl::StrictMode);
    page.status = status->toInt(&statusOk);
    const qlonglong size = length->toLongLong(&lengthOk);
    if (!statusOk || !lengthOk || size < 0 || !page.url.isValid() || output.size() - pos != size)
        return std::nullopt;
    page.document = output.mid(pos);
    return page;
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
    default:
        return QCoreApplication::translate("RenderFrame", "the page renderer failed (status %1)").arg(exitStatus);
    }
}
