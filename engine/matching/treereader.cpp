// SPDX-License-Identifier: GPL-3.0-or-later
// The links of a region read from the parsed tree, as the link scan would find them in the region written back.
#include "engine/matching/pageregiondetail.h"

#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>

#include <algorithm>
#include <cstring>

namespace PageRegion::detail {
namespace {
XmlText owned(xmlChar* text)
{
    return XmlText(text, xmlFree);
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
        const XmlText value = owned(xmlNodeListGetString(m_doc, href->children, 0));
        if (!value)
            return QStringLiteral("\"\"");
        const xmlChar* start = value.get();
        while (IS_BLANK_CH(*start))
            ++start;
        const XmlText escaped = owned(xmlURIEscapeStr(start, BAD_CAST "@/:=?;#%&,+<>"));
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

TreeReading readLinks(xmlDocPtr doc, const std::vector<xmlNodePtr>& outermost, const std::function<bool()>& carryOn,
                      QList<Links::Link>& links)
{
    TreeReader reader(doc, carryOn);
    const bool plain =
        std::all_of(outermost.cbegin(), outermost.cend(), [&](xmlNodePtr node) { return reader.read(node, links); });
    if (reader.stopped())
        return TreeReading::Stopped;
    return plain ? TreeReading::Read : TreeReading::LeftToScan;
}
} // namespace PageRegion::detail
