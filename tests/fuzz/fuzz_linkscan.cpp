// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the link scanner must find exactly what the QRegExp it replaces finds, the markup
// anchors added to them must keep those matches and come out well formed, and forming links and texts
// must neither crash nor produce broken UTF-16.

#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include "engine/matching/linkscanner.h"
#include "engine/tools.h"
#include "tests/engine/linkscanoracle.h"

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

// Every link of scanLinks(): the pattern's matches exactly as scan() gives them, markup anchors with a
// trimmed, collapsed, non-empty text and an address inside the page, all in page order.
void checkLinks(const QString& page, const QList<LinkScanner::Match>& found)
{
    QList<LinkScanner::Match> kept;
    qsizetype previous = -1;
    LinkScanner::scanLinks(page, [&](const LinkScanner::Match& m) {
        if (m.start < previous)
            fail("links out of page order", page);
        previous = m.start;
        if (!m.markup) {
            kept.append(m);
            return;
        }
        if (m.href.data() < page.constData() || m.href.data() + m.href.size() > page.constData() + page.size())
            fail("a markup anchor's address lies outside the page", page);
        const QString text = m.text.toString();
        if (text.isEmpty() || text != text.simplified())
            fail("a markup anchor's text is empty or not collapsed", page);
        if (isValidUtf16(page) && !isValidUtf16(text))
            fail("a markup anchor's text broke UTF-16", page);
    });
    if (LinkScanOracle::describe(kept) != LinkScanOracle::describe(found))
        fail("scanLinks changed the pattern's matches", page);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString page = pageFrom(data, size);
    const QList<LinkScanner::Match> found = LinkScanner::matches(page);
    checkLinks(page, found);
    if (const auto base = LinkScanner::PageLinks(page).baseHref(); base && isValidUtf16(page) && !isValidUtf16(*base))
        fail("baseHref broke UTF-16", page);
    if (isValidUtf16(page) && !isValidUtf16(Tools::displayText(page)))
        fail("displayText broke UTF-16", page);

    static LinkScanOracle oracle;
    if (size <= 2048 && LinkScanOracle::describe(found) != oracle.describe(page)) // QRegExp is quadratic
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
