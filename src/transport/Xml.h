#pragma once
// Parsing untrusted XML with libxml2: no network, no DTD loading, no entity expansion beyond the predefined ones,
// libxml2's default limits on nesting and size.

#include "transport/Handles.h"

#include <optional>
#include <string>
#include <string_view>

namespace orvel {

struct XmlOptions
{
    bool DropBlankText = true; // whitespace-only text nodes between elements are not kept
};

// Throws Error with the parser's message (Windows-1252) when the text is not well-formed.
XmlDocHandle ParseXml(std::string_view utf8, XmlOptions options = {});

// Text safe inside an element or a double-quoted attribute.
std::string XmlEscape(std::string_view text);
// The same for UTF-8 text of a document we write: control characters other than TAB, LF and CR, and bytes that
// are not UTF-8, become "?" (as in WDDX packets), since no XML document may hold them.
std::string XmlEscapeUtf8(std::string_view utf8);

// The text content of a node, UTF-8.
std::string XmlText(const xmlNode* node);

// libxml2's unsigned characters and ours, both UTF-8; a null text reads as empty.
inline const xmlChar* XmlChars(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}
inline std::string_view XmlView(const xmlChar* text)
{
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// An element with this local name in this namespace (empty: in none).
bool IsXmlElement(const xmlNode* node, std::string_view namespaceUri, std::string_view localName);
// The first element among node and its following siblings, or nullptr.
const xmlNode* FirstXmlElement(const xmlNode* node);
// The value of an attribute without namespace, UTF-8; nullopt when it is missing.
std::optional<std::string> XmlAttribute(const xmlNode* node, const char* name);

} // namespace orvel
