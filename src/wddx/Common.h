#pragma once
// Reading fields out of the checking service's WDDX replies: a plain text search for single strings, and a document
// reader for replies that carry lists.

#include "platform/Codepage.h"
#include "transport/Handles.h"
#include "wddx/WddxValue.h"

#include <string>
#include <string_view>

namespace orvel {

// The decoded value of the string variable Name, found by a literal, case-insensitive text search; the first
// occurrence wins. Empty text when there is none.
std::string GetWddxVar(std::string_view Packet, std::string_view Name);

// Decodes the umlaut, sharp s, "&amp;", "&lt;" and "&gt;" entities, one kind after another.
std::string DecodeEntities(std::string Text);

// A parsed WDDX packet whose data is a struct of named variables holding strings, numbers or arrays of strings.
class TWddxDocument
{
public:
    // Parses at once, without network or DTD access; whitespace between elements is dropped. Throws Error with the
    // parser's message when Xml is not well-formed.
    explicit TWddxDocument(const WideString& Xml);
    // The same for a reply as received, in Windows-1252 bytes.
    explicit TWddxDocument(std::string_view Windows1252);

    // The value of the variable Name (compared exactly): empty when it is missing, has no content or is of another
    // kind. Throws Error when the packet, its data or struct element is missing, or an array entry holds no single
    // text.
    TWddxValue GetVar(std::string_view Name) const;

private:
    const xmlNode* FindPacket() const;
    const xmlNode* FindStruct() const;
    const xmlNode* FindVar(std::string_view Name) const;

    XmlDocHandle FDocument;
};

} // namespace orvel
