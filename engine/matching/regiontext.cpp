// SPDX-License-Identifier: GPL-3.0-or-later
// The links of a simple region read from the page's text, for a page whose tree is its markup as written: the same
// links as the tree gives, without the cost of building and freeing the tree.
#include "engine/matching/pageregiondetail.h"
#include "engine/matching/readingbudget.h"
#include "engine/matching/regionmarkup.h"

#include <cstring>
#include <optional>
#include <string>

namespace PageRegion::detail {
namespace {
constexpr qsizetype MaxNameLength = 32;    // libxml2 cuts longer names at 100 characters
constexpr qsizetype MaxSelectedTag = 1000; // written back, far below the bound TreeReader leaves to the scan
constexpr qsizetype MaxDepth = 200;        // below libxml2's bound on the nesting depth
constexpr qsizetype MaxAttributes = 32;
constexpr int MaxProbesPerPage = 64; // what libxml2 does with a pair of names, asked of it per page at most
constexpr unsigned TagsPerQuestion = 1024;
constexpr qsizetype HeldPerString = 32; // a string's header and the allocator's own, in characters at most

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isLetter(char16_t c)
{
    return (c | 0x20) >= u'a' && (c | 0x20) <= u'z';
}

bool isNameCharacter(char16_t c)
{
    return isLetter(c) || (c >= u'0' && c <= u'9') || c == u'-';
}

char16_t lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c;
}

// Whether the text, in any case, is word (lower case).
bool equalsLower(QStringView text, const char* word, qsizetype length)
{
    if (text.size() != length)
        return false;
    for (qsizetype i = 0; i < length; ++i) {
        if (lower(text[i].unicode()) != char16_t(word[i]))
            return false;
    }
    return true;
}

// Whether the text is blank as libxml2 drops blanks, or empty.
bool blank(QStringView text)
{
    for (QChar c : text) {
        if (!isBlank(c.unicode()))
            return false;
    }
    return true;
}

// Characters an href value may hold to be written back as it stands: those xmlURIEscapeStr() leaves alone with
// TreeReader's list of them, but the reference sign and the angle brackets.
bool plainHref(QStringView value)
{
    if (value.isEmpty())
        return false;
    for (QChar c : value) {
        const char16_t u = c.unicode();
        if (isLetter(u) || (u >= u'0' && u <= u'9'))
            continue;
        if (u >= 0x80 || !std::strchr("-_.!~*'()@/:=?;#%,+", char(u)))
            return false;
    }
    return true;
}

class TextReader
{
public:
    TextReader(QStringView page, const std::vector<Compound>& compounds, const std::function<bool()>& carryOn,
               ReadingBudget& budget, QList<Links::TextLink>& links, QStringList& hrefs)
        : m_page(page), m_s(page.utf16()), m_size(page.size()), m_compounds(compounds), m_carryOn(carryOn),
          m_budget(budget), m_links(links), m_hrefs(hrefs), m_names(ElementNames::ofThread()),
          m_stepLimit(qMax(MinOperations, OperationsPerCharacter * static_cast<unsigned long>(page.size())))
    {
        m_attributes.reserve(size_t(MaxAttributes));
    }

    TextReading read(bool& matched)
    {
        m_names.startReading();
        if (!plainCharacters(m_page))
            return TextReading::LeftToTree;
        qsizetype pos = 0;
        unsigned tags = 0;
        while (pos < m_size) {
            const qsizetype lt = m_page.indexOf(u'<', pos);
            const qsizetype textEnd = lt < 0 ? m_size : lt;
            if (!textFits(m_page.sliced(pos, textEnd - pos)))
                return TextReading::LeftToTree;
            if (lt < 0)
                break;
            if (++tags % TagsPerQuestion == 0 && m_carryOn && !m_carryOn())
                return TextReading::Stopped;
            const char16_t next = lt + 1 < m_size ? m_s[lt + 1] : u'\0';
            if (isLetter(next))
                pos = startTag(lt);
            else if (next == u'/')
                pos = endTag(lt);
            else if (next == u'!')
                pos = declaration(lt);
            else
                pos = -1;
            if (pos < 0)
                return TextReading::LeftToTree;
        }
        matched = m_matched;
        return TextReading::Read;
    }

private:
    struct Open
    {
        int name;
        QStringView id;
        QStringView classes;
        bool hasId;
        bool hasClass;
        bool anchor; // an anchor inside the selection
    };
    struct Attribute
    {
        QStringView name;
        QStringView value;
        bool valued;
        bool reference; // the value holds '&', which libxml2 reads as a reference
        bool href;      // the value holds "href=", which the scan would take for a link
    };

