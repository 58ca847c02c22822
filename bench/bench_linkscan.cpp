// SPDX-License-Identifier: GPL-3.0-or-later
// Link scan speed: the linear scanner against the minimal-matching QRegExp it replaces, on a realistic
// large page and on hostile pages. By default QRegExp gets only scaled-down hostile pages (5, 10 and 20 K
// characters); the time it would need at full size is estimated from its growth.
// Run: bench_linkscan [--full] [name...]
//   --full  also runs QRegExp on the full-size hostile pages: close to a minute on each 100 K page, and
//           about an hour on the 1 M page
//   name    runs only the hostile pages whose name contains one of the given texts

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "engine/linkscanner.h"
#include "tests/engine/linkscanoracle.h"
#include "engine/tools.h"

namespace {
// Best of `runs` timings of `work`, in milliseconds.
double bestMs(int runs, const std::function<void()>& work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

// Both sides hand every match with its two captures to the caller, as the link check needs them.
struct Tally
{
    qsizetype links = 0;
    qsizetype captured = 0; // characters in the captures, so that they are really looked at
};

Tally scannerTally(const QString& page)
{
    Tally tally;
    LinkScanner::scan(page, [&tally](const LinkScanner::Match& m) {
        ++tally.links;
        tally.captured += m.href.size() + m.text.size();
    });
    return tally;
}

Tally regexpTally(LinkScanOracle& oracle, const QString& page)
{
    Tally tally;
    oracle.scan(page, [&tally](int, const QString& href, const QString& text) {
        ++tally.links;
        tally.captured += href.size() + text.size();
    });
    return tally;
}

// A news index of about 4 M characters: 50,000 list items with a link each, in varied forms, among
// ordinary markup.
QString realisticPage()
{
    QString page;
    page.reserve(4200000);
    page += "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>News</title></head><body><ul>\n";
    static const char* const forms[] = {R"(<a href="/news/%1.html" class="headline">)", R"(<a href='archive/%1.html'>)",
                                        R"(<a class="c" href="https://other.example/s?id=%1&amp;r=i" target="_blank">)",
                                        R"(<a href=/plain/%1 rel=nofollow>)"};
    for (int i = 0; i < 50000; ++i) {
        page += "<li>";
        page += QString::fromLatin1(forms[i % 4]).arg(i);
        page += QStringLiteral("Story %1 news</a>").arg(i);
        if (i % 10 == 0)
            page += " <a href=\"/tag\"><img src=\"t.png\" alt=\"tag\"></a>"; // markup inside: no match
        if (i % 25 == 0)
            page += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.</p>";
        page += "</li>\n";
    }
    page += "</ul></body></html>\n";
    return page;
}

struct Hostile
{
    const char* name;
    qsizetype fullSize;
    std::function<QString(qsizetype)> make; // a page of about the given size in characters
};

const Hostile hostile[] = {
    {"href= repeated", 100000, [](qsizetype n) { return QStringLiteral("href=").repeated(n / 5); }},
    {"href= then blanks", 100000, [](qsizetype n) { return "href=" + QString(n, u' '); }},
    {"href= runs, one far </a> without >", 100000,
     [](qsizetype n) { return QStringLiteral("href=").repeated(n / 5) + "</a>"; }},
    {"href=> <b> repeated", 100000, [](qsizetype n) { return QStringLiteral("href=> <b>").repeated(n / 10); }},
    {"no '<' at all", 1000000, [](qsizetype n) { return QStringLiteral("some text href=x> more ").repeated(n / 23); }},
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    const bool full = names.removeAll(QStringLiteral("--full")) > 0;
    LinkScanOracle oracle;

    const QString page = realisticPage();
    const double mb = double(page.size()) / 1e6;
    Tally scanned;
    const double scanMs = bestMs(20, [&] { scanned = scannerTally(page); });
    const double regexpMs = bestMs(3, [&] { regexpTally(oracle, page); });
    const bool same = LinkScanOracle::describe(LinkScanner::matches(page)) == oracle.describe(page);
    std::printf("Realistic page: %.2f M characters, %lld links matched (%s QRegExp)\n", mb, qlonglong(scanned.links),
                same ? "same as" : "DIFFERENT FROM");
    std::printf("  scanner  %8.2f ms  %8.1f MB/s (M characters/s)\n", scanMs, mb / scanMs * 1000);
    std::printf("  QRegExp  %8.2f ms  %8.1f MB/s\n", regexpMs, mb / regexpMs * 1000);
    std::printf("  scanner is %.1fx faster than QRegExp\n", regexpMs / scanMs);

    const QList<LinkScanner::Match> found = LinkScanner::matches(page);
    const QUrl base(QStringLiteral("http://news.example:8080/news/index.html"));
    qsizetype formedSize = 0;
    const double formMs = bestMs(5, [&] {
        for (const LinkScanner::Match& m : found)
            formedSize += Tools::absoluteLink(base, m.href).size();
    });
    std::printf("  absoluteLink on all %lld links: %.2f ms (%.2f us a link)\n", qlonglong(found.size()), formMs,
                formMs * 1000 / double(found.size()));
    for (const char* piece : {"&", "&#1", "&amp"}) {
        const QString capture = '"' + QString::fromLatin1(piece).repeated(100000 / qsizetype(strlen(piece))) + '"';
        const double ms = bestMs(3, [&] { formedSize += Tools::absoluteLink(base, capture).size(); });
        std::printf("  absoluteLink on a %lld-character address of \"%s\" repeated: %.2f ms\n",
                    qlonglong(capture.size()), piece, ms);
    }
    std::printf("\n");

    const qsizetype scaled[] = {5000, 10000, 20000};
    for (const Hostile& h : hostile) {
        const QString name = QString::fromLatin1(h.name);
        if (!names.isEmpty() &&
            std::none_of(names.cbegin(), names.cend(), [&](const QString& n) { return name.contains(n); }))
            continue;
        const QString big = h.make(h.fullSize);
        const double bigMs = bestMs(5, [&] { scannerTally(big); });
        std::printf("Hostile \"%s\", %lld characters: scanner %.3f ms\n", h.name, qlonglong(big.size()), bigMs);
        double previous = 0;
        double growth = 0;
        for (qsizetype n : scaled) {
            const QString small = h.make(n);
            const double ms = bestMs(1, [&] { regexpTally(oracle, small); });
            const double smallScan = bestMs(5, [&] { scannerTally(small); });
            std::printf("  %6lld characters: QRegExp %10.2f ms, scanner %.3f ms", qlonglong(small.size()), ms,
                        smallScan);
            if (previous > 0) {
                growth = ms / previous;
                std::printf(", QRegExp grew %.1fx for 2x the size", growth);
            }
            std::printf("\n");
            previous = ms;
        }
        const double doublings = std::log2(double(big.size()) / double(h.make(scaled[2]).size()));
        std::printf("  QRegExp at full size, estimated from the last growth: %.2f s\n",
                    previous * std::pow(std::max(growth, 1.0), doublings) / 1000);
        if (full) {
            const double ms = bestMs(1, [&] { regexpTally(oracle, big); });
            std::printf("  full size: QRegExp %.1f ms, %.0fx the scanner\n", ms, ms / bigMs);
        }
    }
    return same ? 0 : 1;
}
