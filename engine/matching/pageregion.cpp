// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/pageregion.h"

#include "engine/matching/readingbudget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QStringList>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("PageRegion", text);
}

// libxml2 reports faulty expressions through this instead of printing them.
void ignoreError(void*, xmlErrorPtr) {}

// A string as an XPath 1.0 literal, which has no escapes: a value holding both quotes is joined with concat().
QString literal(const QString& value)
{
    if (!value.contains(u'\''))
        return u'\'' + value + u'\'';
    if (!value.contains(u'"'))
        return u'"' + value + u'"';
    QStringList parts;
    const QStringList pieces = value.split(u'\'');
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            parts.append(QStringLiteral("\"'\""));
        if (!pieces.at(i).isEmpty())
            parts.append(u'\'' + pieces.at(i) + u'\'');
    }
    return QStringLiteral("concat(") + parts.join(u',') + u')';
}

// A name XPath takes as it is (HTML element and attribute names as libxml2 keeps them: lower case).
bool plainName(const QString& name)
{
    if (name.isEmpty() || !(name.front().isLetter() || name.front() == u'_'))
        return false;
    for (QChar c : name) {
        if (!(c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_' || c == u'-')))
            return false;
    }
    return true;
}

// "Word" as a whitespace-separated token of the attribute's value, as for class and ~=.
QString hasWord(const QString& attribute, const QString& word)
{
    if (word.isEmpty() || word.contains(u' ') || word.contains(u'\t') || word.contains(u'\n'))
        return QStringLiteral("false()");
    return QStringLiteral("contains(concat(' ',normalize-space(%1),' '),%2)")
        .arg(attribute, literal(u' ' + word + u' '));
}

// Translates a CSS selector to XPath 1.0, one character at a time: linear in the selector.
class CssTranslator
{
public:
    explicit CssTranslator(const QString& css) : s(css) {}

    // The XPath expression of each selector of the group.
    QStringList group()
    {
        QStringList paths;
        for (;;) {
            blanks();
            paths.append(selector());
            if (!error.isEmpty())
                return {};
            blanks();
            if (atEnd())
                break;
            if (s.at(i) != u',') {
                fail();
                return {};
            }
            ++i;
        }
        return paths;
    }
    QString error;

private:
    QString fail(const QString& why = QString())
    {
        if (error.isEmpty()) {
            error = !why.isEmpty() ? why
                    : atEnd()      ? tr("the selector ends too early")
                                   : tr("the selector does not parse at character %1 (\"%2\")").arg(i + 1).arg(s.at(i));
        }
        return {};
    }
    bool atEnd() const { return i >= s.size(); }
    bool blanks()
    {
        const qsizetype start = i;
        while (!atEnd() && (s.at(i) == u' ' || s.at(i) == u'\t' || s.at(i) == u'\n' || s.at(i) == u'\r'))
            ++i;
        return i > start;
    }
    static bool nameStart(QChar c)
    {
        return c.isLetter() || c == u'_' || c == u'-' || c == u'\\' || c.unicode() >= 128;
    }
    QString name()
    {
        QString out;
        while (!atEnd() && (nameStart(s.at(i)) || s.at(i).isDigit())) {
            if (s.at(i) == u'\\') {
                if (++i >= s.size())
                    return fail();
            }
            out += s.at(i++);
        }
        return out;
    }
    QString value()
    {
        if (atEnd())
            return fail();
        const QChar quote = s.at(i);
        if (quote != u'"' && quote != u'\'') {
            const QString plain = name();
            return plain.isEmpty() ? fail() : plain;
        }
        QString out;
        for (++i; !atEnd() && s.at(i) != quote; ++i) {
            if (s.at(i) == u'\\' && ++i >= s.size())
                break;
            out += s.at(i);
        }
        if (atEnd())
            return fail(tr("a quoted value of the selector is not closed"));
        ++i;
        return out;
    }

    // Matched from the right, as browsers match: the rightmost compound is the only step taken from the
    // document, and each one to its left is a condition on the element's parent, ancestors or earlier
    // siblings. One step from one node builds its set in one pass, where a step from each of many nodes would
    // have libxml2 merge their sets at a cost growing with the square of the elements found.
    QString selector()
    {
        QString path = step();
        while (error.isEmpty()) {
            const bool spaced = blanks();
            if (atEnd() || s.at(i) == u',')
                break;
            QChar combinator = u' ';
            if (s.at(i) == u'>' || s.at(i) == u'+' || s.at(i) == u'~') {
                combinator = s.at(i++);
                blanks();
            } else if (!spaced) {
                return fail();
            }
            const QString next = step();
            switch (combinator.unicode()) {
            case u'>':
                path = QStringLiteral("%1[parent::%2]").arg(next, path);
                break;
            case u'+':
                path = QStringLiteral("%1[preceding-sibling::*[1]/self::%2]").arg(next, path);
                break;
            case u'~':
                path = QStringLiteral("%1[preceding-sibling::%2]").arg(next, path);
                break;
            default:
                path = QStringLiteral("%1[ancestor::%2]").arg(next, path);
            }
        }
        return QStringLiteral("//") + path;
    }

    // One compound selector as an XPath step after axis: the element's name, then one predicate a test.
    QString step()
    {
        QString element = QStringLiteral("*");
        QString tests;
        bool any = false;
        if (!atEnd() && s.at(i) == u'*') {
            ++i;
            any = true;
        } else if (!atEnd() && nameStart(s.at(i))) {
            const QString typed = name().toLower();
            if (plainName(typed))
                element = typed;
            else
                tests += QStringLiteral("[local-name()=%1]").arg(literal(typed));
            any = true;
        }
        while (!atEnd() && error.isEmpty()) {
            const QChar c = s.at(i);
            if (c == u'#' || c == u'.') {
                ++i;
                const QString id = name();
                if (id.isEmpty())
                    return fail();
                tests += c == u'#' ? QStringLiteral("[@id=%1]").arg(literal(id))
                                   : u'[' + hasWord(QStringLiteral("@class"), id) + u']';
            } else if (c == u'[') {
                ++i;
                tests += u'[' + attributeTest() + u']';
            } else if (c == u':') {
                ++i;
                tests += u'[' + pseudoClass() + u']';
            } else {
                break;
            }
            any = true;
        }
        if (!any)
            return fail();
        return element + tests;
    }

    QString attributeTest()
    {
        blanks();
        const QString attributeName = name().toLower();
        if (attributeName.isEmpty())
            return fail();
        const QString attribute = plainName(attributeName)
                                      ? u'@' + attributeName
                                      : QStringLiteral("@*[local-name()=%1]").arg(literal(attributeName));
        blanks();
        if (atEnd())
            return fail();
        if (s.at(i) == u']') {
            ++i;
            return attribute;
        }
        QChar op = s.at(i);
        if (op == u'=') {
            ++i;
        } else if (QStringView(u"~^$*").contains(op) && i + 1 < s.size() && s.at(i + 1) == u'=') {
            i += 2;
        } else {
            return fail();
        }
        blanks();
        const QString v = value();
        blanks();
        if (!error.isEmpty() || atEnd() || s.at(i) != u']')
            return fail();
        ++i;
        const QString lit = literal(v);
        switch (op.unicode()) {
        case u'=':
            return QStringLiteral("%1=%2").arg(attribute, lit);
        case u'~':
            return hasWord(attribute, v);
        case u'^':
            return v.isEmpty() ? QStringLiteral("false()") : QStringLiteral("starts-with(%1,%2)").arg(attribute, lit);
        case u'$':
            return v.isEmpty() ? QStringLiteral("false()")
                               : QStringLiteral("substring(%1,string-length(%1)-%2+1)=%3")
                                     .arg(attribute)
                                     .arg(v.size())
                                     .arg(lit);
        default:
            return v.isEmpty() ? QStringLiteral("false()") : QStringLiteral("contains(%1,%2)").arg(attribute, lit);
        }
    }

    QString pseudoClass()
    {
        const qsizetype start = i;
        const QString pseudo = name().toLower();
        if (pseudo == u"first-child")
            return QStringLiteral("not(preceding-sibling::*[1])");
        if (pseudo == u"last-child")
            return QStringLiteral("not(following-sibling::*[1])");
        if (pseudo != u"nth-child" || atEnd() || s.at(i) != u'(') {
            i = start;
            return fail(tr("the selector uses \":%1\", which is not supported")
                            .arg(pseudo.isEmpty() ? QString(atEnd() ? QChar(u' ') : s.at(i)) : pseudo));
        }
        ++i;
        blanks();
        QString argument;
        while (!atEnd() && s.at(i) != u')' && s.at(i) != u' ')
            argument += s.at(i++);
        blanks();
        if (atEnd() || s.at(i) != u')')
            return fail();
        ++i;
        bool number = false;
        const int n = argument.toInt(&number);
        if (!number || n < 1 || argument.startsWith(u'+'))
            return fail(tr("\":nth-child\" takes a position from 1"));
        // Positional steps: libxml2 stops walking the siblings at the position asked for, where counting them
        // all would cost, on a list of n items, time growing with n squared.
        if (n == 1)
            return QStringLiteral("not(preceding-sibling::*[1])");
        return QStringLiteral("preceding-sibling::*[%1] and not(preceding-sibling::*[%2])").arg(n - 1).arg(n);
    }

    const QString& s;
    qsizetype i = 0;
};

using XPathContext = std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)>;
using XPathObject = std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)>;

