#include "wddx/Common.h"

#include <array>
#include <utility>

namespace orvel {
namespace {

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return upper;
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

} // namespace

std::string GetWddxVar(std::string_view Packet, std::string_view Name)
{
    const std::string upperPacket = UpperAscii(Packet);
    const std::string pattern = "<VAR NAME='" + UpperAscii(Name) + "'><STRING>";
    const size_t start = upperPacket.find(pattern);
    if (start == std::string::npos)
        return {};
    const size_t valueStart = start + pattern.size();
    const size_t end = upperPacket.find("</STRING>", start);
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
    for (const auto& [entity, replacement] : steps)
        ReplaceAll(Text, entity, replacement);
    return Text;
}

} // namespace orvel
