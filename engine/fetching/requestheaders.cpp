// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/fetching/requestheaders.h"

#include <QCoreApplication>

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0"
#endif

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("RequestHeaders", text);
}

// RFC 9110 token characters.
bool isTokenChar(QChar c)
{
    if (c.unicode() > 126 || c.unicode() <= 32)
        return false;
    return !QStringLiteral("\"(),/:;<=>?@[\\]{}").contains(c);
}

// Headers the program sets or the transfer depends on; a task's own would break or confuse the download.
bool isReserved(const QString& name)
{
    static const QStringList reserved = {QStringLiteral("host"),
                                         QStringLiteral("content-length"),
                                         QStringLiteral("transfer-encoding"),
                                         QStringLiteral("connection"),
                                         QStringLiteral("accept-encoding"),
                                         QStringLiteral("if-none-match"),
                                         QStringLiteral("if-modified-since"),
                                         QStringLiteral("te"),
                                         QStringLiteral("upgrade"),
                                         QStringLiteral("keep-alive")};
    return reserved.contains(name.toLower());
}
} // namespace

QByteArray RequestHeaders::defaultUserAgent()
{
    return QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) VantrelMonitor/") + VANTREL_VERSION;
}

QByteArray RequestHeaders::defaultAccept()
{
    return QByteArrayLiteral("text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
}

QByteArray RequestHeaders::acceptLanguage(const QStringList& uiLanguages)
{
    QList<QByteArray> tags;
    for (const QString& language : uiLanguages) {
        // Only plain language tags ("de-DE"); "C" and anything with odd characters is left out.
        const QByteArray tag = language.toLatin1().replace('_', '-');
        if (tag.isEmpty() || tag == "C" || tag.size() > 35 || language.size() != tag.size())
            continue;
        bool plain = true;
        for (const char c : tag)
            plain = plain && (QChar::isLetterOrNumber(uchar(c)) || c == '-');
        if (plain && !tags.contains(tag))
            tags.append(tag);
        if (tags.size() == 9)
            break;
    }
    if (tags.isEmpty())
        tags.append("en");
    QByteArray header = tags.first();
    for (qsizetype i = 1; i < tags.size(); ++i)
        header += ',' + tags.at(i) + ";q=0." + QByteArray::number(10 - i);
    return header;
}

QString RequestHeaders::problem(const QString& name, const QString& value)
{
    if (name.isEmpty())
        return tr("A header needs a name before its colon.");
    if (name.size() > MaxNameLength)
        return tr("The header name is longer than %1 characters.").arg(MaxNameLength);
    for (const QChar c : name) {
        if (!isTokenChar(c))
            return tr("The header name \"%1\" may hold only letters, digits and - ! # $ % & ' * + . ^ _ ` | ~.")
                .arg(name);
    }
    if (isReserved(name))
        return tr("The header %1 is set by the program itself.").arg(name);
    if (value.size() > MaxValueLength)
        return tr("The value of %1 is longer than %2 characters.").arg(name).arg(MaxValueLength);
    for (const QChar c : value) {
        // Tabs are allowed inside a value; line breaks and other control characters would end the header.
        if ((c.unicode() < 32 && c != u'\t') || c.unicode() == 127)
            return tr("The value of %1 holds a line break or another control character.").arg(name);
        if (c.unicode() > 255)
            return tr("The value of %1 holds a character outside ISO 8859-1.").arg(name);
    }
    return {};
}

namespace {
// The headers of the text; strict: the first line with a problem ends the reading (*error names it),
// otherwise such a line is skipped.
RequestHeaders::List parseLines(const QString& text, bool strict, QString* error)
{
    RequestHeaders::List headers;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype colon = line.indexOf(u':');
        const QString name = colon < 0 ? QString() : line.left(colon).trimmed();
        const QString value = colon < 0 ? QString() : line.mid(colon + 1).trimmed();
        QString why = colon < 0 ? tr("Write a header as Name: value.") : RequestHeaders::problem(name, value);
        if (why.isEmpty() && headers.size() == RequestHeaders::MaxHeaders)
            why = tr("At most %1 headers can be set.").arg(RequestHeaders::MaxHeaders);
        if (!why.isEmpty() && !strict)
            continue;
        if (!why.isEmpty()) {
            if (error)
                *error = tr("Line %1: %2").arg(i + 1).arg(why);
            return {};
        }
        headers.append({name.toLatin1(), value.toLatin1()});
    }
    if (error)
        error->clear();
    return headers;
}
} // namespace

RequestHeaders::List RequestHeaders::parse(const QString& text, QString* error)
{
    return parseLines(text, true, error);
}

RequestHeaders::List RequestHeaders::parseEach(const QString& text)
{
    return parseLines(text, false, nullptr);
}

bool RequestHeaders::isValidator(const QByteArray& value)
{
    if (value.isEmpty() || value.size() > MaxValidatorLength)
        return false;
    for (const char c : value) {
        const uchar byte = uchar(c);
        if (byte < 32 || byte == 127)
            return false;
    }
    return true;
}

QString RequestHeaders::format(const List& headers)
{
    QStringList lines;
    for (const Header& header : headers)
        lines.append(QString::fromLatin1(header.first) + QStringLiteral(": ") + QString::fromLatin1(header.second));
    return lines.join(QLatin1Char('\n'));
}
