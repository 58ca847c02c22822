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

// One compound of a simple region: an element's type, id and classes, and how it is joined to the compound on its
// left.
struct Compound
{
    QByteArray name; // empty: any element
    QByteArray id;
    std::vector<QByteArray> classes;
    bool child; // joined to the compound on its left by ">", else as a descendant
};
// The compounds of a region that names elements by type ("*" or a name), "#id" and ".class", joined by descendant
// and ">" combinators, or of the XPath expression "//name" (the name as written); nullopt for any other region.
std::optional<std::vector<Compound>> simpleCompounds(const QString& region);

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

enum class TextReading
{
    Read,       // the links are in links, matched tells whether the region selected an element
    LeftToTree, // the page is not plain enough to be read without its tree
    Stopped     // the budget abandoned the reading
};
// The links of a simple region read straight from the page's text, without a tree: what readLinks() gives for the
// elements walkTree() selects in libxml2's tree of the page. Only a page whose tree is its markup as written is read
// so (explicit html and body elements, every element closed by its own end tag or void, attributes quoted, anchors
// of plain text); at anything else it leaves the page to the tree. The links are views of the page, or of hrefs when
// the page quotes the value otherwise than the tree writes it. carryOn is asked every so many tags; the links held
// are counted against the budget's memory.
TextReading readFromText(QStringView page, const std::vector<Compound>& compounds, const std::function<bool()>& carryOn,
                         ReadingBudget& budget, QList<Links::TextLink>& links, QStringList& hrefs, bool& matched);

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
