// SPDX-License-Identifier: GPL-3.0-or-later
// Link scan speed: the linear scanner against the minimal-matching QRegExp it replaces, on a realistic
// large page and on hostile pages; a feed of as many links read by libxml2 against that page. By default QRegExp gets
// only scaled-down hostile pages (5, 10 and 20 K characters); the time it would need at full size is estimated from its
// growth. Regions of the large page are read the program's way, the old way (written back as HTML and scanned) and,
// where python3 has lxml and cssselect, by lxml, the phases of the program's way and each step of the old way timed
// on their own.
// Run: bench_linkscan [--full] [--runs N] [name...]
//   --full  also runs QRegExp on the full-size hostile pages: close to a minute on each 100 K page, and
//           about an hour on the 1 M page
//   --runs  how many times each region is read each way (default 7); medians are printed
//   name    runs only the hostile pages whose name contains one of the given texts

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "engine/definition/task.h"
#include "engine/fetching/fetchrequest.h"
#include "engine/matching/feedreader.h"
#include "engine/matching/linkscanner.h"
#include "engine/matching/pageregion.h"
#include "engine/tools.h"
#include "tests/engine/linkscanoracle.h"

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

// Both passes, as a check runs them: the page's base element and every link, markup anchors included.
// The links of a page or a region counted, with the characters they capture.
template <typename Links> Tally tallyOf(const Links& links)
{
    Tally tally;
    if (const auto base = links.baseHref())
        tally.captured += base->size();
    links.scan([&tally](const LinkScanner::Match& m) {
        ++tally.links;
        tally.captured += m.href.size() + m.text.size();
    });
    return tally;
}

Tally linksTally(const QString& page)
{
    return tallyOf(LinkScanner::PageLinks(page));
}

// Median of the timings, in milliseconds.
double median(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms.isEmpty() ? 0 : ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
}

double elapsedMs(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Every link of a page or a region as a check forms it, with its text.
template <typename Links> QStringList formedLinks(const Links& links)
{
    const QUrl page(QStringLiteral("http://news.example:8080/news/index.html"));
    const std::optional<QStringView> base = links.baseHref();
    const Tools::LinkResolver resolve(base ? page.resolved(QUrl(Tools::hrefValue(*base))) : page);
    QStringList found;
    links.scan([&](const LinkScanner::Match& m) { found.append(resolve(m.href) + u'|' + m.text.toString()); });
    return found;
}

// The region read the program's way: from the tree where it can, with both passes' links; its phases in *phases.
Tally regionTally(const QString& page, const QString& region, PageRegion::Phases* phases)
{
    const PageRegion::Links links(page, region);
    const Tally tally = tallyOf(links);
    *phases = links.phases();
    return tally;
}

// The old way's steps, each timed on its own as PageRegion::select runs them: the page converted to UTF-8, parsed,
// the region selected, written back as HTML and converted to UTF-16, then both passes of the scan over it.
struct Steps
{
    QList<double> convert, parse, select, write, scan, free;
};

void timeSteps(const QString& page, const QString& region, Steps& steps)
{
    QByteArray bytes;
    steps.convert.append(elapsedMs([&] { bytes = page.toUtf8(); }));
    htmlDocPtr doc = nullptr;
    steps.parse.append(elapsedMs([&] {
        doc = htmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, "UTF-8",
                             HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT);
    }));
    xmlXPathObjectPtr found = nullptr;
    xmlXPathContextPtr context = nullptr;
    steps.select.append(elapsedMs([&] {
        xmlXPathOrderDocElems(doc);
        context = xmlXPathNewContext(doc);
        found = xmlXPathEvalExpression(BAD_CAST PageRegion::xpathOf(region).toUtf8().constData(), context);
    }));
    QString html;
    steps.write.append(elapsedMs([&] {
        xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
        // The regions timed here select elements that do not nest, so each is written.
        for (int i = 0; found && found->nodesetval && i < found->nodesetval->nodeNr; ++i)
            htmlNodeDumpFormatOutput(out, doc, found->nodesetval->nodeTab[i], nullptr, 0);
        xmlOutputBufferFlush(out);
        html = QString::fromUtf8(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out)),
                                 int(xmlOutputBufferGetSize(out)));
        xmlOutputBufferClose(out);
    }));
    steps.scan.append(elapsedMs([&] { linksTally(html); }));
    steps.free.append(elapsedMs([&] {
        xmlXPathFreeObject(found);
        xmlXPathFreeContext(context);
        xmlFreeDoc(doc);
    }));
}

