// SPDX-License-Identifier: GPL-3.0-or-later
// A region as the XPath expressions that select it: a CSS selector translated to XPath 1.0, an XPath expression
// split at its top-level unions, and whether libxml2 compiles them.
#include "engine/matching/pageregiondetail.h"
#include "engine/matching/readingbudget.h"

#include <libxml/xpath.h>

namespace PageRegion::detail {
namespace {
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
} // namespace

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
} // namespace PageRegion::detail

using PageRegion::detail::expressionsOf;
using PageRegion::detail::newContext;
using PageRegion::detail::tr;
using PageRegion::detail::XPathContext;

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
