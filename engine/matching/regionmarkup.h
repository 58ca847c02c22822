// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What libxml2's HTML parser makes of the markup the reading of a region from the page's text meets: the characters
// it takes as they stand, and element names.
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace PageRegion::detail {
// Characters libxml2 takes as they stand: no control character but tab and line feed (a carriage return is read as
// a line break and written back as a reference), no lone surrogate, no noncharacter U+FFFE or U+FFFF.
bool plainCharacters(QStringView page);

// What an element's name means to the reading.
enum class ElementKind
{
    Html,
    Head,
    Body,
    Anchor,
    Raw,        // script and style: their content stands as it is
    LeftToTree, // an element with a reading of its own in libxml2 or in the written form
    Other
};

// The element names a thread has met, learnt once and kept: whether an element is void, and whether an element
// opened inside another nests in it or closes it first (libxml2's table of elements closed by others). The latter
// is asked of the parser itself, by a page of the two elements.
class ElementNames
{
public:
    static constexpr int MaxNames = 256; // element names a thread learns; a page of more is left to the tree

    static ElementNames& ofThread();

    // Before a reading: a thread that knows too many names (a page made of them) forgets them all, so one page
    // cannot leave every later one of its thread to the tree.
    void startReading();
    // The number of the name (lower case), or -1 once the thread knows too many.
    int of(const char* name, qsizetype length);
    const std::string& name(int number) const { return m_names[size_t(number)]; }
    bool isVoid(int number) const { return m_void[size_t(number)]; }
    ElementKind kind(int number) const { return m_kinds[size_t(number)]; }
    // Whether child nests in parent; nullopt when it is not known and no more probes are left.
    std::optional<bool> nests(int parent, int child, int& probesLeft);

private:
    int numberOf(const char* name, qsizetype length);
    // Parses a page with the child opened inside the parent (in the body, or in the head for the head itself).
    static bool probe(const std::string& parent, const std::string& child);

    static constexpr int ShortBits = 6;
    struct Short
    {
        quint64 packed = 0;
        int number = -1;
    };
    std::array<Short, 1 << ShortBits> m_short;
    std::unordered_map<std::string, int> m_numbers;
    std::vector<std::string> m_names;
    std::vector<bool> m_void;
    std::vector<ElementKind> m_kinds;
    std::vector<signed char> m_nests = std::vector<signed char>(size_t(MaxNames) * MaxNames, -1);
};
} // namespace PageRegion::detail
