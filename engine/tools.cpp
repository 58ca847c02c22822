// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/tools.h"

#include <QStringList>

QString Tools::hostPrefix(const QString& address)
{
    return QStringLiteral("http://") + QUrl(address).host();
}

QString Tools::unquote(const QString& text)
{
    const QStringList pieces = text.split(u'"', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.first();
}

namespace {
// The value of an ASCII digit or letter a-f/A-F, -1 for anything else.
int digitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The code point of a numeric character reference body ("#38", "#x26"), or -1 when it is not one
// that stands for a character: empty, not a number, zero, a surrogate or beyond U+10FFFF.
char32_t numericReference(QStringView body)
{
    if (body.size() < 2 || body.front() != u'#')
        return char32_t(-1);
    int base = 10;
    qsizetype pos = 1;
    if (body[1] == u'x' || body[1] == u'X') {
        base = 16;
        pos = 2;
    }
    if (pos == body.size())
        return char32_t(-1);
    char32_t value = 0;
    for (; pos < body.size(); ++pos) {
        const int digit = digitValue(body[pos].unicode());
        if (digit < 0 || digit >= base)
            return char32_t(-1);
        value = value * char32_t(base) + char32_t(digit);
        if (value > 0x10FFFF)
            return char32_t(-1); // stop before the number can overflow
    }
    if (value == 0 || QChar::isSurrogate(value))
        return char32_t(-1);
    return value;
}

// Appends the text with &amp; &lt; &gt; &quot; &apos; &#N; &#xH; decoded; anything else that starts
// with '&' (an unknown name, a missing ';', a number that is no character) stays as written.
void appendDecoded(QString& out, QStringView text)
{
    qsizetype done = 0;
    qsizetype amp = text.indexOf(u'&');
    while (amp >= 0) {
        // A reference body is made of letters, digits and '#'; looking no further than that keeps
        // a value full of '&' without ';' linear.
        qsizetype semicolon = amp + 1;
        while (semicolon < text.size() && (text[semicolon].isLetterOrNumber() || text[semicolon] == u'#'))
            ++semicolon;
        if (semicolon == text.size() || text[semicolon] != u';') {
            amp = text.indexOf(u'&', semicolon);
            continue;
        }
        const QStringView body = text.sliced(amp + 1, semicolon - amp - 1);
        QChar named;
        if (body == u"amp")
            named = u'&';
        else if (body == u"lt")
            named = u'<';
        else if (body == u"gt")
            named = u'>';
        else if (body == u"quot")
            named = u'"';
        else if (body == u"apos")
            named = u'\'';
        const char32_t code = named.isNull() ? numericReference(body) : named.unicode();
        if (code == char32_t(-1)) {
            amp = text.indexOf(u'&', amp + 1);
            continue;
        }
        out.append(text.sliced(done, amp - done));
        if (QChar::requiresSurrogates(code)) {
            out.append(QChar(QChar::highSurrogate(code)));
            out.append(QChar(QChar::lowSurrogate(code)));
        } else {
            out.append(QChar(char16_t(code)));
        }
        done = semicolon + 1;
        amp = text.indexOf(u'&', done);
    }
    out.append(text.sliced(done));
}
} // namespace

QString Tools::hrefValue(QStringView capture)
{
    qsizetype begin = 0;
    while (begin < capture.size() && capture[begin].isSpace())
        ++begin;
    qsizetype end = capture.size();
    if (begin < end && (capture[begin] == u'"' || capture[begin] == u'\'')) {
        const QChar quote = capture[begin];
        ++begin;
        const qsizetype closing = capture.indexOf(quote, begin);
        if (closing >= 0)
            end = closing;
    } else {
        for (qsizetype i = begin; i < end; ++i) {
            if (capture[i].isSpace()) {
                end = i;
                break;
            }
        }
    }
    const QStringView raw = capture.sliced(begin, end - begin);
    if (!raw.contains(u'&'))
        return raw.trimmed().toString();
    QString decoded;
    decoded.reserve(raw.size());
    appendDecoded(decoded, raw);
    return decoded.trimmed();
}

QString Tools::absoluteLink(const QUrl& base, QStringView capture)
{
    return base.resolved(QUrl(hrefValue(capture))).toString(QUrl::FullyEncoded);
}
