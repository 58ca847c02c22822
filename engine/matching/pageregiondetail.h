// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the pieces of PageRegion share: the region as XPath expressions (regionexpressions.cpp), the selection by
// XPath (xpathselection.cpp) or by walking the tree (simpleselector.cpp), and the links read from the tree
// (treereader.cpp). Only pageregion.cpp and those files include it.

#include "engine/matching/pageregion.h"

#include <QCoreApplication>
#include <QStringList>

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ReadingBudget;

namespace PageRegion::detail {
inline QString tr(const char* text)
{
    return QCoreApplication::translate("PageRegion", text);
}

// A string libxml2 made, freed with it.
using XmlText = std::unique_ptr<xmlChar, void (*)(void*)>;

// A name XPath takes as it is (HTML element and attribute names as libxml2 keeps them: lower case).
bool plainName(const QString& name);

// A base element as the scan takes one: with an href attribute.
inline bool isBase(const xmlNode* node)
{
    return node->type == XML_ELEMENT_NODE && node->name && node->name[0] == 'b' &&
           xmlStrEqual(node->name, BAD_CAST "base") && xmlHasProp(node, BAD_CAST "href");
}

// The expressions whose elements together make the region: those an XPath expression's unions join, or one for
// each selector of a CSS group (their sets are joined here, which libxml2's union would do in quadratic time).
// Empty, with the reason in error, when the region does not parse.
QStringList expressionsOf(const QString& region, QString* error);

using XPathContext = std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)>;
// A context whose errors are not printed; null when out of memory.
XPathContext newContext(xmlDocPtr doc);

// The outermost elements the expressions select, in page order, into outermost; false when they could not be
// selected, with the reason in selection.error or in the budget. The document's elements are numbered first
// (xmlXPathOrderDocElems), so node sets are sorted and compared in constant time a pair.
bool selectByXPath(xmlDocPtr doc, const QStringList& expressions, unsigned long opLimit, ReadingBudget& budget,
                   std::vector<xmlNodePtr>& outermost, Selection& selection);

// The outermost elements selected, in page order, and the page's base element, in one walk of the tree.
struct Walk
{
    std::vector<xmlNodePtr> outermost;
    xmlNodePtr base = nullptr;
    bool stopped = false; // abandoned by the budget or past the limit
};
// A region that names elements by type ("*" or a name), "#id" and ".class", joined by descendant and ">"
// combinators, or the XPath expression "//name", selected by walking the tree: the same elements as the XPath
// expression the region stands for (xpathOf()) selects, without the document's elements numbered first. The
// budget is asked every so many elements looked at, and no more than limit are looked at in matching. Nullopt
// when the region is none of those, and is left to XPath.
std::optional<Walk> walkTree(const QString& region, xmlDocPtr doc, unsigned long limit, ReadingBudget& budget);

enum class TreeReading
{
    Read,       // every element's links are in links
    LeftToScan, // an element is to be written back and scanned; links holds those read before it
    Stopped     // carryOn abandoned the reading
};
// Appends the links of each element and its descendants, in order, as the link scan would find them in the
// elements written back; carryOn is asked every so many elements.
TreeReading readLinks(xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, const std::function<bool()>& carryOn,
                      QList<Links::Link>& links);
} // namespace PageRegion::detail