    bool inHead() const { return !m_open.empty() && m_names.kind(m_open.back().name) == ElementKind::Head; }

    // Text between tags: anything but blanks only where libxml2 keeps it as it stands (not before the body, where it
    // would open a paragraph of its own).
    bool textFits(QStringView text) const
    {
        return text.isEmpty() || ((m_open.size() >= 2 && !inHead()) || blank(text));
    }

    // The name at from, in lower case into name; its end, or -1 when it is no plain name.
    qsizetype readName(qsizetype from, char* name, qsizetype& length) const
    {
        qsizetype at = from;
        while (at < m_size && isNameCharacter(m_s[at]) && at - from < MaxNameLength) {
            name[at - from] = char(lower(m_s[at]));
            ++at;
        }
        length = at - from;
        if (at >= m_size || !(isBlank(m_s[at]) || m_s[at] == u'>' || m_s[at] == u'/'))
            return -1;
        return at;
    }

    // Reads the attributes from at up to the end of the tag; its end, or -1.
    qsizetype readAttributes(qsizetype at, bool& selfClosing)
    {
        m_attributes.clear();
        selfClosing = false;
        for (;;) {
            bool blankBefore = false;
            while (at < m_size && isBlank(m_s[at])) {
                ++at;
                blankBefore = true;
            }
            if (at >= m_size)
                return -1;
            if (m_s[at] == u'>')
                return at + 1;
            if (m_s[at] == u'/') {
                if (at + 1 < m_size && m_s[at + 1] == u'>') {
                    selfClosing = true;
                    return at + 2;
                }
                return -1;
            }
            if (!blankBefore || !isLetter(m_s[at]) || qsizetype(m_attributes.size()) >= MaxAttributes)
                return -1;
            const qsizetype nameStart = at;
            while (at < m_size && isNameCharacter(m_s[at]))
                ++at;
            Attribute attribute{m_page.sliced(nameStart, at - nameStart), {}, false, false, false};
            if (at < m_size && m_s[at] == u'=') {
                const char16_t quote = at + 1 < m_size ? m_s[at + 1] : u'\0';
                if (quote != u'"' && quote != u'\'')
                    return -1;
                // One look at each character of the value: libxml2 may keep tabs and line breaks otherwise than
                // written, and the value is known for references and "href=".
                const qsizetype valueStart = at + 2;
                qsizetype valueEnd = valueStart;
                for (; valueEnd < m_size && m_s[valueEnd] != quote; ++valueEnd) {
                    const char16_t c = m_s[valueEnd];
                    if (c == u'\t' || c == u'\n')
                        return -1;
                    attribute.reference = attribute.reference || c == u'&';
                    attribute.href = attribute.href || (c == u'=' && valueEnd - valueStart >= 4 &&
                                                        m_page.sliced(valueEnd - 4, 4) == u"href");
                }
                if (valueEnd >= m_size)
                    return -1;
                attribute.value = m_page.sliced(valueStart, valueEnd - valueStart);
                attribute.valued = true;
                at = valueEnd + 1;
            } else if (at >= m_size || !(isBlank(m_s[at]) || m_s[at] == u'>' || m_s[at] == u'/')) {
                return -1;
            }
            // libxml2 keeps the first of two attributes of the same name.
            for (const Attribute& earlier : std::as_const(m_attributes)) {
                if (earlier.name.compare(attribute.name, Qt::CaseInsensitive) == 0)
                    return -1;
            }
            m_attributes.push_back(attribute);
        }
    }

    // The compound at k matches the open element at i, and those on its left its parent or ancestors.
    bool matches(qsizetype i, size_t k)
    {
        if (++m_steps > m_stepLimit) {
            m_overLimit = true;
            return false;
        }
        const Open& element = m_open[size_t(i)];
        const Compound& compound = m_compounds[k];
        if (!compound.name.isEmpty() && m_names.name(element.name) != compound.name.constData())
            return false;
        if (!compound.id.isEmpty() && (!element.hasId || element.id != QLatin1StringView(compound.id)))
            return false;
        for (const QByteArray& word : compound.classes) {
            if (!element.hasClass || !hasWord(element.classes, QLatin1StringView(word)))
                return false;
        }
        if (k == 0)
            return true;
        if (compound.child)
            return i > 0 && matches(i - 1, k - 1);
        for (qsizetype up = i - 1; up >= 0 && !m_overLimit; --up) {
            if (matches(up, k - 1))
                return true;
        }
        return false;
    }

