// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/matching/linkscanner.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// One region of a page, named by a CSS selector or an XPath expression, read with libxml2's HTML parser
// (recovering from faulty markup, no network access, libxml2's own bound on the nesting depth). The
// elements it selects are written back as HTML, so their links go through the same link scan as a whole
// page's.
namespace PageRegion {
// The longest region a task may name.
constexpr int MaxLength = 1000;
// The XPath work allowed per character of the page (and at least MinOperations), so a selector that
// would revisit nested elements again and again stops in time linear in the page.
constexpr unsigned long OperationsPerCharacter = 8;
constexpr unsigned long MinOperations = 10000000;

// An XPath expression when the region begins with "/" or "(", else a CSS selector: type, "*", "#id",
// ".class", "[a]", "[a=v]", "[a~=v]", "[a^=v]", "[a$=v]", "[a*=v]", descendant, ">", "+" and "~"
// combinators, groups with ",", ":first-child", ":last-child", ":nth-child(n)" (n a position from 1). Gives the XPath
// expression, or an empty one and the reason in error.
QString xpathOf(const QString& region, QString* error = nullptr);
// Why the region cannot be used (an over-long text, a selector or expression that does not parse); empty
// when it can. An empty region is the whole page.
QString problem(const QString& region);

struct Selection
{
    bool matched = false; // the region selected at least one element
    QString html;         // the page's base element, if any, then each selected element as HTML
    QString error;        // why the page or the region could not be read; then nothing is selected
};
// The elements of the page the region selects, in page order; an element inside another one selected is
// written once, as part of it.
Selection select(QStringView page, const QString& region);

// Where the reading of a region spent its time, in nanoseconds: the page converted to UTF-8, parsed, its elements
// numbered for XPath (where the region needs XPath), the region selected, its links read or written back and
// scanned, and the tree freed.
struct Phases
{
    qint64 convert = 0;
    qint64 parse = 0;
    qint64 order = 0;
    qint64 select = 0;
    qint64 read = 0;
    qint64 free = 0;
};

// The links of a region: what LinkScanner::PageLinks finds in select()'s html, the same links with the same
// texts in the same order, but read from the parsed tree wherever the tree tells what the scan would find. That
// spares writing the region back as HTML and reading it again. A simple region (types, ids and classes joined by
// descendant and ">" combinators) of a page whose tree is its markup as written is read from the page's text
// without a tree at all. Where the written form could read otherwise
// (text taken as it stands: comments holding markup, scripts and styles; "href=" anywhere but an anchor's own
// href; anchors inside anchors; tags and anchors near the scan's bounds), the region is written back and scanned.
class Links
{
public:
    // carryOn, when given, is asked every so many elements of the reading; false abandons it with a reason.
    Links(QStringView page, const QString& region, const std::function<bool()>& carryOn = {});
    Links(const Links&) = delete;
    Links& operator=(const Links&) = delete;

    bool matched() const { return m_matched; } // the region selected at least one element
    const QString& error() const { return m_error; }
    // The href value, as written, of the page's base element.
    std::optional<QStringView> baseHref() const;
    void scan(const std::function<void(const LinkScanner::Match&)>& onLink) const;
    // Whether the links were read without the region written back and scanned: from the tree, or from the page's
    // text (fromText()).
    bool fromTree() const { return !m_writtenLinks.has_value(); }
    // Whether they were read straight from the page's text, without a tree (a simple region on a plain page).
    bool fromText() const { return m_fromText; }
    const Phases& phases() const { return m_phases; }

    // A link read from the tree: its href value written as the scan reads it, its text as the scan gives it.
    struct Link
    {
        QString href;
        QString text;
        bool markup;
    };

    // A link read from the page's text: its href value quoted as the tree writes it and its text, as they stand in
    // the page (a value in single quotes is written in a string of its own).
    struct TextLink
    {
        QStringView href;
        QStringView text;
    };

private:
    // Reads a simple region from the page's text; false when it is left to the tree.
    bool readText(QStringView page, const QString& region, const std::function<bool()>& carryOn);

    bool m_matched = false;
    bool m_fromText = false;
    QString m_error;
    std::optional<QString> m_base;
    QList<Link> m_links;
    QList<TextLink> m_textLinks; // over the page, which lives as long as this object
    QStringList m_textHrefs;     // the href values in single quotes, written in double ones
    QString m_written;
    std::optional<LinkScanner::PageLinks> m_writtenLinks; // over m_written
    Phases m_phases;
};
} // namespace PageRegion
