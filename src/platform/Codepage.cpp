#include "platform/Codepage.h"

#include <array>
#include <unordered_map>

namespace orvel {
namespace {

// 0x80..0x9F; undefined positions (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep the C1 code point.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ToWide(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : char16_t(byte);
}

const std::unordered_map<char16_t, char>& ReverseHighControls()
{
    static const auto table = [] {
        std::unordered_map<char16_t, char> map;
        for (unsigned i = 0; i < kHighControls.size(); ++i)
            map.emplace(kHighControls[i], char(0x80 + i));
        return map;
    }();
    return table;
}

} // namespace

WideString Widen(std::string_view text)
{
    WideString wide(text.size(), u'\0');
    char16_t* to = wide.data();
    for (char c : text)
        *to++ = ToWide(static_cast<unsigned char>(c));
    return wide;
}

std::string Narrow(std::u16string_view text)
{
    std::string narrow(text.size(), '\0');
    char* to = narrow.data();
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            *to++ = char(c);
            continue;
        }
        const auto& reverse = ReverseHighControls();
        auto it = reverse.find(c);
        *to++ = it != reverse.end() ? it->second : '?';
        // A surrogate pair is one character and narrows to one "?".
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            ++i;
    }
    narrow.resize(size_t(to - narrow.data()));
    return narrow;
}

std::string ToUtf8(std::u16string_view text)
{
    // Never more than three UTF-8 bytes per UTF-16 unit (a surrogate pair's four bytes stand for two units); written
    // through a pointer and cut to size at the end, as this runs for every text a batch writes.
    std::string out(text.size() * 3, '\0');
    char* to = out.data();
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp < 0x80) {
            *to++ = char(cp);
            continue;
        }
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD; // lone surrogate
        }
        if (cp < 0x800) {
            *to++ = char(0xC0 | (cp >> 6));
            *to++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *to++ = char(0xE0 | (cp >> 12));
            *to++ = char(0x80 | ((cp >> 6) & 0x3F));
            *to++ = char(0x80 | (cp & 0x3F));
        } else {
            *to++ = char(0xF0 | (cp >> 18));
            *to++ = char(0x80 | ((cp >> 12) & 0x3F));
            *to++ = char(0x80 | ((cp >> 6) & 0x3F));
            *to++ = char(0x80 | (cp & 0x3F));
        }
    }
    out.resize(size_t(to - out.data()));
    return out;
}

WideString FromUtf8(std::string_view text)
{
    // Never more UTF-16 units than UTF-8 bytes; written through a pointer and cut to size at the end.
    WideString out(text.size(), u'\0');
    char16_t* to = out.data();
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = from + text.size();
    while (from < end) {
        const unsigned char b = *from;
        if (b < 0x80) {
            *to++ = b;
            ++from;
            continue;
        }
        const size_t left = size_t(end - from);
        size_t length = (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        char32_t cp = length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && length <= left;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (from[k] & 0xC0) == 0x80;
            cp = (cp << 6) | (from[k] & 0x3F);
        }
        if (!valid) {
            *to++ = 0xFFFD;
            ++from;
            continue;
        }
        from += length;
        // Overlong forms could smuggle in characters a check of the shortest form misses; surrogates and values
        // beyond U+10FFFF are no characters at all.
        constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kShortest[length] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) {
            *to++ = 0xFFFD;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *to++ = char16_t(0xD800 + (cp >> 10));
            *to++ = char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            *to++ = char16_t(cp);
        }
    }
    out.resize(size_t(to - out.data()));
    return out;
}

void AppendAnsiAsUtf8(std::string& out, std::string_view text)
{
    // Each byte becomes at most three UTF-8 bytes (the euro sign and its neighbours in 0x80..0x9F).
    const size_t start = out.size();
    out.resize(start + text.size() * 3);
    char* to = out.data() + start;
    for (const char c : text) {
        const char16_t wide = ToWide(static_cast<unsigned char>(c));
        if (wide < 0x80) {
            *to++ = c;
        } else if (wide < 0x800) {
            *to++ = char(0xC0 | (wide >> 6));
            *to++ = char(0x80 | (wide & 0x3F));
        } else {
            *to++ = char(0xE0 | (wide >> 12));
            *to++ = char(0x80 | ((wide >> 6) & 0x3F));
            *to++ = char(0x80 | (wide & 0x3F));
        }
    }
    out.resize(size_t(to - out.data()));
}

std::string AnsiToUtf8(std::string_view text)
{
    std::string out;
    AppendAnsiAsUtf8(out, text);
    return out;
}

size_t Utf8CharLength(std::string_view text, size_t at)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char b = byte(0);
    if (b < 0x80)
        return 1;
    const size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() - at < length)
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    // The second byte decides on overlong forms, surrogates and values beyond U+10FFFF.
    const unsigned char second = byte(1);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) || (b == 0xF0 && second < 0x90) ||
        (b == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace orvel