    // Whether the word is one of the value's words, split at blanks as normalize-space() does.
    static bool hasWord(QStringView value, QLatin1StringView word)
    {
        for (qsizetype at = value.indexOf(word); at >= 0; at = value.indexOf(word, at + 1)) {
            const qsizetype end = at + word.size();
            if ((at == 0 || value[at - 1] == u' ') && (end == value.size() || value[end] == u' '))
                return true;
        }
        return false;
    }

    void pop()
    {
        if (m_open.back().anchor)
            --m_anchorsInSelection;
        if (qsizetype(m_open.size()) - 1 == m_selected)
            m_selected = -1;
        m_open.pop_back();
    }

    // A start tag at lt: the position after it (and after the element, for one read whole), or -1.
    qsizetype startTag(qsizetype lt)
    {
        char nameText[MaxNameLength];
        qsizetype nameLength = 0;
        const qsizetype nameEnd = readName(lt + 1, nameText, nameLength);
        if (nameEnd < 0)
            return -1;
        bool selfClosing = false;
        const qsizetype end = readAttributes(nameEnd, selfClosing);
        if (end < 0)
            return -1;
        const int name = m_names.of(nameText, nameLength);
        if (name < 0)
            return -1;
        const ElementKind kind = m_names.kind(name);
        if (kind == ElementKind::Html) {
            if (!m_open.empty() || m_sawHtml)
                return -1;
            m_sawHtml = true;
        } else if (kind == ElementKind::Head) {
            if (m_open.size() != 1 || m_sawHead || m_sawBody)
                return -1;
            m_sawHead = true;
        } else if (kind == ElementKind::Body) {
            if (m_open.size() != 1 || m_sawBody)
                return -1;
            m_sawBody = true;
        } else {
            // Directly in the html element, libxml2 would open a head or a body of its own first.
            if (m_open.size() < 2 || qsizetype(m_open.size()) >= MaxDepth || kind == ElementKind::LeftToTree)
                return -1;
            const std::optional<bool> nests = m_names.nests(m_open.back().name, name, m_probesLeft);
            if (!nests || !*nests)
                return -1;
        }
        const bool isVoid = m_names.isVoid(name);
        if (selfClosing && !isVoid)
            return -1;
        const bool anchor = kind == ElementKind::Anchor;
        Open element{name, {}, {}, false, false, false};
        const Attribute* href = nullptr;
        for (const Attribute& attribute : std::as_const(m_attributes)) {
            const bool id = equalsLower(attribute.name, "id", 2);
            if (id || equalsLower(attribute.name, "class", 5)) {
                if (attribute.reference)
                    return -1; // a reference would be read by libxml2
                (id ? element.id : element.classes) = attribute.value;
                (id ? element.hasId : element.hasClass) = true;
            }
            if (anchor && equalsLower(attribute.name, "href", 4))
                href = &attribute;
        }
        m_open.push_back(element);
        if (m_selected < 0 && matches(qsizetype(m_open.size()) - 1, m_compounds.size() - 1)) {
            m_selected = qsizetype(m_open.size()) - 1;
            m_matched = true;
        }
        if (m_overLimit)
            return -1;
        const bool raw = kind == ElementKind::Raw;
        if (m_selected >= 0) {
            // As TreeReader reads an element of the selection: every tag plain, "href=" only as an anchor's href.
            if (end - lt > MaxSelectedTag || raw || (anchor && m_anchorsInSelection > 0))
                return -1;
            for (const Attribute& attribute : std::as_const(m_attributes)) {
                const QStringView name = attribute.name;
                if (name.size() >= 4 && equalsLower(name.last(4), "href", 4) && (!anchor || name.size() > 4))
                    return -1;
                if (attribute.reference || attribute.href)
                    return -1;
            }
            if (anchor) {
                if (href && (!href->valued || !plainHref(href->value)))
                    return -1;
                if (href)
                    return anchorText(end, href->value);
                m_open.back().anchor = true;
                ++m_anchorsInSelection;
            }
        }
        if (isVoid) {
            pop();
            return end;
        }
        if (raw)
            return rawText(end, m_names.name(name));
        return end;
    }

    // The text of an anchor of the selection, from at: plain text up to its end tag. After the end tag, or -1.
    qsizetype anchorText(qsizetype at, QStringView href)
    {
        const qsizetype lt = m_page.indexOf(u'<', at);
        if (lt < 0 || lt + 4 > m_size || m_s[lt + 1] != u'/' || lower(m_s[lt + 2]) != u'a' || m_s[lt + 3] != u'>')
            return -1;
        const QStringView text = m_page.sliced(at, lt - at);
        // References are read by libxml2, '>' written back as one; a blank text could be dropped as blanks.
        bool blanks = true;
        for (QChar c : text) {
            if (c == u'&' || c == u'>')
                return -1;
            blanks = blanks && isBlank(c.unicode());
        }
        if (blanks && !text.isEmpty())
            return -1;
        // The value with its quotes, as the tree writes it: double ones.
        QStringView quoted(href.data() - 1, href.size() + 2);
        qint64 held = qint64(sizeof(Links::TextLink));
        if (quoted.front() != u'"') {
            m_hrefs.append(u'"' + href.toString() + u'"');
            quoted = m_hrefs.constLast();
            held += 2 * (HeldPerString + quoted.size());
        }
        m_links.append({quoted, text});
        // What a link holds, as libxml2's allocations are counted for a tree.
        m_budget.allocated(held);
        pop();
        return lt + 4;
    }

