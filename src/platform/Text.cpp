#include "platform/Text.h"

#include "platform/Codepage.h"

namespace orvel {
namespace {

unsigned char FoldCase(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 0x20;
    switch (c) {
    case 0x8A: return 0x9A; // Š
    case 0x8C: return 0x9C; // Œ
    case 0x8E: return 0x9E; // Ž
    case 0x9F: return 0xFF; // Ÿ
    default: return c;
    }
}

unsigned char UpperCase(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20;
    switch (c) {
    case 0x9A: return 0x8A; // š
    case 0x9C: return 0x8C; // œ
    case 0x9E: return 0x8E; // ž
    case 0xFF: return 0x9F; // ÿ
    default: return c;
    }
}

} // namespace

std::string AnsiUpperCase(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = char(UpperCase(static_cast<unsigned char>(c)));
    return upper;
}

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Ansi(std::string_view utf8)
{
    return Narrow(FromUtf8(utf8));
}

} // namespace orvel
