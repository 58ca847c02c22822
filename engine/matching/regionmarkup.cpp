// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/regionmarkup.h"

#include "engine/matching/readingbudget.h"

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace PageRegion::detail {
namespace {
ElementKind kindOf(const std::string& name)
{
    if (name == "html")
        return ElementKind::Html;
    if (name == "head")
        return ElementKind::Head;
    if (name == "body")
        return ElementKind::Body;
    if (name == "a")
        return ElementKind::Anchor;
    if (name == "script" || name == "style")
        return ElementKind::Raw;
    static const char* const leftToTree[] = {"base",     "pre",    "textarea", "listing",  "plaintext",
                                             "xmp",      "iframe", "noembed",  "noframes", "noscript",
                                             "template", "svg",    "math",     "frameset", "frame"};
    for (const char* left : leftToTree) {
        if (name == left)
            return ElementKind::LeftToTree;
    }
    return ElementKind::Other;
}
} // namespace

bool plainCharacters(QStringView page)
{
    const char16_t* const s = page.utf16();
    const qsizetype size = page.size();
    // The characters from `from` to at least `to`, one by one; where it ended, or -1 at one that is not plain.
    const auto oneByOne = [s, size](qsizetype from, qsizetype to) -> qsizetype {
        qsizetype i = from;
        for (; i < to; ++i) {
            const char16_t c = s[i];
            if (c >= 0x20 && c < 0xD800)
                continue;
            if (c < 0x20) {
                if (c != u'\t' && c != u'\n')
                    return -1;
            } else if (c <= 0xDBFF) {
                if (i + 1 >= size || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF)
                    return -1;
                ++i;
            } else if (c <= 0xDFFF || c >= 0xFFFE) {
                return -1;
            }
        }
        return i;
    };
    qsizetype i = 0;
#ifdef __SSE2__
    // Eight characters at once when all are from U+0020 to U+D7FF: less 0x20 and with the sign bit flipped, they
    // compare below 0xD7E0 as signed numbers. A line break or a character beyond is looked at on its own.
    const __m128i space = _mm_set1_epi16(0x20);
    const __m128i flip = _mm_set1_epi16(short(0x8000));
    const __m128i bound = _mm_set1_epi16(short(0xD7E0 ^ 0x8000));
    while (i + 8 <= size) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i shifted = _mm_xor_si128(_mm_sub_epi16(chunk, space), flip);
        if (_mm_movemask_epi8(_mm_cmplt_epi16(shifted, bound)) == 0xFFFF) {
            i += 8;
            continue;
        }
        i = oneByOne(i, i + 8);
        if (i < 0)
            return false;
    }
#endif
    return oneByOne(i, size) >= 0;
}

ElementNames& ElementNames::ofThread()
{
    thread_local ElementNames names;
    return names;
}

void ElementNames::startReading()
{
    if (int(m_names.size()) < MaxNames)
        return;
    m_short.fill(Short());
    m_numbers.clear();
    m_names.clear();
    m_void.clear();
    m_kinds.clear();
    std::fill(m_nests.begin(), m_nests.end(), -1);
}

int ElementNames::of(const char* name, qsizetype length)
{
    // A name of up to eight characters is its own key, found in a small table of its own.
    if (length <= 8) {
        quint64 packed = 0;
        std::memcpy(&packed, name, size_t(length));
        Short& entry = m_short[(packed * 0x9E3779B97F4A7C15ULL) >> (64 - ShortBits)];
        if (entry.number >= 0 && entry.packed == packed)
            return entry.number;
        const int number = numberOf(name, length);
        if (number >= 0)
            entry = {packed, number};
        return number;
    }
    return numberOf(name, length);
}

int ElementNames::numberOf(const char* name, qsizetype length)
{
    const std::string key(name, size_t(length));
    const auto it = m_numbers.find(key);
    if (it != m_numbers.end())
        return it->second;
    if (int(m_names.size()) >= MaxNames)
        return -1;
    const int number = int(m_names.size());
    m_numbers.emplace(key, number);
    m_names.push_back(key);
    const htmlElemDesc* description = htmlTagLookup(BAD_CAST key.c_str());
    m_void.push_back(description && description->empty);
    m_kinds.push_back(kindOf(key));
    return number;
}

std::optional<bool> ElementNames::nests(int parent, int child, int& probesLeft)
{
    signed char& known = m_nests[size_t(parent) * MaxNames + size_t(child)];
    if (known < 0) {
        if (probesLeft <= 0)
            return std::nullopt;
        --probesLeft;
        const bool nested = probe(name(parent), name(child));
        // A parse cut short by a spent budget tells nothing of the names: it is not kept.
        const ReadingBudget* budget = ReadingBudget::current();
        if (budget && budget->spent() != ReadingBudget::Spent::No)
            return std::nullopt;
        known = nested ? 1 : 0;
    }
    return known == 1;
}

bool ElementNames::probe(const std::string& parent, const std::string& child)
{
    const bool head = parent == "head";
    const bool body = parent == "body";
    std::string html = head ? "<html><head>" : "<html><body>";
    if (!head && !body)
        html += '<' + parent + '>';
    html += '<' + child + "></" + child + '>';
    const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        htmlReadMemory(html.data(), int(html.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                           HTML_PARSE_IGNORE_ENC),
        xmlFreeDoc);
    const auto firstElement = [](xmlNodePtr node) {
        while (node && node->type != XML_ELEMENT_NODE)
            node = node->next;
        return node;
    };
    const auto named = [](xmlNodePtr node, const std::string& name) {
        return node && xmlStrEqual(node->name, BAD_CAST name.c_str());
    };
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!named(root, "html"))
        return false;
    xmlNodePtr outer = firstElement(root->children);
    if (!named(outer, head ? "head" : "body"))
        return false;
    if (!head && !body) {
        outer = firstElement(outer->children);
        if (!named(outer, parent))
            return false;
    }
    return named(firstElement(outer->children), child);
}
} // namespace PageRegion::detail