    // The content of a script or style element outside the selection, up to its end tag; after it, or -1.
    qsizetype rawText(qsizetype at, const std::string& name)
    {
        const auto length = qsizetype(name.size());
        for (qsizetype lt = m_page.indexOf(u"</", at); lt >= 0; lt = m_page.indexOf(u"</", lt + 2)) {
            // libxml2 ends the content at the first "</" with the element's name after it.
            if (lt + 2 + length > m_size || !equalsLower(m_page.sliced(lt + 2, length), name.c_str(), length))
                continue;
            if (lt + 2 + length >= m_size || m_s[lt + 2 + length] != u'>')
                return -1;
            pop();
            return lt + 3 + length;
        }
        return -1;
    }

    // An end tag at lt: it must close the element open last. After it, or -1.
    qsizetype endTag(qsizetype lt)
    {
        char name[MaxNameLength];
        qsizetype length = 0;
        if (lt + 2 >= m_size || !isLetter(m_s[lt + 2]))
            return -1;
        const qsizetype nameEnd = readName(lt + 2, name, length);
        if (nameEnd < 0 || m_s[nameEnd] != u'>' || m_open.empty())
            return -1;
        const std::string& open = m_names.name(m_open.back().name);
        if (open.size() != size_t(length) || std::memcmp(open.data(), name, size_t(length)) != 0)
            return -1;
        pop();
        return nameEnd + 1;
    }

    // A comment, or the document type before the html element. After it, or -1.
    qsizetype declaration(qsizetype lt)
    {
        if (m_page.sliced(lt).startsWith(u"<!--")) {
            const qsizetype end = m_page.indexOf(u"-->", lt + 4);
            if (end <= lt + 4)
                return -1;
            const QStringView content = m_page.sliced(lt + 4, end - lt - 4);
            // libxml2's reading of dashes and brackets in comments is left to it.
            if (content.contains(u'-') || content.contains(u'<') || content.contains(u'>') ||
                (m_selected >= 0 && content.contains(u"href=")))
                return -1;
            return end + 3;
        }
        if (!m_open.empty() || m_sawHtml || m_sawDoctype || lt + 9 > m_size ||
            !equalsLower(m_page.sliced(lt + 2, 7), "doctype", 7))
            return -1;
        m_sawDoctype = true;
        char16_t quote = 0;
        for (qsizetype at = lt + 9; at < m_size; ++at) {
            const char16_t c = m_s[at];
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'>') {
                return at + 1;
            }
            if (c == u'<' || c == u'[')
                return -1;
        }
        return -1;
    }

    QStringView m_page;
    const char16_t* m_s;
    qsizetype m_size;
    const std::vector<Compound>& m_compounds;
    const std::function<bool()>& m_carryOn;
    ReadingBudget& m_budget;
    QList<Links::TextLink>& m_links;
    QStringList& m_hrefs;
    ElementNames& m_names;
    std::vector<Open> m_open;
    std::vector<Attribute> m_attributes; // of the tag read last
    qsizetype m_selected = -1;           // the open element selected, whose descendants are in the selection
    int m_anchorsInSelection = 0;
    int m_probesLeft = MaxProbesPerPage;
    unsigned long m_steps = 0;
    const unsigned long m_stepLimit;
    bool m_overLimit = false;
    bool m_matched = false;
    bool m_sawHtml = false;
    bool m_sawHead = false;
    bool m_sawBody = false;
    bool m_sawDoctype = false;
};
} // namespace

TextReading readFromText(QStringView page, const std::vector<Compound>& compounds, const std::function<bool()>& carryOn,
                         ReadingBudget& budget, QList<Links::TextLink>& links, QStringList& hrefs, bool& matched)
{
    if (compounds.empty())
        return TextReading::LeftToTree;
    initLibxml();
    const TextReading reading = TextReader(page, compounds, carryOn, budget, links, hrefs).read(matched);
    if (reading != TextReading::Read) {
        links.clear();
        hrefs.clear();
    }
    return reading;
}
} // namespace PageRegion::detail
