#include "wddx/WddxValue.h"

#include "platform/Error.h"
#include "platform/StrToInt.h"
#include "platform/Text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <optional>
#include <string>

namespace orvel {
namespace {

[[noreturn]] void NotAnInteger(const std::string& text)
{
    throw Error(Ansi("Der Wert '") + text + Ansi("' lässt sich nicht in eine Ganzzahl umwandeln"));
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads a number written with the current locale's decimal point and thousands separators, blanks around it allowed.
std::optional<double> LocaleNumber(std::string_view utf8)
{
    while (!utf8.empty() && IsBlank(utf8.front()))
        utf8.remove_prefix(1);
    while (!utf8.empty() && IsBlank(utf8.back()))
        utf8.remove_suffix(1);
    const lconv* conventions = std::localeconv();
    const std::string_view point = conventions->decimal_point;
    const std::string_view thousands = conventions->thousands_sep;

    std::string plain; // the same number with "." as the decimal point and no separators
    size_t at = 0;
    if (at < utf8.size() && (utf8[at] == '+' || utf8[at] == '-'))
        plain.push_back(utf8[at++]);
    bool digits = false;
    while (at < utf8.size()) {
        if (IsDigit(utf8[at])) {
            plain.push_back(utf8[at++]);
            digits = true;
        } else if (digits && !thousands.empty() && utf8.substr(at).starts_with(thousands)) {
            at += thousands.size();
        } else {
            break;
        }
    }
    if (!point.empty() && utf8.substr(at).starts_with(point)) {
        at += point.size();
        plain.push_back('.');
        for (; at < utf8.size() && IsDigit(utf8[at]); ++at, digits = true)
            plain.push_back(utf8[at]);
    }
    if (!digits)
        return std::nullopt;
    plain.append(utf8.substr(at)); // an exponent, or whatever makes the text no number

    if (plain.front() == '+')
        plain.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size())
        return std::nullopt;
    return value;
}

std::optional<int32_t> RoundToInt32(double value)
{
    const double rounded = std::nearbyint(value); // the default rounding mode sends halves to the even neighbour
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX))
        return std::nullopt;
    return int32_t(rounded);
}

} // namespace

TWddxValue TWddxValue::FromText(WideString Text)
{
    TWddxValue value;
    value.FData = std::move(Text);
    return value;
}

TWddxValue TWddxValue::FromNumber(double Number)
{
    TWddxValue value;
    value.FData = Number;
    return value;
}

TWddxValue TWddxValue::FromArray(std::vector<WideString> Entries)
{
    std::vector<WideString> elements;
    elements.reserve(Entries.size() + 1);
    elements.push_back(Widen(std::to_string(Entries.size())));
    for (WideString& entry : Entries)
        elements.push_back(std::move(entry));
    TWddxValue value;
    value.FData = std::move(elements);
    return value;
}

const std::vector<WideString>& TWddxValue::Elements() const
{
    static const std::vector<WideString> none;
    const auto* elements = std::get_if<std::vector<WideString>>(&FData);
    return elements ? *elements : none;
}

const WideString& TWddxValue::Element(int32_t Index) const
{
    const auto* elements = std::get_if<std::vector<WideString>>(&FData);
    if (!elements || Index < 0 || size_t(Index) >= elements->size())
        throw Error(Ansi("Ungültiges Argument"));
    return (*elements)[size_t(Index)];
}

WideString TWddxValue::AsText() const
{
    switch (GetKind()) {
    case Kind::Empty:
        return {};
    case Kind::Text:
        return std::get<WideString>(FData);
    case Kind::Number: {
        char buffer[32];
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(FData), std::chars_format::general, 15);
        return Widen(std::string_view(buffer, size_t(result.ptr - buffer)));
    }
    case Kind::Array:
        break;
    }
    throw Error(Ansi("Eine Liste lässt sich nicht in Text umwandeln"));
}

int32_t TWddxValue::AsInteger() const
{
    std::optional<int32_t> integer;
    switch (GetKind()) {
    case Kind::Empty:
        return 0;
    case Kind::Number:
        integer = RoundToInt32(std::get<double>(FData));
        break;
    case Kind::Text:
        if (const auto number = LocaleNumber(ToUtf8(std::get<WideString>(FData))))
            integer = RoundToInt32(*number);
        break;
    case Kind::Array:
        throw Error(Ansi("Eine Liste lässt sich nicht in eine Ganzzahl umwandeln"));
    }
    if (!integer)
        NotAnInteger(Narrow(AsText()));
    return *integer;
}

WideString ListElement(const TWddxValue& List, int32_t Index)
{
    try {
        return List.Element(Index);
    } catch (const Error&) {
        return {};
    }
}

WideString ListString(const TWddxValue& List)
{
    try {
        WideString joined = List.Element(0);
        const int32_t count = StrToIntDef(Narrow(joined), 0);
        for (int32_t i = 1; i <= count; ++i)
            joined += u"~" + List.Element(i);
        return joined;
    } catch (const Error&) {
        return u"0";
    }
}

} // namespace orvel
