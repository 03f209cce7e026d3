#pragma once
// Parsing untrusted XML with libxml2: no network, no DTD loading, no entity expansion beyond the predefined ones,
// libxml2's default limits on nesting and size.

#include "transport/Handles.h"

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

// The text content of a node, UTF-8.
std::string XmlText(const xmlNode* node);

} // namespace orvel
