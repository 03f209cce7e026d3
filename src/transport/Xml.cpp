#include "transport/Xml.h"

#include "platform/Codepage.h"
#include "platform/Error.h"
#include "platform/Text.h"

#include <libxml/parser.h>

#include <memory>

namespace orvel {
namespace {

using ParserContext = std::unique_ptr<xmlParserCtxt, Deleter<xmlFreeParserCtxt>>;

// A declared entity is not expanded while parsing, but libxml2 expands it whenever a node's text is read, as
// often as it is referenced: a few kilobytes of reply could grow to gigabytes. Declarations are refused outright.
void RefuseEntityDecl(void* ctx, const xmlChar* name, int, const xmlChar*, const xmlChar*, xmlChar*)
{
    auto* context = static_cast<xmlParserCtxtPtr>(ctx);
    auto* refused = static_cast<std::string*>(context->_private);
    if (refused->empty())
        *refused = XmlView(name);
    xmlStopParser(context);
}

} // namespace

XmlDocHandle ParseXml(std::string_view utf8, XmlOptions options)
{
    ParserContext context(xmlNewParserCtxt());
    if (!context)
        throw std::bad_alloc();
    std::string refusedEntity;
    context->_private = &refusedEntity;
    context->sax->entityDecl = RefuseEntityDecl;
    int flags = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;
    if (options.DropBlankText)
        flags |= XML_PARSE_NOBLANKS;
    XmlDocHandle document(xmlCtxtReadMemory(context.get(), utf8.data(), int(utf8.size()), nullptr, "UTF-8", flags));
    if (!refusedEntity.empty())
        throw Error(Ansi("Entitätsdeklaration nicht erlaubt: '") + Ansi(refusedEntity) + "'");
    if (!document || !context->wellFormed) {
        const xmlError* error = xmlCtxtGetLastError(context.get());
        std::string message = error && error->message ? error->message : "XML-Dokument nicht lesbar";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
            message.pop_back();
        throw Error(Ansi(message));
    }
    return document;
}

std::string XmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string XmlEscapeUtf8(std::string_view utf8)
{
    std::string clean;
    clean.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        const size_t length = Utf8CharLength(utf8, at);
        const auto c = static_cast<unsigned char>(utf8[at]);
        // U+FFFE and U+FFFF are UTF-8 but no XML characters either.
        const bool noCharacter =
            length == 3 && utf8.compare(at, 2, "\xEF\xBF") == 0 && static_cast<unsigned char>(utf8[at + 2]) >= 0xBE;
        if (length == 0 || noCharacter || (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
            clean += '?';
            at += length ? length : 1;
            continue;
        }
        clean.append(utf8, at, length);
        at += length;
    }
    return XmlEscape(clean);
}

std::string XmlText(const xmlNode* node)
{
    const XmlString content(xmlNodeGetContent(node));
    return std::string(XmlView(content.get()));
}

bool IsXmlElement(const xmlNode* node, std::string_view namespaceUri, std::string_view localName)
{
    return node && node->type == XML_ELEMENT_NODE && XmlView(node->name) == localName &&
           XmlView(node->ns ? node->ns->href : nullptr) == namespaceUri;
}

const xmlNode* FirstXmlElement(const xmlNode* node)
{
    for (; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE)
            return node;
    return nullptr;
}

std::optional<std::string> XmlAttribute(const xmlNode* node, const char* name)
{
    const XmlString value(xmlGetNoNsProp(node, XmlChars(name)));
    if (!value)
        return std::nullopt;
    return std::string(XmlView(value.get()));
}

} // namespace orvel
