// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/matching/feedreader.h"

#include "engine/fetching/fetchrequest.h"
#include "engine/matching/readingbudget.h"

#include <QCoreApplication>
#include <QStringDecoder>

#include <libxml/HTMLparser.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>

namespace {
QString tr(const char* text)
{
    return QCoreApplication::translate("FeedReader", text);
}

constexpr const char* RdfNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";

enum class Format
{
    Rss, // RSS 0.9x and 2.0: rss/channel/item
    Rdf, // RSS 1.0 and 0.90: rdf:RDF/item
    Atom // feed/entry
};

// How a title's text is read.
enum class Markup
{
    Html,  // escaped or CDATA HTML: tags reduced to their text, HTML references decoded
    Text,  // plain text (Atom's default): a '<' is a '<'
    Xhtml, // XML elements inside the title: their text
};

const char* chars(const xmlChar* text)
{
    return reinterpret_cast<const char*>(text);
}

bool named(const xmlNode* node, const char* name)
{
    return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

QByteArray namespaceOf(const xmlNode* node)
{
    return node->ns && node->ns->href ? QByteArray(chars(node->ns->href)) : QByteArray();
}

// What the references to entities the feed declares may add to its attribute values, in all: no more than the
// feed's own size, so a feed cannot make its reading grow past it.
struct Expansion
{
    qsizetype left = 0;
    bool exceeded = false;
};

// The value of an attribute's nodes: text as it stands, an entity reference by the entity's nodes within the bound.
void appendValue(const xmlNode* node, QByteArray& out, Expansion& expansion, int depth)
{
    // Entities nest no deeper than libxml2 lets a document declare them; deeper ones are not followed.
    constexpr int MaxDepth = 40;
    for (; node && !expansion.exceeded; node = node->next) {
        if (node->type == XML_TEXT_NODE && node->content) {
            const qsizetype size = qsizetype(std::strlen(chars(node->content)));
            if (depth > 0 && (expansion.left -= size) < 0) {
                expansion.exceeded = true;
                return;
            }
            out.append(chars(node->content), size);
        } else if (node->type == XML_ENTITY_REF_NODE && depth < MaxDepth) {
            const xmlEntity* entity = xmlGetDocEntity(node->doc, node->name);
            if (entity && entity->etype == XML_INTERNAL_PREDEFINED_ENTITY && entity->content)
                out += chars(entity->content);
            else if (entity)
                appendValue(entity->children, out, expansion, depth + 1);
        }
    }
}

// An attribute without namespace, or with the XML namespace; a null string when it is absent. Read from its
// nodes, as xmlGetProp would but within the bound on entity expansion.
QString attribute(const xmlNode* node, const char* name, Expansion& expansion, const xmlChar* ns = nullptr)
{
    const xmlAttr* attribute = ns ? xmlHasNsProp(node, BAD_CAST name, ns) : xmlHasNsProp(node, BAD_CAST name, nullptr);
    if (!attribute || attribute->type != XML_ATTRIBUTE_NODE)
        return {};
    QByteArray value("");
    appendValue(attribute->children, value, expansion, 0);
    return QString::fromUtf8(value);
}

// The text of the node's descendants: text and CDATA sections. References to entities the document
// declares are not followed: their replacement is never expanded.
void appendText(const xmlNode* node, QByteArray& out)
{
    for (const xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            out += chars(child->content);
        else if (child->type == XML_ELEMENT_NODE)
            appendText(child, out);
    }
}

QByteArray textOf(const xmlNode* node)
{
    QByteArray text;
    appendText(node, text);
    return text;
}

// The visible text of an HTML fragment, read by libxml2's HTML parser (no network access either).
QString htmlText(const QByteArray& html)
{
    if (!html.contains('<') && !html.contains('&'))
        return QString::fromUtf8(html).simplified();
    htmlDocPtr doc = htmlReadMemory(html.constData(), int(html.size()), nullptr, "UTF-8",
                                    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (!doc)
        return QString::fromUtf8(html).simplified();
    QByteArray text;
    if (const xmlNode* root = xmlDocGetRootElement(doc))
        appendText(root, text);
    xmlFreeDoc(doc);
    return QString::fromUtf8(text).simplified();
}

QString titleText(const xmlNode* title, Format format, Expansion& expansion)
{
    Markup markup = Markup::Html;
    if (format == Format::Atom) {
        // Atom 1.0 names the kind in "type", Atom 0.3 in "mode".
        const QString type = attribute(title, "type", expansion).trimmed().toLower();
        const QString mode = attribute(title, "mode", expansion).trimmed().toLower();
        markup = type == u"html" || mode == u"escaped" ? Markup::Html
                 : type == u"xhtml" || mode == u"xml"  ? Markup::Xhtml
                                                       : Markup::Text;
    }
    const QByteArray text = textOf(title);
    return markup == Markup::Html ? htmlText(text) : QString::fromUtf8(text).simplified();
}

// The value resolved against the xml:base attributes in scope, outermost first, and the feed's address.
QString resolve(const xmlNode* node, const QString& value, const QUrl& address, Expansion& expansion)
{
    QStringList bases;
    for (const xmlNode* n = node; n && n->type == XML_ELEMENT_NODE; n = n->parent) {
        const QString base = attribute(n, "base", expansion, XML_XML_NAMESPACE);
        if (!base.isNull())
            bases.prepend(base.trimmed());
    }
    QUrl url = address;
    for (const QString& base : std::as_const(bases))
        url = url.resolved(QUrl(base));
    return url.resolved(QUrl(value.trimmed())).toString(QUrl::FullyEncoded);
}

bool isAlternate(const QString& rel)
{
    const QString trimmed = rel.trimmed();
    return trimmed.isEmpty() || trimmed == u"alternate" ||
           trimmed == u"http://www.iana.org/assignments/relation/alternate";
}

// The item's link and title, from the children in the item's own namespace (so that extension elements
// such as media:title or an atom:link rel="self" inside an RSS item do not count).
std::optional<FeedItem> itemOf(const xmlNode* item, Format format, const QUrl& address, Expansion& expansion)
{
    const QByteArray ns = namespaceOf(item);
    const xmlNode* title = nullptr;
    QString link;
    QString permalink;
    for (const xmlNode* child = item->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || namespaceOf(child) != ns)
            continue;
        if (named(child, "title")) {
            if (!title)
                title = child;
        } else if (named(child, "link") && link.isEmpty()) {
            if (format == Format::Atom) {
                const QString href = attribute(child, "href", expansion);
                if (isAlternate(attribute(child, "rel", expansion)) && !href.trimmed().isEmpty())
                    link = resolve(child, href, address, expansion);
            } else {
                const QString text = QString::fromUtf8(textOf(child)).trimmed();
                if (!text.isEmpty())
                    link = resolve(child, text, address, expansion);
            }
        } else if (format != Format::Atom && named(child, "guid") && permalink.isEmpty()) {
            const QString isPermaLink = attribute(child, "isPermaLink", expansion);
            const QString text = QString::fromUtf8(textOf(child)).trimmed();
            if ((isPermaLink.isNull() || isPermaLink.trimmed().compare(u"true", Qt::CaseInsensitive) == 0) &&
                !text.isEmpty())
                permalink = resolve(child, text, address, expansion);
        }
    }
    if (link.isEmpty())
        link = permalink;
    if (link.isEmpty())
        return std::nullopt;
    return FeedItem{link, title ? titleText(title, format, expansion) : QString()};
}

// The first error that ended the read (or, failing one, the first error), with its line.
struct Errors
{
    QString fatal;
    QString first;
};

void noteError(void* arg, xmlErrorPtr error)
{
    auto* errors = static_cast<Errors*>(arg);
    if (!error || error->level < XML_ERR_ERROR)
        return;
    const QString text = QStringLiteral("line %1: %2")
                             .arg(error->line)
                             .arg(QString::fromUtf8(error->message ? error->message : "").trimmed());
    if (error->level == XML_ERR_FATAL && errors->fatal.isEmpty())
        errors->fatal = text;
    if (errors->first.isEmpty())
        errors->first = text;
}

// The charset of the Content-Type header counts only where the document names none itself (by a
// byte-order mark or the encoding of its XML declaration): servers often send a default charset that
// is not the feed's.
QByteArray encodingOf(const QByteArray& body, const QByteArray& contentType)
{
    const QByteArray charset = PageFetch::charsetOf(contentType);
    if (charset.isEmpty() || body.startsWith("\xEF\xBB\xBF") || body.startsWith("\xFF\xFE") ||
        body.startsWith("\xFE\xFF"))
        return {};
    if (body.startsWith("<?xml")) {
        const qsizetype end = body.indexOf("?>");
        if (end > 0 && body.left(end).contains("encoding"))
            return {};
    }
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(charset.constData());
    if (!handler)
        return {};
    xmlCharEncCloseFunc(handler);
    return charset;
}

std::optional<Format> formatOf(const QByteArray& localName, const QByteArray& ns)
{
    if (localName == "rss")
        return Format::Rss;
    if (localName == "RDF" && ns == RdfNamespace)
        return Format::Rdf;
    if (localName == "feed")
        return Format::Atom;
    return std::nullopt;
}

bool isItem(Format format, const QByteArray& localName, const QByteArray& ns, const QByteArray& rootNs, int depth)
{
    switch (format) {
    case Format::Rss:
        return depth <= 2 && localName == "item" && ns == rootNs;
    case Format::Rdf:
        return depth <= 2 && localName == "item" && ns != RdfNamespace;
    case Format::Atom:
        return depth == 1 && localName == "entry" && ns == rootNs;
    }
    return false;
}
} // namespace

QByteArray FeedReader::rootName(const QByteArray& body)
{
    QByteArray head = body.left(SniffBytes);
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(head.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        head = QString(decoder.decode(head.sliced(2))).toUtf8();
    } else if (head.startsWith("\xEF\xBB\xBF")) {
        head = head.sliced(3);
    }
    const qsizetype n = head.size();
    qsizetype pos = 0;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (true) {
        while (pos < n && isBlank(head[pos]))
            ++pos;
        if (pos >= n || head[pos] != '<')
            return {};
        const QByteArrayView rest = QByteArrayView(head).sliced(pos);
        if (rest.startsWith("<?") || rest.startsWith("<!--")) {
            const bool pi = rest.startsWith("<?");
            const qsizetype end = head.indexOf(pi ? "?>" : "-->", pos + (pi ? 2 : 4));
            if (end < 0)
                return {};
            pos = end + (pi ? 2 : 3);
            continue;
        }
        if (rest.startsWith("<!")) {
            // The document type, with an internal subset in brackets and quoted literals.
            int brackets = 0;
            char quote = 0;
            for (pos += 2; pos < n; ++pos) {
                const char c = head[pos];
                if (quote) {
                    quote = c == quote ? 0 : quote;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    ++brackets;
                } else if (c == ']') {
                    --brackets;
                } else if (c == '>' && brackets <= 0) {
                    break;
                }
            }
            if (pos >= n)
                return {};
            ++pos;
            continue;
        }
        qsizetype end = pos + 1;
        while (end < n && !isBlank(head[end]) && head[end] != '>' && head[end] != '/')
            ++end;
        const QByteArray name = head.mid(pos + 1, end - pos - 1);
        return name.mid(name.lastIndexOf(':') + 1);
    }
}

bool FeedReader::isFeed(const QByteArray& contentType, const QByteArray& body)
{
    const QByteArray type = contentType.split(';').constFirst().trimmed().toLower();
    if (type == "application/rss+xml" || type == "application/atom+xml")
        return true;
    const QByteArray root = rootName(body);
    return root == "rss" || root == "RDF" || root == "feed";
}

FeedReader::Result FeedReader::read(const QByteArray& body, const QByteArray& contentType, const QUrl& address)
{
    Result result;
    if (body.size() > INT_MAX) {
        result.error = QStringLiteral("the feed is too large");
        return result;
    }
    initLibxml();
    const QByteArray encoding = encodingOf(body, contentType);
    // No XML_PARSE_NOENT (it would expand entities and load external ones), no DTD loading or validation, no
    // XML_PARSE_HUGE (libxml2 keeps its bounds on depth and entity amplification), no network.
    xmlTextReaderPtr reader = xmlReaderForMemory(body.constData(), int(body.size()), nullptr,
                                                 encoding.isEmpty() ? nullptr : encoding.constData(),
                                                 XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!reader) {
        result.error = QStringLiteral("the feed could not be read");
        return result;
    }
    const std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)> owner(reader, xmlFreeTextReader);
    Errors errors;
    xmlTextReaderSetStructuredErrorHandler(reader, noteError, &errors);

