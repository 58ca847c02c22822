// SPDX-License-Identifier: GPL-3.0-or-later
// The reading of a region: the page parsed within the reading's budget, the region selected (by walking the tree
// or by XPath), then the elements written back as HTML or their links read from the tree.
#include "engine/matching/pageregion.h"

#include "engine/matching/pageregiondetail.h"
#include "engine/matching/readingbudget.h"

#include <QElapsedTimer>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/xmlIO.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

using PageRegion::detail::expressionsOf;
using PageRegion::detail::isBase;
using PageRegion::detail::selectByXPath;
using PageRegion::detail::tr;
using PageRegion::detail::TreeReading;
using PageRegion::detail::walkTree;

namespace {
// The libxml2 memory allowed for the page's own copy and tree, beyond the reading's limit, per byte of the page.
constexpr qint64 TreeBytesPerPageByte = 8;

// The first base element with an href attribute, in page order, or null.
xmlNodePtr baseOf(xmlDocPtr doc)
{
    xmlNodePtr node = xmlDocGetRootElement(doc);
    while (node) {
        if (isBase(node))
            return node;
        if (node->type == XML_ELEMENT_NODE && node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next)
            node = node->parent == reinterpret_cast<xmlNodePtr>(doc) ? nullptr : node->parent;
        if (node)
            node = node->next;
    }
    return nullptr;
}

// What is made of the elements selected (the outermost ones, in page order, at least one) and the page's base
// element (or null): written back as HTML, or their links read from the tree.
using Extraction = std::function<void(xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, xmlNodePtr base,
                                      PageRegion::Selection&)>;

// Adds the time since the last lap to a phase.
class Laps
{
public:
    explicit Laps(PageRegion::Phases* phases) : m_phases(phases) { m_timer.start(); }
    void operator()(qint64 PageRegion::Phases::*phase)
    {
        if (m_phases)
            m_phases->*phase += m_timer.nsecsElapsed();
        m_timer.restart();
    }

private:
    PageRegion::Phases* m_phases;
    QElapsedTimer m_timer;
};

// Frees the tree, its time counted as a phase of its own.
struct FreeDocument
{
    PageRegion::Phases* phases;
    void operator()(xmlDocPtr doc) const
    {
        Laps laps(phases);
        xmlFreeDoc(doc);
        laps(&PageRegion::Phases::free);
    }
};

PageRegion::Selection selectThen(QStringView page, const QString& region, const Extraction& extract,
                                 PageRegion::Phases* phases = nullptr)
{
    using PageRegion::MinOperations;
    using PageRegion::OperationsPerCharacter;
    PageRegion::Selection selection;
    const QStringList expressions = expressionsOf(region, &selection.error);
    if (expressions.isEmpty())
        return selection;
    Laps laps(phases);
    QByteArray bytes = page.toUtf8();
    if (bytes.size() > INT_MAX) {
        selection.error = tr("the page is too large");
        return selection;
    }
    laps(&PageRegion::Phases::convert);
    initLibxml();
    const ReadingBudget::Here budget;
    const auto spent = [&] {
        selection.matched = false;
        selection.error = budget->reason(tr("region"), tr("evaluate"));
        return selection;
    };
    // Recovering as browsers do, with the page already decoded; no network, and no HUGE: libxml2 keeps its
    // bound on the nesting depth.
    std::unique_ptr<htmlParserCtxt, void (*)(htmlParserCtxtPtr)> parser(htmlNewParserCtxt(), htmlFreeParserCtxt);
    if (!parser) {
        selection.error = tr("out of memory");
        return selection;
    }
    // The page's tree is the page itself: an ordinary page's copy and tree take a few times its size.
    budget->allowPage(TreeBytesPerPageByte * qint64(bytes.size()));
    budget->watchParser(parser.get());
    const std::unique_ptr<xmlDoc, FreeDocument> doc(
        htmlCtxtReadMemory(parser.get(), bytes.constData(), int(bytes.size()), nullptr, "UTF-8",
                           HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                               HTML_PARSE_IGNORE_ENC | HTML_PARSE_COMPACT),
        FreeDocument{phases});
    budget->watchParser(nullptr);
    // The parser's copy of the page and the page's bytes go before the tree does: a large block freed after the
    // tree's many small ones would have the allocator merge them all at that moment.
    parser.reset();
    bytes = QByteArray();
    laps(&PageRegion::Phases::parse);
    if (!budget->carryOn())
        return spent();
    if (!doc)
        return selection; // an empty page: nothing to select
    const unsigned long opLimit = qMax(MinOperations, OperationsPerCharacter * static_cast<unsigned long>(page.size()));
    std::vector<xmlNodePtr> outermost;
    std::optional<xmlNodePtr> base; // known once the tree has been walked whole
    if (std::optional<PageRegion::detail::Walk> walk = walkTree(region, doc.get(), opLimit, *budget)) {
        laps(&PageRegion::Phases::select);
        if (walk->stopped || !budget->carryOn())
            return spent();
        outermost.swap(walk->outermost);
        base = walk->base;
    } else {
        // Numbers the elements, so node sets are sorted and compared in constant time a pair.
        xmlXPathOrderDocElems(doc.get());
        laps(&PageRegion::Phases::order);
        if (!selectByXPath(doc.get(), expressions, opLimit, *budget, outermost, selection))
            return budget->spent() != ReadingBudget::Spent::No ? spent() : selection;
        laps(&PageRegion::Phases::select);
    }
    if (outermost.empty())
        return selection;
    selection.matched = true;
    extract(doc.get(), outermost, base ? *base : baseOf(doc.get()), selection);
    laps(&PageRegion::Phases::read);
    return selection;
}

// The page's base element, then each element, as HTML, a line each.
void writeBack(xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, xmlNodePtr base,
               PageRegion::Selection& selection)
{
    const std::unique_ptr<xmlOutputBuffer, int (*)(xmlOutputBufferPtr)> out(xmlAllocOutputBuffer(nullptr),
                                                                            xmlOutputBufferClose);
    if (!out) {
        selection.matched = false;
        selection.error = tr("out of memory");
        return;
    }
    const auto write = [&](xmlNodePtr node) {
        htmlNodeDumpFormatOutput(out.get(), doc, node, nullptr, 0);
        xmlOutputBufferWrite(out.get(), 1, "\n");
    };
    // The page's base element stays the base of the region's links.
    if (base)
        write(base);
    for (xmlNodePtr node : outermost)
        write(node);
    xmlOutputBufferFlush(out.get());
    selection.html = QString::fromUtf8(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out.get())),
                                       int(xmlOutputBufferGetSize(out.get())));
}
} // namespace

