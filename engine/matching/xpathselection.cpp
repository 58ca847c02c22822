// SPDX-License-Identifier: GPL-3.0-or-later
// The elements a region's XPath expressions select, each expression evaluated within the reading's budget, with
// the libxml2 functions that would take quadratic time replaced by linear ones, and the sets joined here.
#include "engine/matching/pageregiondetail.h"
#include "engine/matching/readingbudget.h"

#include <libxml/xpathInternals.h>

#include <QHash>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace PageRegion::detail {
namespace {
// libxml2 reports faulty expressions through this instead of printing them.
void ignoreError(void*, xmlErrorPtr) {}

using XPathObject = std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)>;

// The first node after the node's subtree, in document order, that is an element; null at the end.
const xmlNode* nextElementAfter(const xmlNode* node)
{
    for (; node; node = node->parent) {
        for (const xmlNode* next = node->next; next; next = next->next) {
            if (next->type == XML_ELEMENT_NODE)
                return next;
        }
    }
    return nullptr;
}

// XPath functions whose libxml2 forms take time growing with the product of their arguments' lengths (a search of
// a string in another, a translation), or whose set of nodes is built in quadratic time (id()), replaced by forms
// linear in their arguments; the reading's budget is asked as they go.
XmlText popText(xmlXPathParserContextPtr ctxt)
{
    xmlXPathObjectPtr value = valuePop(ctxt);
    XmlText text(value ? xmlXPathCastToString(value) : nullptr, xmlFree);
    xmlXPathFreeObject(value);
    return text;
}

size_t lengthOf(const XmlText& text)
{
    return text ? std::strlen(reinterpret_cast<const char*>(text.get())) : 0;
}

// Where needle first stands in haystack (two-way search: linear in both); null when nowhere.
const xmlChar* find(const XmlText& haystack, const XmlText& needle)
{
    if (!haystack || !needle)
        return nullptr;
    return static_cast<const xmlChar*>(memmem(haystack.get(), lengthOf(haystack), needle.get(), lengthOf(needle)));
}

void pushText(xmlXPathParserContextPtr ctxt, const xmlChar* text, size_t length)
{
    valuePush(ctxt, xmlXPathWrapString(xmlStrndup(text ? text : BAD_CAST "", int(length))));
}

void containsFunction(xmlXPathParserContextPtr ctxt, int nargs)
{
    CHECK_ARITY(2);
    const XmlText needle = popText(ctxt);
    const XmlText haystack = popText(ctxt);
    valuePush(ctxt, xmlXPathNewBoolean(find(haystack, needle) != nullptr));
}

void substringBeforeFunction(xmlXPathParserContextPtr ctxt, int nargs)
{
    CHECK_ARITY(2);
    const XmlText needle = popText(ctxt);
    const XmlText haystack = popText(ctxt);
    const xmlChar* at = find(haystack, needle);
    pushText(ctxt, haystack.get(), at ? size_t(at - haystack.get()) : 0);
}

void substringAfterFunction(xmlXPathParserContextPtr ctxt, int nargs)
{
    CHECK_ARITY(2);
    const XmlText needle = popText(ctxt);
    const XmlText haystack = popText(ctxt);
    const xmlChar* at = find(haystack, needle);
    const size_t skip = at ? size_t(at - haystack.get()) + lengthOf(needle) : 0;
    pushText(ctxt, at ? haystack.get() + skip : nullptr, at ? lengthOf(haystack) - skip : 0);
}

QList<uint> codePoints(const XmlText& text)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(text.get()), qsizetype(lengthOf(text))).toUcs4();
}

void translateFunction(xmlXPathParserContextPtr ctxt, int nargs)
{
    CHECK_ARITY(3);
    const QList<uint> to = codePoints(popText(ctxt));
    const QList<uint> from = codePoints(popText(ctxt));
    const QList<uint> text = codePoints(popText(ctxt));
    QHash<uint, qsizetype> position; // the first place of each character of from
    for (qsizetype i = from.size() - 1; i >= 0; --i)
        position.insert(from.at(i), i);
    QList<uint> out;
    out.reserve(text.size());
    for (const uint c : text) {
        const auto at = position.constFind(c);
        if (at == position.constEnd())
            out.append(c);
        else if (*at < to.size())
            out.append(to.at(*at));
    }
    const QByteArray utf8 = QString::fromUcs4(reinterpret_cast<const char32_t*>(out.constData()), out.size()).toUtf8();
    pushText(ctxt, BAD_CAST utf8.constData(), size_t(utf8.size()));
}

// Elements looked for by id(): the words of its argument, at most so many characters of them.
constexpr qsizetype MaxIdText = 64 * 1024;