XPathContext newContext(xmlDocPtr doc)
{
    XPathContext context(xmlXPathNewContext(doc), xmlXPathFreeContext);
    if (context)
        context->error = ignoreError;
    return context;
}

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

} // namespace

namespace {
// The index of the parenthesis closing the one at open, literals passed over; -1 when none does.
qsizetype closingOf(const QString& expression, qsizetype open)
{
    int depth = 0;
    QChar quote;
    for (qsizetype i = open; i < expression.size(); ++i) {
        const QChar c = expression.at(i);
        if (!quote.isNull()) {
            quote = c == quote ? QChar() : quote;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'(') {
            ++depth;
        } else if (c == u')' && --depth == 0) {
            return i;
        }
    }
    return -1;
}

// An XPath expression as the expressions its top-level unions join, with parentheses around the whole dropped:
// their sets are joined here. A union inside brackets or parentheses is refused, as libxml2 joins node sets in
// time growing with the product of their sizes.
bool appendUnionsOf(QString expression, QStringList& parts, QString* error)
{
    expression = expression.trimmed();
    while (expression.startsWith(u'(') && closingOf(expression, 0) == expression.size() - 1)
        expression = expression.sliced(1, expression.size() - 2).trimmed();
    QStringList branches;
    int depth = 0;
    QChar quote;
    qsizetype start = 0;
    bool nested = false;
    for (qsizetype i = 0; i < expression.size(); ++i) {
        const QChar c = expression.at(i);
        if (!quote.isNull()) {
            quote = c == quote ? QChar() : quote;
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'(' || c == u'[') {
            ++depth;
        } else if (c == u')' || c == u']') {
            --depth;
        } else if (c == u'|' && depth == 0) {
            branches.append(expression.sliced(start, i - start));
            start = i + 1;
        } else if (c == u'|') {
            nested = true;
        }
    }
    if (branches.isEmpty()) {
        if (nested) {
            if (error)
                *error = tr("the XPath expression joins node sets with \"|\" inside brackets or parentheses, "
                            "which is not supported");
            return false;
        }
        parts.append(expression);
        return true;
    }
    branches.append(expression.sliced(start));
    for (const QString& branch : std::as_const(branches)) {
        if (!appendUnionsOf(branch, parts, error))
            return false;
    }
    return true;
}

// The expressions whose elements together make the region: those an XPath expression's unions join, or one for
// each selector of a CSS group (their sets are joined here, which libxml2's union would do in quadratic time).
QStringList expressionsOf(const QString& region, QString* error)
{
    const QString trimmed = region.trimmed();
    if (trimmed.startsWith(u'/') || trimmed.startsWith(u'(')) {
        QStringList parts;
        if (!appendUnionsOf(trimmed, parts, error))
            return {};
        return parts;
    }
    CssTranslator translator(trimmed);
    const QStringList paths = translator.group();
    if (error)
        *error = translator.error;
    return paths;
}

// XPath functions whose libxml2 forms take time growing with the product of their arguments' lengths (a search of
// a string in another, a translation), or whose set of nodes is built in quadratic time (id()), replaced by forms
// linear in their arguments; the reading's budget is asked as they go.
using XmlText = std::unique_ptr<xmlChar, void (*)(void*)>;

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

QString PageRegion::xpathOf(const QString& region, QString* error)
{
    return expressionsOf(region, error).join(QStringLiteral(" | "));
}

QString PageRegion::problem(const QString& region)
{
    if (region.trimmed().isEmpty())
        return {};
    if (region.size() > MaxLength)
        return tr("longer than %1 characters").arg(MaxLength);
    QString error;
    const QStringList expressions = expressionsOf(region, &error);
    if (expressions.isEmpty())
        return !error.isEmpty() ? error : tr("the XPath expression does not parse");
    initLibxml();
    const XPathContext context = newContext(nullptr);
    for (const QString& expression : expressions) {
        xmlXPathCompExprPtr compiled =
            context ? xmlXPathCtxtCompile(context.get(), BAD_CAST expression.toUtf8().constData()) : nullptr;
        if (!compiled)
            return tr("the XPath expression does not parse");
        xmlXPathFreeCompExpr(compiled);
    }
    return {};
}

namespace {
// A base element as the scan takes one: with an href attribute.
bool isBase(const xmlNode* node)
{
    return node->type == XML_ELEMENT_NODE && node->name && node->name[0] == 'b' &&
           xmlStrEqual(node->name, BAD_CAST "base") && xmlHasProp(node, BAD_CAST "href");
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isNameCharacter(QChar c)
{
    return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_' || c == u'-');
}

// A region that names elements by type ("*" or a name), "#id" and ".class", joined by descendant and ">"
// combinators, or the XPath expression "//name": matched by walking the tree, with the same elements selected as
// by the XPath expression the region stands for (xpathOf()), and without the document's elements numbered first.
class SimpleSelector
{
public:
    // The selector, when the region is one of those; else the region is left to XPath.
    static std::optional<SimpleSelector> of(const QString& region)
    {
        const QString s = region.trimmed();
        SimpleSelector selector;
        if (s.startsWith(u"//")) {
            // XPath: the name as written, no case folded.
            const QString name = s.sliced(2);
            if (!plainName(name))
                return std::nullopt;
            selector.m_compounds.push_back({name.toLatin1(), {}, {}, false});
            return selector;
        }
        if (s.startsWith(u'/') || s.startsWith(u'('))
            return std::nullopt;
        qsizetype i = 0;
        const auto word = [&] {
            const qsizetype start = i;
            while (i < s.size() && isNameCharacter(s.at(i)))
                ++i;
            return s.sliced(start, i - start);
        };
        bool child = false;
        for (;;) {
            Compound compound{{}, {}, {}, child};
            bool any = false;
            if (i < s.size() && s.at(i) == u'*') {
                ++i;
                any = true;
            } else if (i < s.size() && (s.at(i).isLetter() || s.at(i) == u'_')) {
                const QString type = word().toLower();
                if (!plainName(type))
                    return std::nullopt;
                compound.name = type.toLatin1();
                any = true;
            }
            while (i < s.size() && (s.at(i) == u'#' || s.at(i) == u'.')) {
                const bool id = s.at(i++) == u'#';
                const QByteArray value = word().toLatin1();
                if (value.isEmpty() || (id && !compound.id.isEmpty()))
                    return std::nullopt;
                (id ? compound.id : compound.classes.emplace_back()) = value;
                any = true;
            }
            if (!any)
                return std::nullopt;
            selector.m_compounds.push_back(std::move(compound));
            const qsizetype before = i;
            while (i < s.size() && isBlank(s.at(i)))
                ++i;
            if (i == s.size())
                return selector;
            child = s.at(i) == u'>';
            if (child) {
                ++i;
                while (i < s.size() && isBlank(s.at(i)))
                    ++i;
            } else if (i == before) {
                return std::nullopt; // anything but a descendant or ">" combinator
            }
        }
    }

    // The outermost elements selected, in page order, and the page's base element, in one walk of the tree;
    // carryOn is asked every so many elements looked at, and no more than limit are looked at in matching.
    struct Walk
    {
        std::vector<xmlNodePtr> outermost;
        xmlNodePtr base = nullptr;
        bool stopped = false; // abandoned by carryOn or past the limit
    };
    Walk walk(xmlDocPtr doc, unsigned long limit, ReadingBudget& budget) const
    {
        Walk walk;
        m_budget = &budget;
        m_steps = 0;
        m_limit = limit;
        m_stopped = false;
        const xmlNode* inside = nullptr; // the element selected whose subtree the walk is in
        const auto leave = [&](const xmlNode* node) {
            if (node == inside)
                inside = nullptr;
        };
        xmlNodePtr node = doc->children;
        while (node && !m_stopped) {
            if (node->type == XML_ELEMENT_NODE && step()) {
                if (!walk.base && isBase(node))
                    walk.base = node;
                if (!inside && matches(node, m_compounds.size() - 1)) {
                    walk.outermost.push_back(node);
                    inside = node;
                }
                if (node->children) {
                    node = node->children;
                    continue;
                }
            }
            while (node && !node->next) {
                leave(node);
                node = node->parent == reinterpret_cast<xmlNodePtr>(doc) ? nullptr : node->parent;
            }
            if (node) {
                leave(node);
                node = node->next;
            }
        }
        walk.stopped = m_stopped;
        return walk;
    }

private:
    struct Compound
    {
        QByteArray name; // empty: any element
        QByteArray id;
        std::vector<QByteArray> classes;
        bool child; // joined to the compound on its left by ">", else as a descendant
    };

    // One more element looked at: false once the reading is to stop.
    bool step() const
    {
        if (++m_steps > m_limit) {
            m_budget->spend(ReadingBudget::Spent::Time);
            m_stopped = true;
        } else if (m_steps % ElementsPerStep == 0 && !m_budget->carryOn()) {
            m_stopped = true;
        }
        return !m_stopped;
    }

    // The compound at k matches the element, and those on its left its parent or ancestors.
    bool matches(const xmlNode* element, size_t k) const
    {
        if (!step() || !test(element, m_compounds[k]))
            return false;
        if (k == 0)
            return true;
        if (m_compounds[k].child)
            return element->parent && element->parent->type == XML_ELEMENT_NODE && matches(element->parent, k - 1);
        for (const xmlNode* up = element->parent; up && up->type == XML_ELEMENT_NODE && !m_stopped; up = up->parent) {
            if (matches(up, k - 1))
                return true;
        }
        return false;
    }

    // As XPath tests them: an element name without a namespace, attribute names without a prefix, "#id" as
    // @id = 'id', ".class" as a word of normalize-space(@class).
    static bool test(const xmlNode* element, const Compound& compound)
    {
        if (!compound.name.isEmpty() && (element->ns || !element->name || element->name[0] != compound.name[0] ||
                                         !xmlStrEqual(element->name, BAD_CAST compound.name.constData())))
            return false;
        if (compound.id.isEmpty() && compound.classes.empty())
            return true;
        bool id = compound.id.isEmpty();
        bool classes = compound.classes.empty();
        for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
            if (attribute->ns && attribute->ns->prefix)
                continue;
            const bool isId = xmlStrEqual(attribute->name, BAD_CAST "id");
            const bool isClass = xmlStrEqual(attribute->name, BAD_CAST "class");
            if ((!isId || id) && (!isClass || classes))
                continue;
            const QByteArray value = valueOf(attribute);
            if (isId)
                id = value == compound.id;
            else
                classes = std::all_of(compound.classes.cbegin(), compound.classes.cend(),
                                      [&](const QByteArray& word) { return hasWord(value, word); });
        }
        return id && classes;
    }

    // The attribute's string value, as XPath takes it.
    static QByteArray valueOf(const xmlAttr* attribute)
    {
        const xmlNode* text = attribute->children;
        if (text && !text->next && text->type == XML_TEXT_NODE && text->content)
            return QByteArray::fromRawData(reinterpret_cast<const char*>(text->content),
                                           qsizetype(std::strlen(reinterpret_cast<const char*>(text->content))));
        const XmlText value(xmlNodeGetContent(reinterpret_cast<const xmlNode*>(attribute)), xmlFree);
        return QByteArray(value ? reinterpret_cast<const char*>(value.get()) : "");
    }

    // Whether the word is one of the value's words, split at XML blanks as normalize-space() does.
    static bool hasWord(const QByteArray& value, const QByteArray& word)
    {
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        for (qsizetype at = value.indexOf(word); at >= 0; at = value.indexOf(word, at + 1)) {
            const qsizetype end = at + word.size();
            if ((at == 0 || blank(value.at(at - 1))) && (end == value.size() || blank(value.at(end))))
                return true;
        }
        return false;
    }

    static constexpr unsigned long ElementsPerStep = 1024;
    std::vector<Compound> m_compounds;
    mutable ReadingBudget* m_budget = nullptr;
    mutable unsigned long m_steps = 0;
    mutable unsigned long m_limit = 0;
    mutable bool m_stopped = false;
};
} // namespace

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

// The outermost elements the expressions select, in page order, into outermost; false when they could not be
// selected, with the reason in selection.error or in the budget.
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
    if (const std::optional<SimpleSelector> simple = SimpleSelector::of(region)) {
        SimpleSelector::Walk walk = simple->walk(doc.get(), opLimit, *budget);
        laps(&PageRegion::Phases::select);
        if (walk.stopped || !budget->carryOn())
            return spent();
        outermost.swap(walk.outermost);
        base = walk.base;
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

namespace {
using XmlString = std::unique_ptr<xmlChar, void (*)(void*)>;

XmlString owned(xmlChar* text)
{
    return XmlString(text, xmlFree);
}

QString fromUtf8(const xmlChar* text)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(text));
}

bool holds(const xmlChar* text, const char* what)
{
    return text && std::strstr(reinterpret_cast<const char*>(text), what);
}

// An upper bound of the characters a piece of the tree takes written back: a byte of text or of an attribute value
// becomes at most a character reference of five characters or three %-escapes of an address.
constexpr qsizetype MaxWrittenPerByte = 9;
// Tags and anchor contents whose written form may come near the scan's bounds are left to the scan.
constexpr qsizetype MaxTreeTag = std::min(LinkScanner::MaxTagLength, qsizetype(32 * 1024));
constexpr qsizetype MaxTreeAnchorContent = LinkScanner::MaxAnchorContent / 2;
// How many elements are read between two questions whether to carry on.
constexpr qsizetype ElementsPerQuestion = 1024;

qsizetype writtenBound(const xmlChar* text)
{
    return text ? MaxWrittenPerByte * qsizetype(std::strlen(reinterpret_cast<const char*>(text))) : 0;
}

// Reads from the tree what the scan finds in an element written back by htmlNodeDumpFormatOutput, which writes a
// text node with &, <, > (and CR) as references, every attribute quoted with its references written, an href value
// with its leading blanks dropped and %-escaped, and nothing else in a way the scan could read as a tag. So in the
// written element "href=" stands only where the tree has an attribute whose name ends in "href" or a value or a raw
// text that holds it, and '<' only where a tag or a raw text (comment, script, style) begins. Wherever that is
// not so plain, read() gives up and the element is written back and scanned instead.
class TreeReader
{
public:
    TreeReader(xmlDocPtr doc, const std::function<bool()>& carryOn) : m_doc(doc), m_carryOn(carryOn) {}

