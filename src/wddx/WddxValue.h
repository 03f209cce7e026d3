#pragma once
// A value read from a WDDX packet: nothing, a text, a number or a text array.

#include "platform/Codepage.h"

#include <cstdint>
#include <variant>
#include <vector>

namespace orvel {

class TWddxValue
{
public:
    enum class Kind {
        Empty,
        Text,
        Number,
        Array,
    };

    TWddxValue() = default;
    static TWddxValue FromText(WideString Text);
    static TWddxValue FromNumber(double Number);
    // Element 0 is the count of Entries in decimal, elements 1 to n the entries.
    static TWddxValue FromArray(std::vector<WideString> Entries);

    Kind GetKind() const { return Kind(FData.index()); }
    bool IsArray() const { return GetKind() == Kind::Array; }
    // The array's elements, count first; empty unless IsArray().
    const std::vector<WideString>& Elements() const;

    // Element Index of a text array. Throws Error("Ungültiges Argument") when the value is no array or the index
    // is out of range.
    const WideString& Element(int32_t Index) const;
    // Empty text for an empty value, the text itself, or the number in plain decimals ("4", "4.5"). Throws Error for
    // an array.
    WideString AsText() const;
    // Converts as an automation variant does: empty gives 0, a number is rounded half to even, a text is read as a
    // number in the current LC_NUMERIC locale (with its thousands separators) and then rounded. Throws Error for text
    // that is no number, for an array and for a value outside the 32-bit range.
    int32_t AsInteger() const;

private:
    std::variant<std::monostate, WideString, double, std::vector<WideString>> FData;
};

// Element Index of a list as a list property returns it: empty text for anything that cannot be read.
WideString ListElement(const TWddxValue& List, int32_t Index);
// Element 0 and then as many entries as it counts, joined with "~"; "0" when the list cannot be read.
WideString ListString(const TWddxValue& List);

} // namespace orvel