void idFunction(xmlXPathParserContextPtr ctxt, int nargs)
{
    CHECK_ARITY(1);
    xmlXPathObjectPtr value = valuePop(ctxt);
    QByteArray words;
    const auto add = [&](xmlChar* text) {
        if (text && words.size() <= MaxIdText)
            words.append(' ').append(reinterpret_cast<const char*>(text));
        xmlFree(text);
    };
    if (value && value->type == XPATH_NODESET && value->nodesetval) {
        for (int i = 0; i < value->nodesetval->nodeNr && words.size() <= MaxIdText; ++i)
            add(xmlXPathCastNodeToString(value->nodesetval->nodeTab[i]));
    } else if (value) {
        add(xmlXPathCastToString(value));
    }
    xmlXPathFreeObject(value);
    if (words.size() > MaxIdText) {
        if (ReadingBudget* budget = ReadingBudget::current())
            budget->spend(ReadingBudget::Spent::Time);
        XP_ERROR(XPATH_OP_LIMIT_EXCEEDED);
    }
    std::vector<xmlNodePtr> found;
    for (const QByteArray& word : words.simplified().split(' ')) {
        xmlAttrPtr id = word.isEmpty() ? nullptr : xmlGetID(ctxt->context->doc, BAD_CAST word.constData());
        if (id && id->type == XML_ATTRIBUTE_NODE && id->parent)
            found.push_back(id->parent);
    }
    std::sort(found.begin(), found.end(), [](xmlNodePtr a, xmlNodePtr b) { return xmlXPathCmpNodes(a, b) > 0; });
    found.erase(std::unique(found.begin(), found.end()), found.end());
    xmlNodeSetPtr set = xmlXPathNodeSetCreate(nullptr);
    for (xmlNodePtr node : found)
        xmlXPathNodeSetAddUnique(set, node);
    valuePush(ctxt, xmlXPathWrapNodeSet(set));
}

xmlXPathFunction linearFunction(void*, const xmlChar* name, const xmlChar* uri)
{
    if (uri)
        return nullptr;
    static const std::pair<const char*, xmlXPathFunction> functions[] = {
        {"contains", containsFunction},
        {"substring-before", substringBeforeFunction},
        {"substring-after", substringAfterFunction},
        {"translate", translateFunction},
        {"id", idFunction},
    };
    for (const auto& [known, function] : functions) {
        if (xmlStrEqual(name, BAD_CAST known))
            return function;
    }
    return nullptr;
}
} // namespace

XPathContext newContext(xmlDocPtr doc)
{
    XPathContext context(xmlXPathNewContext(doc), xmlXPathFreeContext);
    if (context)
        context->error = ignoreError;
    return context;
}

bool selectByXPath(xmlDocPtr doc, const QStringList& expressions, unsigned long opLimit, ReadingBudget& budget,
                   std::vector<xmlNodePtr>& outermost, PageRegion::Selection& selection)
{
    const XPathContext context = newContext(doc);
    if (!context) {
        selection.error = tr("out of memory");
        return false;
    }
    xmlXPathRegisterFuncLookup(context.get(), linearFunction, nullptr);
    context->opLimit = opLimit;
    // The evaluation stops at its next step once the budget is spent, until the context is freed.
    budget.watchXPath(context.get());
    const std::unique_ptr<ReadingBudget, void (*)(ReadingBudget*)> unwatch(
        &budget, [](ReadingBudget* watching) { watching->watchXPath(nullptr); });
    const auto before = [](xmlNodePtr a, xmlNodePtr b) { return xmlXPathCmpNodes(a, b) > 0; };
    // The elements of the expressions so far, in page order, each once: joined as each expression is evaluated,
    // so the elements held are never more than the page's.
    std::vector<xmlNodePtr> nodes;
    std::vector<xmlNodePtr> more;
    std::vector<xmlNodePtr> joined;
    for (const QString& expression : expressions) {
        const XPathObject found(xmlXPathEvalExpression(BAD_CAST expression.toUtf8().constData(), context.get()),
                                xmlXPathFreeObject);
        if (!found && context->opCount >= context->opLimit)
            budget.spend(ReadingBudget::Spent::Time);
        if (!budget.carryOn())
            return false;
        if (!found) {
            selection.error = tr("the region could not be selected");
            return false;
        }
        if (found->type != XPATH_NODESET || !found->nodesetval)
            continue;
        more.clear();
        for (int n = 0; n < found->nodesetval->nodeNr; ++n) {
            xmlNodePtr node = found->nodesetval->nodeTab[n];
            if (node->type == XML_HTML_DOCUMENT_NODE || node->type == XML_DOCUMENT_NODE)
                node = xmlDocGetRootElement(doc);
            if (node && node->type == XML_ELEMENT_NODE)
                more.push_back(node);
        }
        if (expressions.size() == 1) {
            nodes.swap(more);
            break;
        }
        std::sort(more.begin(), more.end(), before);
        joined.clear();
        std::merge(nodes.begin(), nodes.end(), more.begin(), more.end(), std::back_inserter(joined), before);
        joined.erase(std::unique(joined.begin(), joined.end()), joined.end());
        nodes.swap(joined);
    }
    const xmlNode* end = nullptr; // the first element after the subtree last taken
    for (xmlNodePtr node : nodes) {
        // In document order: a node before the end of the subtree last taken is inside it.
        if (!outermost.empty() && (!end || xmlXPathCmpNodes(node, const_cast<xmlNodePtr>(end)) > 0))
            continue;
        outermost.push_back(node);
        end = nextElementAfter(node);
    }
    return true;
}
} // namespace PageRegion::detail
