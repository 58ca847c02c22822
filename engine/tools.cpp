// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/tools.h"

#include <QStringList>

#include <algorithm>

QString Tools::hostPrefix(const QString& address)
{
    return QStringLiteral("http://") + QUrl(address).host();
}

QString Tools::unquote(const QString& text)
{
    const QStringList pieces = text.split(u'"', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.first();
}

namespace {
// The value of an ASCII digit or letter a-f/A-F, -1 for anything else.
int digitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The code point of a numeric character reference body ("#38", "#x26"), or -1 when it is not one
// that stands for a character: empty, not a number, zero, a surrogate or beyond U+10FFFF.
char32_t numericReference(QStringView body)
{
    if (body.size() < 2 || body.front() != u'#')
        return char32_t(-1);
    int base = 10;
    qsizetype pos = 1;
    if (body[1] == u'x' || body[1] == u'X') {
        base = 16;
        pos = 2;
    }
    if (pos == body.size())
        return char32_t(-1);
    char32_t value = 0;
    for (; pos < body.size(); ++pos) {
        const int digit = digitValue(body[pos].unicode());
        if (digit < 0 || digit >= base)
            return char32_t(-1);
        value = value * char32_t(base) + char32_t(digit);
        if (value > 0x10FFFF)
            return char32_t(-1); // stop before the number can overflow
    }
    if (value == 0 || QChar::isSurrogate(value))
        return char32_t(-1);
    return value;
}

struct NamedReference
{
    QStringView name;
    char16_t code;
};

// Named references a page's text commonly holds: the Latin-1 letters and signs and the typographic
// ones, sorted by name (as compared by QStringView) for a binary search.
constexpr NamedReference NamedReferences[] = {
    {u"AElig", 0x00C6},  {u"Aacute", 0x00C1}, {u"Acirc", 0x00C2},  {u"Agrave", 0x00C0}, {u"Aring", 0x00C5},
    {u"Atilde", 0x00C3}, {u"Auml", 0x00C4},   {u"Ccedil", 0x00C7}, {u"Dagger", 0x2021}, {u"ETH", 0x00D0},
    {u"Eacute", 0x00C9}, {u"Ecirc", 0x00CA},  {u"Egrave", 0x00C8}, {u"Euml", 0x00CB},   {u"Iacute", 0x00CD},
    {u"Icirc", 0x00CE},  {u"Igrave", 0x00CC}, {u"Iuml", 0x00CF},   {u"Ntilde", 0x00D1}, {u"OElig", 0x0152},
    {u"Oacute", 0x00D3}, {u"Ocirc", 0x00D4},  {u"Ograve", 0x00D2}, {u"Oslash", 0x00D8}, {u"Otilde", 0x00D5},
    {u"Ouml", 0x00D6},   {u"Prime", 0x2033},  {u"Scaron", 0x0160}, {u"THORN", 0x00DE},  {u"Uacute", 0x00DA},
    {u"Ucirc", 0x00DB},  {u"Ugrave", 0x00D9}, {u"Uuml", 0x00DC},   {u"Yacute", 0x00DD}, {u"Yuml", 0x0178},
    {u"aacute", 0x00E1}, {u"acirc", 0x00E2},  {u"acute", 0x00B4},  {u"aelig", 0x00E6},  {u"agrave", 0x00E0},
    {u"amp", 0x0026},    {u"apos", 0x0027},   {u"aring", 0x00E5},  {u"atilde", 0x00E3}, {u"auml", 0x00E4},
    {u"bdquo", 0x201E},  {u"brvbar", 0x00A6}, {u"bull", 0x2022},   {u"ccedil", 0x00E7}, {u"cedil", 0x00B8},
    {u"cent", 0x00A2},   {u"circ", 0x02C6},   {u"copy", 0x00A9},   {u"curren", 0x00A4}, {u"dagger", 0x2020},
    {u"darr", 0x2193},   {u"deg", 0x00B0},    {u"divide", 0x00F7}, {u"eacute", 0x00E9}, {u"ecirc", 0x00EA},
    {u"egrave", 0x00E8}, {u"emsp", 0x2003},   {u"ensp", 0x2002},   {u"eth", 0x00F0},    {u"euml", 0x00EB},
    {u"euro", 0x20AC},   {u"frac12", 0x00BD}, {u"frac14", 0x00BC}, {u"frac34", 0x00BE}, {u"gt", 0x003E},
    {u"harr", 0x2194},   {u"hearts", 0x2665}, {u"hellip", 0x2026}, {u"iacute", 0x00ED}, {u"icirc", 0x00EE},
    {u"iexcl", 0x00A1},  {u"igrave", 0x00EC}, {u"iquest", 0x00BF}, {u"iuml", 0x00EF},   {u"laquo", 0x00AB},
    {u"larr", 0x2190},   {u"ldquo", 0x201C},  {u"lrm", 0x200E},    {u"lsaquo", 0x2039}, {u"lsquo", 0x2018},
    {u"lt", 0x003C},     {u"macr", 0x00AF},   {u"mdash", 0x2014},  {u"micro", 0x00B5},  {u"middot", 0x00B7},
    {u"minus", 0x2212},  {u"nbsp", 0x00A0},   {u"ndash", 0x2013},  {u"not", 0x00AC},    {u"ntilde", 0x00F1},
    {u"oacute", 0x00F3}, {u"ocirc", 0x00F4},  {u"oelig", 0x0153},  {u"ograve", 0x00F2}, {u"ordf", 0x00AA},
    {u"ordm", 0x00BA},   {u"oslash", 0x00F8}, {u"otilde", 0x00F5}, {u"ouml", 0x00F6},   {u"para", 0x00B6},
    {u"permil", 0x2030}, {u"plusmn", 0x00B1}, {u"pound", 0x00A3},  {u"prime", 0x2032},  {u"quot", 0x0022},
    {u"raquo", 0x00BB},  {u"rarr", 0x2192},   {u"rdquo", 0x201D},  {u"reg", 0x00AE},    {u"rlm", 0x200F},
    {u"rsaquo", 0x203A}, {u"rsquo", 0x2019},  {u"sbquo", 0x201A},  {u"scaron", 0x0161}, {u"sect", 0x00A7},
    {u"shy", 0x00AD},    {u"sup1", 0x00B9},   {u"sup2", 0x00B2},   {u"sup3", 0x00B3},   {u"szlig", 0x00DF},
    {u"thinsp", 0x2009}, {u"thorn", 0x00FE},  {u"tilde", 0x02DC},  {u"times", 0x00D7},  {u"trade", 0x2122},
    {u"uacute", 0x00FA}, {u"uarr", 0x2191},   {u"ucirc", 0x00FB},  {u"ugrave", 0x00F9}, {u"uml", 0x00A8},
    {u"uuml", 0x00FC},   {u"yacute", 0x00FD}, {u"yen", 0x00A5},    {u"yuml", 0x00FF},   {u"zwj", 0x200D},
    {u"zwnj", 0x200C}};

enum class Names
{
    Markup, // &amp; &lt; &gt; &quot; &apos;
    Common  // and every name of NamedReferences
};

char32_t namedReference(QStringView name, Names names)
{
    if (names == Names::Markup) {
        for (QStringView markup : {u"amp", u"lt", u"gt", u"quot", u"apos"}) {
            if (name == markup)
                return namedReference(name, Names::Common);
        }
        return char32_t(-1);
    }
    const auto* end = std::end(NamedReferences);
    const auto* it = std::lower_bound(std::begin(NamedReferences), end, name,
                                      [](const NamedReference& entry, QStringView n) { return entry.name < n; });
    return it != end && it->name == name ? it->code : char32_t(-1);
}

// Appends the text with &#N; &#xH; and the named references decoded; anything else that starts with
// '&' (an unknown name, a missing ';', a number that is no character) stays as written.
void appendDecoded(QString& out, QStringView text, Names names)
{
    qsizetype done = 0;
    qsizetype amp = text.indexOf(u'&');
    while (amp >= 0) {
        // A reference body is made of letters, digits and '#'; looking no further than that keeps
        // a value full of '&' without ';' linear.
        qsizetype semicolon = amp + 1;
        while (semicolon < text.size() && (text[semicolon].isLetterOrNumber() || text[semicolon] == u'#'))
            ++semicolon;
        if (semicolon == text.size() || text[semicolon] != u';') {
            amp = text.indexOf(u'&', semicolon);
            continue;
        }
        const QStringView body = text.sliced(amp + 1, semicolon - amp - 1);
        const char32_t code = body.startsWith(u'#') ? numericReference(body) : namedReference(body, names);
        if (code == char32_t(-1)) {
            amp = text.indexOf(u'&', amp + 1);
            continue;
        }
        out.append(text.sliced(done, amp - done));
        if (QChar::requiresSurrogates(code)) {
            out.append(QChar(QChar::highSurrogate(code)));
            out.append(QChar(QChar::lowSurrogate(code)));
        } else {
            out.append(QChar(char16_t(code)));
        }
        done = semicolon + 1;
        amp = text.indexOf(u'&', done);
    }
    out.append(text.sliced(done));
}
} // namespace

QString Tools::hrefValue(QStringView capture)
{
    qsizetype begin = 0;
    while (begin < capture.size() && capture[begin].isSpace())
        ++begin;
    qsizetype end = capture.size();
    if (begin < end && (capture[begin] == u'"' || capture[begin] == u'\'')) {
        const QChar quote = capture[begin];
        ++begin;
        const qsizetype closing = capture.indexOf(quote, begin);
        if (closing >= 0)
            end = closing;
    } else {
        for (qsizetype i = begin; i < end; ++i) {
            if (capture[i].isSpace()) {
                end = i;
                break;
            }
        }
    }
    const QStringView raw = capture.sliced(begin, end - begin);
    if (!raw.contains(u'&'))
        return raw.trimmed().toString();
    QString decoded;
    decoded.reserve(raw.size());
    appendDecoded(decoded, raw, Names::Markup);
    return decoded.trimmed();
}

QString Tools::displayText(QStringView text)
{
    if (!text.contains(u'&'))
        return text.toString();
    QString decoded;
    decoded.reserve(text.size());
    appendDecoded(decoded, text, Names::Common);
    return decoded;
}

QString Tools::absoluteLink(const QUrl& base, QStringView capture)
{
    return base.resolved(QUrl(hrefValue(capture))).toString(QUrl::FullyEncoded);
}

namespace {
bool isLowerAlnum(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

// Characters QUrl keeps as they are in a path, query and fragment (RFC 3986 unreserved and sub-delims, ':', '@',
// '/', '?'), '#' aside: what holds any other character (a '%', a blank, a non-ASCII letter) goes through QUrl.
bool isKeptCharacter(char16_t c)
{
    if (isLowerAlnum(c) || (c >= u'A' && c <= u'Z'))
        return true;
    switch (c) {
    case u'-':
    case u'.':
    case u'_':
    case u'~':
    case u'!':
    case u'$':
    case u'&':
    case u'\'':
    case u'(':
    case u')':
    case u'*':
    case u'+':
    case u',':
    case u';':
    case u'=':
    case u':':
    case u'@':
    case u'/':
    case u'?':
        return true;
    default:
        return false;
    }
}

// Whether QUrl gives back path, query and fragment of the text exactly as written: kept characters, at most one
// '#', and no "." or ".." segment in the path (QUrl removes them), which a '.' right after a '/' or at the start
// stands for here.
bool isPlainTail(QStringView text)
{
    bool inPath = true;
    bool inFragment = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'#') {
            if (inFragment)
                return false;
            inFragment = true;
            inPath = false;
            continue;
        }
        if (!isKeptCharacter(c))
            return false;
        if (c == u'?')
            inPath = false;
        else if (inPath && c == u'.' && (i == 0 || text[i - 1] == u'/'))
            return false;
    }
    return true;
}

// A host QUrl keeps as written: labels of lower-case letters, digits and inner hyphens, none an ACE label
// ("xn--"), the last one beginning with a letter; or four decimal numbers up to 255 without leading zeros.
// Anything else (capitals, IDN, other forms of an IPv4 address, IPv6) goes through QUrl.
bool isPlainHost(QStringView host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    int numbers = 0;
    bool numeric = true;
    QStringView last;
    for (QStringView label : host.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-' ||
            (label.size() > 3 && label[2] == u'-' && label[3] == u'-'))
            return false;
        for (QChar c : label) {
            if (!isLowerAlnum(c.unicode()) && c != u'-')
                return false;
            numeric = numeric && c.isDigit();
        }
        if (numeric) {
            bool ok = false;
            const int number = label.toInt(&ok);
            numeric = ok && label.size() <= 3 && (label.size() == 1 || label.front() != u'0') && number <= 255;
        }
        ++numbers;
        last = label;
    }
    if (numeric && numbers == 4)
        return true;
    return last.front() >= u'a' && last.front() <= u'z';
}