PageRegion::Selection PageRegion::select(QStringView page, const QString& region)
{
    return selectThen(page, region, writeBack);
}

bool PageRegion::Links::readText(QStringView page, const QString& region, const std::function<bool()>& carryOn)
{
    const std::optional<std::vector<PageRegion::detail::Compound>> compounds =
        PageRegion::detail::simpleCompounds(region);
    if (!compounds)
        return false;
    Laps laps(&m_phases);
    const ReadingBudget::Here budget;
    const std::function<bool()> asked = carryOn ? carryOn : [&budget] { return budget->carryOn(); };
    bool matched = false;
    const PageRegion::detail::TextReading reading =
        PageRegion::detail::readFromText(page, *compounds, asked, *budget, m_textLinks, m_textHrefs, matched);
    laps(&Phases::read);
    if (reading == PageRegion::detail::TextReading::LeftToTree)
        return false;
    m_fromText = true;
    if (reading == PageRegion::detail::TextReading::Stopped) {
        // As the tree's reading ends when it is stopped.
        if (budget->spent() == ReadingBudget::Spent::No)
            budget->spend(ReadingBudget::Spent::Time);
        m_error = budget->reason(tr("region"), tr("evaluate"));
        return true;
    }
    m_matched = matched;
    return true;
}

PageRegion::Links::Links(QStringView page, const QString& region, const std::function<bool()>& carryOn)
{
    if (readText(page, region, carryOn))
        return;
    const Selection selection = selectThen(
        page, region,
        [&](xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, xmlNodePtr base, Selection& selected) {
            const std::function<bool()> asked = carryOn ? carryOn : [] { return ReadingBudget::carryOnHere(); };
            const TreeReading reading = PageRegion::detail::readLinks(doc, outermost, asked, m_links);
            if (reading == TreeReading::Stopped) {
                selected.matched = false;
                ReadingBudget* budget = ReadingBudget::current();
                if (budget && budget->spent() == ReadingBudget::Spent::No)
                    budget->spend(ReadingBudget::Spent::Time);
                selected.error =
                    budget ? budget->reason(tr("region"), tr("evaluate")) : tr("the region took too long to evaluate");
                return;
            }
            if (reading == TreeReading::LeftToScan) {
                m_links.clear();
                writeBack(doc, outermost, base, selected);
                return;
            }
            // The base as the scan reads it from the base element written back.
            if (base) {
                const std::unique_ptr<xmlOutputBuffer, int (*)(xmlOutputBufferPtr)> out(xmlAllocOutputBuffer(nullptr),
                                                                                        xmlOutputBufferClose);
                if (out) {
                    htmlNodeDumpFormatOutput(out.get(), doc, base, nullptr, 0);
                    xmlOutputBufferFlush(out.get());
                    const QString written =
                        QString::fromUtf8(reinterpret_cast<const char*>(xmlOutputBufferGetContent(out.get())),
                                          int(xmlOutputBufferGetSize(out.get())));
                    if (const auto href = LinkScanner::PageLinks(written).baseHref())
                        m_base = href->toString();
                }
            }
        },
        &m_phases);
    m_matched = selection.matched;
    m_error = selection.error;
    if (!selection.html.isEmpty()) {
        Laps laps(&m_phases);
        m_written = selection.html;
        m_writtenLinks.emplace(m_written);
        laps(&Phases::read);
    }
}

std::optional<QStringView> PageRegion::Links::baseHref() const
{
    if (m_writtenLinks)
        return m_writtenLinks->baseHref();
    if (m_base)
        return QStringView(*m_base);
    return std::nullopt;
}

void PageRegion::Links::scan(const std::function<void(const LinkScanner::Match&)>& onLink) const
{
    if (m_writtenLinks) {
        m_writtenLinks->scan(onLink);
        return;
    }
    for (const TextLink& link : m_textLinks) {
        LinkScanner::Match match;
        match.href = link.href;
        match.text = link.text;
        match.alone = true;
        onLink(match);
    }
    for (const Link& link : m_links) {
        LinkScanner::Match match;
        match.href = link.href;
        match.text = link.text;
        match.markup = link.markup;
        match.alone = true;
        onLink(match);
    }
}