    const ReadingBudget::Here budget;
    Expansion expansion{body.size()};
    const auto abandoned = [&] {
        result.error = budget->spent() != ReadingBudget::Spent::No
                           ? budget->reason(tr("feed"), tr("read"))
                           : tr("the feed's entities expand past the size of the feed");
        result.items.clear();
        result.abandoned = true;
        return result;
    };
    std::optional<Format> format;
    QByteArray rootNs;
    int status = xmlTextReaderRead(reader);
    while (status == 1) {
        if (!budget->carryOn())
            return abandoned();
        if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) {
            status = xmlTextReaderRead(reader);
            continue;
        }
        const QByteArray localName(chars(xmlTextReaderConstLocalName(reader)));
        const xmlChar* nsUri = xmlTextReaderConstNamespaceUri(reader);
        const QByteArray ns = nsUri ? QByteArray(chars(nsUri)) : QByteArray();
        if (!format) {
            format = formatOf(localName, ns);
            if (!format) {
                result.error = QStringLiteral("not a feed: its root element is <%1>").arg(QString::fromUtf8(localName));
                return result;
            }
            rootNs = ns;
        } else if (isItem(*format, localName, ns, rootNs, xmlTextReaderDepth(reader))) {
            const xmlNode* item = xmlTextReaderExpand(reader);
            if (!item) {
                status = -1;
                break;
            }
            std::optional<FeedItem> found = itemOf(item, *format, address, expansion);
            if (expansion.exceeded)
                return abandoned();
            if (found)
                result.items.append(std::move(*found));
            if (result.items.size() >= MaxItems)
                break;
            status = xmlTextReaderNext(reader);
            continue;
        }
        status = xmlTextReaderRead(reader);
    }
    if (budget->spent() != ReadingBudget::Spent::No)
        return abandoned();
    if (status < 0) {
        const QString reason = !errors.fatal.isEmpty() ? errors.fatal : errors.first;
        result.error = reason.isEmpty() ? QStringLiteral("not well-formed XML") : reason;
        result.items.clear();
        return result;
    }
    if (!format) {
        result.error = QStringLiteral("no root element");
        return result;
    }
    result.ok = true;
    return result;
}