// lxml with cssselect on the same page: parse, select, and each anchor's href and text, as a page watcher on lxml
// reads a region. Prints "region<TAB>median ms<TAB>anchors" a line.
const char* const LxmlScript = R"(import sys, time, statistics
from lxml import etree
from cssselect import GenericTranslator
data = open(sys.argv[1], 'rb').read()
runs = int(sys.argv[2])
for sel in sys.argv[3:]:
    xp = sel if sel.startswith(('/', '(')) else GenericTranslator().css_to_xpath(sel)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        root = etree.fromstring(data, etree.HTMLParser())
        n = 0
        for el in root.xpath(xp):
            for a in el.iter('a'):
                if a.get('href') is not None:
                    text = ''.join(a.itertext())
                    n += 1
        times.append((time.perf_counter() - start) * 1000)
    print('%s	%.2f	%d' % (sel, statistics.median(times), n))
)";

// lxml's median time per region, by region; empty where python3 with lxml and cssselect is missing. Each region is
// read in a process of its own, given at most LxmlSeconds: cssselect turns ":nth-child" into a count of the
// preceding siblings, which takes lxml minutes on a long list; such a region is left out.
constexpr int LxmlSeconds = 60;

QHash<QString, QPair<double, qlonglong>> lxmlTimes(const QString& page, const QStringList& regions, int runs)
{
    QHash<QString, QPair<double, qlonglong>> times;
    QTemporaryFile file;
    if (!file.open() || file.write(page.toUtf8()) < 0 || !file.flush())
        return times;
    for (const QString& python : {QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")}) {
        for (const QString& region : regions) {
            QProcess process;
            process.start(python, QStringList{"-c", LxmlScript, file.fileName(), QString::number(runs), region});
            if (!process.waitForFinished(LxmlSeconds * 1000)) {
                process.kill();
                process.waitForFinished();
                continue;
            }
            if (process.exitCode() != 0)
                break; // no lxml with this python
            const QStringList parts = QString::fromUtf8(process.readAllStandardOutput()).trimmed().split(u'\t');
            if (parts.size() == 3)
                times.insert(parts[0], {parts[1].toDouble(), parts[2].toLongLong()});
        }
        if (!times.isEmpty())
            break;
    }
    return times;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : QString("?");
}

// Regions of the page: the program's way (from the tree) against the old way (written back and scanned, step by
// step) and lxml, medians of runs taking turns. Returns whether both ways found the same links everywhere.
bool regions(const QString& page, double linksMs, int runs)
{
    const QStringList regions = {"ul", "body > ul", "//ul", "#none", "li a", "ul > li:nth-child(2)"};
    std::printf("Regions of the realistic page, medians of %d runs (load average %s):\n", runs,
                qPrintable(loadAverage()));
    const QHash<QString, QPair<double, qlonglong>> lxml = lxmlTimes(page, regions, runs);
    if (lxml.isEmpty())
        std::printf("  (lxml not measured: no python3 with lxml and cssselect; apt-get install python3-lxml "
                    "python3-cssselect)\n");
    bool same = true;
    for (const QString& region : regions) {
        const PageRegion::Links links(page, region);
        const bool agree =
            formedLinks(links) == formedLinks(LinkScanner::PageLinks(PageRegion::select(page, region).html));
        same = same && agree;
        QList<double> now, old;
        Steps steps;
        Steps phases; // the program's way, as PageRegion::Links times its phases
        QList<double> order;
        Tally inRegion;
        for (int run = 0; run < runs; ++run) {
            PageRegion::Phases spent;
            now.append(elapsedMs([&] { inRegion = regionTally(page, region, &spent); }));
            phases.convert.append(double(spent.convert) / 1e6);
            phases.parse.append(double(spent.parse) / 1e6);
            order.append(double(spent.order) / 1e6);
            phases.select.append(double(spent.select) / 1e6);
            phases.write.append(double(spent.read) / 1e6);
            phases.free.append(double(spent.free) / 1e6);
            old.append(elapsedMs([&] { linksTally(PageRegion::select(page, region).html); }));
            timeSteps(page, region, steps);
        }
        const double nowMs = median(now);
        const double oldMs = median(old);
        std::printf("  %-22s region + scan %7.2f ms (%s, %lld links%s), old way %7.2f ms (%.2fx), both passes over "
                    "the page %.2f ms\n",
                    qPrintable(region), nowMs, links.fromTree() ? "from the tree" : "written back",
                    qlonglong(inRegion.links), agree ? ", same as the old way" : ", DIFFERENT FROM THE OLD WAY", oldMs,
                    oldMs / nowMs, linksMs);
        std::printf("  %-22s ours' phases: to UTF-8 %.2f, parse %.2f, number the elements %.2f, select %.2f, read the "
                    "links %.2f, free %.2f ms\n",
                    "", median(phases.convert), median(phases.parse), median(order), median(phases.select),
                    median(phases.write), median(phases.free));
        std::printf("  %-22s old way's steps: to UTF-8 %.2f, parse %.2f, select %.2f, write back %.2f, both passes "
                    "%.2f, free %.2f ms\n",
                    "", median(steps.convert), median(steps.parse), median(steps.select), median(steps.write),
                    median(steps.scan), median(steps.free));
        if (lxml.contains(region)) {
            const double lxmlMs = lxml.value(region).first;
            std::printf("  %-22s lxml + cssselect %7.2f ms (%lld anchors): ours %.2fx lxml's time%s\n", "", lxmlMs,
                        lxml.value(region).second, nowMs / lxmlMs,
                        nowMs <= lxmlMs / 2 ? "  (at most half)"
                        : nowMs <= lxmlMs   ? ""
                                            : "  OVER lxml's time");
        } else if (!lxml.isEmpty()) {
            std::printf("  %-22s lxml + cssselect not done in %d s: left out\n", "", LxmlSeconds);
        }
    }
    std::printf("  load average after: %s\n", qPrintable(loadAverage()));
    return same;
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

// A front page of about 4 M characters in today's markup: most headline links hold a heading, spans or
// a picture, so the pattern misses them and the second pass finds them.
QString modernPage()
{
    QString page;
    page.reserve(4200000);
    page += "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>News</title></head><body><main>\n";
    static const char* const forms[] = {
        R"(<article class="card"><a href="/news/%1" class="card__link"><h3 class="card__title">Story %1 news</h3></a><p>Summary text of the story.</p></article>)",
        R"(<li><a href='/live/%1'><span class="badge">Live</span> Story %1 news</a> <time>2 min ago</time></li>)",
        R"(<div class="c"><a href="/p/%1"><picture><img src="/i/%1.jpg" alt="" loading="lazy"></picture><div class="t">Story %1 &ndash; news</div></a></div>)",
        R"(<h2 class="headline"><a href="/h/%1" rel="bookmark">Story %1 news</a></h2>)"};
    for (int i = 0; i < 28000; ++i) {
        page += QString::fromLatin1(forms[i % 4]).arg(i);
        page += u'\n';
    }
    page += "</main></body></html>\n";
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
    {"unclosed <a", 1000000, [](qsizetype n) { return "<a href=/x " + QString(n, u'y'); }},
    {"<a href= runs", 1000000, [](qsizetype n) { return QStringLiteral("<a href=").repeated(n / 8); }},
    {"<a href=\" runs, quote never closed", 1000000,
     [](qsizetype n) { return QStringLiteral("<a href=\"").repeated(n / 9); }},
    {"a megabyte of nested tags", 1000000,
     [](qsizetype n) { return "<a href=/x>" + QStringLiteral("<b>").repeated(n / 3) + "t</a>"; }},
    {"<a href=x><b>t</b> repeated", 1000000,
     [](qsizetype n) { return QStringLiteral("<a href=x><b>t</b>").repeated(n / 18); }},
    {"script never closed in an anchor", 1000000,
     [](qsizetype n) { return QStringLiteral("<a href=/s><script>").repeated(n / 19); }},
    {"<base runs", 1000000, [](qsizetype n) { return QStringLiteral("<base ").repeated(n / 6); }},
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    const bool full = names.removeAll(QStringLiteral("--full")) > 0;
    int runs = 7;
    if (const qsizetype at = names.indexOf(QStringLiteral("--runs")); at >= 0 && at + 1 < names.size()) {
        runs = qMax(1, names.at(at + 1).toInt());
        names.remove(at, 2);
    }
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
    Tally all;
    const double linksMs = bestMs(20, [&] { all = linksTally(page); });
    std::printf("  both passes %8.2f ms  %lld links, %.1fx faster than QRegExp\n", linksMs, qlonglong(all.links),
                regexpMs / linksMs);

    const bool regionsSame = regions(page, linksMs, runs);

    const QString modern = modernPage();
    const double modernRegexpMs = bestMs(3, [&] { regexpTally(oracle, modern); });
    const double modernPatternMs = bestMs(20, [&] { scanned = scannerTally(modern); });
    const double modernLinksMs = bestMs(20, [&] { all = linksTally(modern); });
    std::printf("Today's markup: %.2f M characters; QRegExp %.2f ms, scanner %.2f ms (%lld links), both passes "
                "%.2f ms (%lld links, %.1fx faster than QRegExp)\n",
                double(modern.size()) / 1e6, modernRegexpMs, modernPatternMs, qlonglong(scanned.links), modernLinksMs,
                qlonglong(all.links), modernRegexpMs / modernLinksMs);

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

    // A check's whole reading of a page (telling it from a feed, decoding, both passes, forming the links and
    // records) against that of a feed of the same 50,000 links read by libxml2, half of its titles with markup.
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel><title>News</title>\n";
    for (int i = 0; i < 50000; ++i) {
        const QString title =
            i % 2 ? QStringLiteral("Story %1 news") : QStringLiteral("<![CDATA[Story %1 <b>news</b>]]>");
        feed += QStringLiteral("<item><title>%1</title><link>/news/%2.html</link><guid isPermaLink=\"false\">id-%2"
                               "</guid><pubDate>Tue, 08 Dec 2026 10:00:00 +0000</pubDate><description>Lorem ipsum "
                               "dolor sit amet, consectetur adipiscing elit.</description></item>\n")
                    .arg(title.arg(i))
                    .arg(i)
                    .toUtf8();
    }
    feed += "</channel></rss>\n";
    const Task task(0, {QStringLiteral("bench"), base.toString(), QStringLiteral("news"), 3600, {}});
    const QDate today(2026, 12, 8);
    const auto readMs = [&](const QByteArray& body, const QByteArray& type, qsizetype* links) {
        return bestMs(5, [&] {
            FetchedPage fetched;
            fetched.ok = true;
            fetched.url = base;
            fetched.body = body;
            fetched.contentType = type;
            PageFetch::readFeed(fetched, base.toString());
            *links = task.resultsOfPage(fetched, today).size();
        });
    };
    const QByteArray pageBytes = page.toUtf8();
    qsizetype pageLinks = 0;
    qsizetype feedLinks = 0;
    const double pageMs = readMs(pageBytes, "text/html; charset=utf-8", &pageLinks);
    const double feedMs = readMs(feed, "application/rss+xml", &feedLinks);
    bool isFeed = true;
    const double sniffMs = bestMs(20, [&] { isFeed = FeedReader::isFeed("text/html", pageBytes); });
    std::printf("Reading a check's page, links formed and records made:\n");
    std::printf("  page %6.2f MB, %lld links: %8.2f ms (%.2f us a link)\n", double(pageBytes.size()) / 1e6,
                qlonglong(pageLinks), pageMs, pageMs * 1000 / double(qMax<qsizetype>(1, pageLinks)));
    std::printf("  feed %6.2f MB, %lld items: %8.2f ms (%.2f us an item, %.1f MB/s), %.1fx the page's time a link\n",
                double(feed.size()) / 1e6, qlonglong(feedLinks), feedMs,
                feedMs * 1000 / double(qMax<qsizetype>(1, feedLinks)), double(feed.size()) / feedMs / 1000,
                (feedMs / double(qMax<qsizetype>(1, feedLinks))) / (pageMs / double(qMax<qsizetype>(1, pageLinks))));
    std::printf("  telling the page from a feed: %.4f ms (%s), %.4f%% of reading the page\n\n", sniffMs,
                isFeed ? "WRONGLY a feed" : "a page", sniffMs / pageMs * 100);
    const bool feedRead = feedLinks == 50000 && !isFeed;

    const qsizetype scaled[] = {5000, 10000, 20000};
    for (const Hostile& h : hostile) {
        const QString name = QString::fromLatin1(h.name);
        if (!names.isEmpty() &&
            std::none_of(names.cbegin(), names.cend(), [&](const QString& n) { return name.contains(n); }))
            continue;
        const QString big = h.make(h.fullSize);
        const double bigMs = bestMs(5, [&] { scannerTally(big); });
        const double bothMs = bestMs(5, [&] { linksTally(big); });
        std::printf("Hostile \"%s\", %lld characters: scanner %.3f ms, both passes %.3f ms%s\n", h.name,
                    qlonglong(big.size()), bigMs, bothMs, bothMs < 50 ? "" : "  OVER 50 ms");
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
    return same && feedRead && regionsSame ? 0 : 1;
}
