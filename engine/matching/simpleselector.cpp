// SPDX-License-Identifier: GPL-3.0-or-later
// The selection of a simple region by walking the page's tree once, sparing XPath the numbering of every element.
#include "engine/matching/pageregiondetail.h"
#include "engine/matching/readingbudget.h"

#include <algorithm>
#include <cstring>

namespace PageRegion::detail {
namespace {
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isNameCharacter(QChar c)
{
    return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_' || c == u'-');
}

// A region walkTree() takes, parsed once, then matched from the right against each element of the walk.
class SimpleSelector
{
public:
    explicit SimpleSelector(std::vector<Compound> compounds) : m_compounds(std::move(compounds)) {}

    // The outermost elements selected and the base element; carryOn is asked every so many elements looked at,
    // and no more than limit are looked at in matching.
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

std::optional<std::vector<Compound>> simpleCompounds(const QString& region)
{
    const QString s = region.trimmed();
    std::vector<Compound> compounds;
    if (s.startsWith(u"//")) {
        // XPath: the name as written, no case folded.
        const QString name = s.sliced(2);
        if (!plainName(name))
            return std::nullopt;
        compounds.push_back({name.toLatin1(), {}, {}, false});
        return compounds;
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
        compounds.push_back(std::move(compound));
        const qsizetype before = i;
        while (i < s.size() && isBlank(s.at(i)))
            ++i;
        if (i == s.size())
            return compounds;
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

std::optional<Walk> walkTree(const QString& region, xmlDocPtr doc, unsigned long limit, ReadingBudget& budget)
{
    std::optional<std::vector<Compound>> compounds = simpleCompounds(region);
    if (!compounds)
        return std::nullopt;
    return SimpleSelector(std::move(*compounds)).walk(doc, limit, budget);
}
} // namespace PageRegion::detail
