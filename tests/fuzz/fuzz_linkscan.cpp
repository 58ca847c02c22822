// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the link scanner must find exactly what the QRegExp it replaces finds, and forming
// links from the captures must neither crash nor produce broken UTF-16.

#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include "engine/linkscanner.h"
#include "tests/engine/linkscanoracle.h"
#include "engine/tools.h"

namespace {
// Every high surrogate followed by a low one, every low one preceded by a high one.
bool isValidUtf16(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate()) {
            if (i + 1 == text.size() || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (text[i].isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void fail(const char* what, const QString& page)
{
    std::fprintf(stderr, "%s\npage: %s\n", what, qPrintable(QUrl::toPercentEncoding(page)));
    std::abort();
}

// A first byte of 1 makes the rest raw UTF-16 (lone surrogates and all); anything else is read as UTF-8.
QString pageFrom(const uint8_t* data, size_t size)
{
    if (size > 0 && data[0] == 1)
        return QString(reinterpret_cast<const QChar*>(data + 1), qsizetype((size - 1) / 2));
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 2048) // QRegExp is quadratic: keep the oracle fast
        return 0;
    const QString page = pageFrom(data, size);

    static LinkScanOracle oracle;
    const QList<LinkScanner::Match> found = LinkScanner::matches(page);
    if (LinkScanOracle::describe(found) != oracle.describe(page))
        fail("the scanner and QRegExp disagree", page);

    static const QUrl bases[] = {QUrl(QStringLiteral("http://h:8080/news/index.html")),
                                 QUrl(QStringLiteral("https://s.example/"))};
    for (const LinkScanner::Match& m : found) {
        const QString value = Tools::hrefValue(m.href);
        if (isValidUtf16(m.href) && !isValidUtf16(value))
            fail("hrefValue broke UTF-16", page);
        for (const QUrl& base : bases) {
            if (!isValidUtf16(Tools::absoluteLink(base, m.href)))
                fail("absoluteLink broke UTF-16", page);
        }
    }
    return 0;
}