// Whether the text is an http(s) address QUrl gives back exactly as written.
bool isPlainAbsolute(QStringView text)
{
    qsizetype at = 0;
    if (text.startsWith(u"http://"))
        at = 7;
    else if (text.startsWith(u"https://"))
        at = 8;
    else
        return false;
    qsizetype end = at;
    while (end < text.size() && text[end] != u'/' && text[end] != u'?' && text[end] != u'#')
        ++end;
    QStringView authority = text.sliced(at, end - at);
    if (const qsizetype colon = authority.indexOf(u':'); colon >= 0) {
        const QStringView port = authority.sliced(colon + 1);
        bool ok = false;
        const int number = port.toInt(&ok);
        if (port.size() > 5 || port.isEmpty() || port.front() == u'0' || !ok || number > 65535 ||
            !std::all_of(port.begin(), port.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return false;
        authority = authority.first(colon);
    }
    return isPlainHost(authority) && isPlainTail(text.sliced(end));
}
} // namespace

Tools::LinkResolver::LinkResolver(const QUrl& base) : m_base(base)
{
    const QString scheme = base.scheme();
    m_fast = base.isValid() && (scheme == u"http" || scheme == u"https") && !base.host().isEmpty();
    if (!m_fast)
        return;
    m_origin = base.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
    const QString path = base.path(QUrl::FullyEncoded);
    m_relative = !path.contains(QLatin1String("/.")) && (path.isEmpty() || path.startsWith(u'/'));
    m_path = m_origin + path;
    m_directory = m_origin + (path.isEmpty() ? QStringLiteral("/") : path.first(path.lastIndexOf(u'/') + 1));
    m_document = base.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
}

QString Tools::LinkResolver::resolve(const QString& value) const
{
    if (m_fast) {
        const QChar first = value.isEmpty() ? QChar() : value.front();
        if (first == u'/' && !value.startsWith(QLatin1String("//")) && isPlainTail(value))
            return m_origin + value;
        if (first == u'h' && isPlainAbsolute(value))
            return value;
        // A relative value holds no ':' (its first segment would be a scheme) and begins with no '.'.
        if (m_relative && !value.contains(u':') && isPlainTail(value)) {
            if (value.isEmpty())
                return m_document;
            if (first == u'#')
                return m_document + value;
            if (first == u'?')
                return m_path + value;
            if (first != u'/')
                return m_directory + value;
        }
    }
    return resolveFully(value);
}

QString Tools::LinkResolver::resolveFully(const QString& value) const
{
    return m_base.resolved(QUrl(value)).toString(QUrl::FullyEncoded);
}
