#include "wddx/Common.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "transport/Xml.h"

#include <array>
#include <charconv>
#include <memory>
#include <utility>

namespace orvel {
namespace {

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Where Upper first occurs in Text at or after From, ASCII letters of Text compared in upper case; npos when
// nowhere. Upper is in upper case and starts with a character that has no case.
size_t FindIgnoringCase(std::string_view text, std::string_view upper, size_t from)
{
    for (size_t at = text.find(upper.front(), from); at != std::string_view::npos && text.size() - at >= upper.size();
         at = text.find(upper.front(), at + 1)) {
        size_t k = 1;
        while (k < upper.size() && UpperAscii(text[at + k]) == upper[k])
            ++k;
        if (k == upper.size())
            return at;
    }
    return std::string_view::npos;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to)
{
    std::string out;
    size_t start = 0;
    for (size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, start)) {
        out.append(text, start, hit - start);
        out.append(to);
        start = hit + from.size();
    }
    if (start == 0)
        return;
    out.append(text, start);
    text = std::move(out);
}

// The names looked for carry no prefix, so an element in a prefixed namespace never matches.
bool IsElement(const xmlNode* node, std::string_view name)
{
    return node->type == XML_ELEMENT_NODE && !(node->ns && node->ns->prefix) && XmlView(node->name) == name;
}

// A missing attribute reads as empty text. UTF-8.
std::string Attribute(const xmlNode* node, const char* name)
{
    return XmlAttribute(node, name).value_or(std::string());
}

const xmlNode* FirstChildElement(const xmlNode* parent, std::string_view name)
{
    for (const xmlNode* child = parent->children; child; child = child->next)
        if (IsElement(child, name))
            return child;
    return nullptr;
}

bool IsTextNode(const xmlNode* node)
{
    return node->type == XML_TEXT_NODE;
}

bool IsTextOrCData(const xmlNode* node)
{
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

// The only child of an element when that child passes Test.
const xmlNode* SingleChild(const xmlNode* element, bool (*Test)(const xmlNode*))
{
    const xmlNode* child = element->children;
    return element->type == XML_ELEMENT_NODE && child && !child->next && Test(child) ? child : nullptr;
}

WideString Content(const xmlNode* node)
{
    return FromUtf8(XmlView(node->content));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// An optional sign, digits, a fraction after "." and an exponent, whatever the locale; anything else reads as 0.
double WddxNumber(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const size_t mantissa = !text.empty() && text.front() == '-' ? 1 : 0;
    // from_chars would also take "inf" and "nan"
    if (text.size() <= mantissa || !((text[mantissa] >= '0' && text[mantissa] <= '9') || text[mantissa] == '.'))
        return 0;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

TWddxValue ArrayValue(const xmlNode* array)
{
    std::vector<WideString> entries;
    entries.reserve(size_t(xmlChildElementCount(const_cast<xmlNode*>(array))));
    for (const xmlNode* child = array->children; child; child = child->next) {
        const xmlNode* text = IsTextOrCData(child) ? child : SingleChild(child, IsTextOrCData);
        if (!text)
            throw Error(Ansi("WDDX-Liste mit einem Eintrag ohne einzelnen Text"));
        entries.push_back(Content(text));
    }
    return TWddxValue::FromArray(std::move(entries));
}

} // namespace

std::string GetWddxVar(std::string_view Packet, std::string_view Name)
{
    std::string pattern = "<VAR NAME='";
    pattern.append(Name).append("'><STRING>");
    for (char& c : pattern)
        c = UpperAscii(c);
    const size_t start = FindIgnoringCase(Packet, pattern, 0);
    if (start == std::string::npos)
        return {};
    const size_t valueStart = start + pattern.size();
    const size_t end = FindIgnoringCase(Packet, "</STRING>", start);
    const size_t length = end == std::string::npos || end < valueStart ? std::string::npos : end - valueStart;
    return DecodeEntities(std::string(Packet.substr(valueStart, length)));
}

std::string DecodeEntities(std::string Text)
{
    static const std::array<std::pair<std::string_view, std::string_view>, 10> steps = {{
        {"&Auml;", "\xC4"},
        {"&Ouml;", "\xD6"},
        {"&Uuml;", "\xDC"},
        {"&auml;", "\xE4"},
        {"&ouml;", "\xF6"},
        {"&uuml;", "\xFC"},
        {"&szlig;", "\xDF"},
        {"&amp;", "&"},
        {"&lt;", "<"},
        {"&gt;", ">"},
    }};
    if (Text.find('&') == std::string::npos)
        return Text;
    for (const auto& [entity, replacement] : steps)
        ReplaceAll(Text, entity, replacement);
    return Text;
}

TWddxDocument::TWddxDocument(const WideString& Xml) : FDocument(ParseXml(ToUtf8(Xml))) {}

TWddxDocument::TWddxDocument(std::string_view Windows1252) : FDocument(ParseXml(AnsiToUtf8(Windows1252))) {}

const xmlNode* TWddxDocument::FindPacket() const
{
    const xmlNode* packet = nullptr;
    for (const xmlNode* node = FDocument->children; node; node = node->next)
        if (IsElement(node, "wddxPacket") && !Attribute(node, "version").empty())
            packet = node;
    return packet;
}

const xmlNode* TWddxDocument::FindStruct() const
{
    const xmlNode* packet = FindPacket();
    if (!packet)
        throw Error(Ansi("Kein WDDX-Paket mit Versionsangabe gefunden"));
    const xmlNode* data = FirstChildElement(packet, "data");
    if (!data)
        throw Error(Ansi("WDDX-Paket ohne data-Element"));
    const xmlNode* structure = FirstChildElement(data, "struct");
    if (!structure)
        throw Error(Ansi("WDDX-Daten ohne struct-Element"));
    return structure;
}

const xmlNode* TWddxDocument::FindVar(std::string_view Name) const
{
    const std::string name = AnsiToUtf8(Name);
    const xmlNode* found = nullptr;
    for (const xmlNode* child = FindStruct()->children; child; child = child->next)
        if (IsElement(child, "var") && Attribute(child, "name") == name)
            found = child;
    return found;
}

TWddxValue TWddxDocument::GetVar(std::string_view Name) const
{
    const xmlNode* var = FindVar(Name);
    const xmlNode* child = var ? var->children : nullptr;
    if (!child)
        return {};
    if (const xmlNode* text = SingleChild(child, IsTextNode)) {
        if (XmlView(child->name) == "number")
            return TWddxValue::FromNumber(WddxNumber(XmlView(text->content)));
        return TWddxValue::FromText(Content(text));
    }
    if (child->type == XML_ELEMENT_NODE && XmlView(child->name) == "array")
        return ArrayValue(child);
    return {};
}

} // namespace orvel