    // Appends the links of the element and its descendants; false when they are left to the scan or the reading
    // was abandoned (stopped()).
    bool read(xmlNodePtr element, QList<PageRegion::Links::Link>& links)
    {
        m_links = &links;
        return readElement(element, false, nullptr, nullptr);
    }
    bool stopped() const { return m_stopped; }

private:
    // in: inside an anchor. text, contentBound: of the markup anchor around, whose text is being gathered.
    bool readElement(xmlNodePtr element, bool in, QString* text, qsizetype* contentBound)
    {
        if (++m_elements % ElementsPerQuestion == 0 && m_carryOn && !m_carryOn()) {
            m_stopped = true;
            return false;
        }
        const xmlChar* name = element->name;
        if (element->ns || !name || !((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
            return false; // a tag the scan would not read as one
        const bool anchor = xmlStrEqual(name, BAD_CAST "a");
        if (anchor && in)
            return false;
        xmlAttrPtr href = nullptr;
        qsizetype tagBound = 2 * qsizetype(std::strlen(reinterpret_cast<const char*>(name))) + 5;
        for (xmlAttrPtr attribute = element->properties; attribute; attribute = attribute->next) {
            const qsizetype length = qsizetype(std::strlen(reinterpret_cast<const char*>(attribute->name)));
            if (attribute->ns)
                return false;
            if (length >= 4 && std::memcmp(attribute->name + length - 4, "href", 4) == 0) {
                if (length > 4 || !anchor)
                    return false; // "href=" where the scan would take it for a link
                href = attribute;
            }
            tagBound += length + 4;
            for (xmlNodePtr value = attribute->children; value; value = value->next) {
                if (value->type != XML_TEXT_NODE || holds(value->content, "href="))
                    return false;
                tagBound += writtenBound(value->content);
            }
        }
        if (tagBound > MaxTreeTag)
            return false;
        if (contentBound && (*contentBound += tagBound) > MaxTreeAnchorContent)
            return false;
        if ((xmlStrEqual(name, BAD_CAST "script") || xmlStrEqual(name, BAD_CAST "style")) && element->children)
            return false; // written as it stands
        if (anchor && href && href->children)
            return readAnchor(element, href);
        return readChildren(element, in || anchor, text, contentBound);
    }

    bool readChildren(xmlNodePtr element, bool in, QString* text, qsizetype* contentBound)
    {
        for (xmlNodePtr child = element->children; child; child = child->next) {
            switch (child->type) {
            case XML_ELEMENT_NODE:
                if (!readElement(child, in, text, contentBound))
                    return false;
                break;
            case XML_TEXT_NODE:
                if (child->name == xmlStringTextNoenc)
                    return false; // written as it stands
                if (contentBound && (*contentBound += writtenBound(child->content)) > MaxTreeAnchorContent)
                    return false;
                if (text)
                    LinkScanner::appendText(text, written(child->content));
                break;
            case XML_COMMENT_NODE:
                if (holds(child->content, "<") || holds(child->content, "href="))
                    return false;
                if (contentBound && (*contentBound += writtenBound(child->content) + 7) > MaxTreeAnchorContent)
                    return false;
                break;
            default:
                return false;
            }
        }
        return true;
    }

    // An anchor with an href value: text alone inside is a match of the scan's pattern, with the text as written;
    // anything else makes it a markup anchor, with its visible text.
    bool readAnchor(xmlNodePtr anchor, xmlAttrPtr href)
    {
        bool textOnly = true;
        for (xmlNodePtr child = anchor->children; child && textOnly; child = child->next)
            textOnly = child->type == XML_TEXT_NODE && child->name != xmlStringTextNoenc;
        PageRegion::Links::Link link{hrefAsWritten(href), QString(), !textOnly};
        if (link.href.isNull())
            return false;
        if (textOnly) {
            for (xmlNodePtr child = anchor->children; child; child = child->next)
                link.text += written(child->content);
        } else {
            qsizetype contentBound = 0;
            if (!readChildren(anchor, true, &link.text, &contentBound))
                return false;
            link.text = LinkScanner::visibleText(std::move(link.text));
            if (link.text.isEmpty())
                return true;
        }
        m_links->append(std::move(link));
        return true;
    }

    // The href value quoted as htmlAttrDumpOutput writes it, by the same calls; null where it would quote otherwise.
    QString hrefAsWritten(xmlAttrPtr href) const
    {
        const XmlString value = owned(xmlNodeListGetString(m_doc, href->children, 0));
        if (!value)
            return QStringLiteral("\"\"");
        const xmlChar* start = value.get();
        while (IS_BLANK_CH(*start))
            ++start;
        const XmlString escaped = owned(xmlURIEscapeStr(start, BAD_CAST "@/:=?;#%&,+<>"));
        if (!escaped || holds(escaped.get(), "\""))
            return {};
        return u'"' + fromUtf8(escaped.get()) + u'"';
    }

    // A text node as htmlNodeDumpFormatOutput writes it.
    QString written(const xmlChar* content) const
    {
        if (!content)
            return QStringLiteral("");
        const char* raw = reinterpret_cast<const char*>(content);
        if (!std::strpbrk(raw, "&<>\r"))
            return QString::fromUtf8(raw);
        return fromUtf8(owned(xmlEncodeEntitiesReentrant(m_doc, content)).get());
    }

    xmlDocPtr m_doc;
    const std::function<bool()>& m_carryOn;
    QList<PageRegion::Links::Link>* m_links = nullptr;
    qsizetype m_elements = 0;
    bool m_stopped = false;
};
} // namespace

PageRegion::Links::Links(QStringView page, const QString& region, const std::function<bool()>& carryOn)
{
    const Selection selection = selectThen(
        page, region,
        [&](xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, xmlNodePtr base, Selection& selected) {
            const std::function<bool()> asked = carryOn ? carryOn : [] { return ReadingBudget::carryOnHere(); };
            TreeReader reader(doc, asked);
            const bool plain = std::all_of(outermost.cbegin(), outermost.cend(),
                                           [&](xmlNodePtr node) { return reader.read(node, m_links); });
            if (reader.stopped()) {
                selected.matched = false;
                ReadingBudget* budget = ReadingBudget::current();
                if (budget && budget->spent() == ReadingBudget::Spent::No)
                    budget->spend(ReadingBudget::Spent::Time);
                selected.error =
                    budget ? budget->reason(tr("region"), tr("evaluate")) : tr("the region took too long to evaluate");
                return;
            }
            if (!plain) {
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
    for (const Link& link : m_links) {
        LinkScanner::Match match;
        match.href = link.href;
        match.text = link.text;
        match.markup = link.markup;
        match.alone = true;
        onLink(match);
    }
}
