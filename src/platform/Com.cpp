#include "platform/Com.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace orvel {
namespace {

struct CodeEntry
{
    HRESULT Code;
    const char* Name;
    const char* Text;
};

constexpr CodeEntry kCodes[] = {
    {E_NOINTERFACE, "E_NOINTERFACE", "Schnittstelle nicht unterstützt"},
    {E_FAIL, "E_FAIL", "Unbekannter Fehler"},
    {E_UNEXPECTED, "E_UNEXPECTED", "Katastrophaler Fehler"},
    {E_INVALIDARG, "E_INVALIDARG", "Falscher Parameter."},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "Mitglied nicht gefunden."},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "Typen unverträglich."},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "Unbekannter Name."},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "Überlauf."},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "Ungültige Anzahl an Parametern."},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "Parameter ist nicht optional."},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "Klasse nicht registriert"},
};

const CodeEntry* FindCode(HRESULT hr)
{
    for (const CodeEntry& entry : kCodes)
        if (entry.Code == hr)
            return &entry;
    return nullptr;
}

std::string Hex(HRESULT hr)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", uint32_t(hr));
    return text;
}

HRESULT FromDouble(double value, int32_t& out)
{
    // Halves round to the even neighbour, as the runtime's conversions do.
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<int32_t>::min() ||
        rounded > std::numeric_limits<int32_t>::max())
        return DISP_E_OVERFLOW;
    out = int32_t(rounded);
    return S_OK;
}

// Decimal text with an optional sign and fraction, blanks around it allowed.
HRESULT FromText(const WideString& text, int32_t& out)
{
    std::string ascii;
    for (char16_t c : text) {
        if (c > 0x7F)
            return DISP_E_TYPEMISMATCH;
        ascii.push_back(char(c));
    }
    const auto first = ascii.find_first_not_of(' ');
    if (first == std::string::npos)
        return DISP_E_TYPEMISMATCH;
    std::string_view number(ascii);
    number = number.substr(first, ascii.find_last_not_of(' ') + 1 - first);
    bool negative = false;
    if (number.front() == '+' || number.front() == '-') {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    if (number.empty() || number.front() < '0' || number.front() > '9')
        return DISP_E_TYPEMISMATCH;
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::fixed);
    if (end != number.data() + number.size())
        return DISP_E_TYPEMISMATCH;
    if (error == std::errc::result_out_of_range)
        return DISP_E_OVERFLOW;
    return FromDouble(negative ? -value : value, out);
}

WideString Ascii(const std::string& text)
{
    return WideString(text.begin(), text.end());
}

} // namespace

std::string HResultName(HRESULT hr)
{
    const CodeEntry* entry = FindCode(hr);
    return entry ? entry->Name : "HRESULT_" + Hex(hr);
}

std::string HResultText(HRESULT hr)
{
    const CodeEntry* entry = FindCode(hr);
    return entry ? entry->Text : "Fehler 0x" + Hex(hr);
}

HRESULT VariantChangeType(Variant& Dest, const Variant& Source, VarType Type)
{
    if (Source.Type() == Type) {
        Dest = Source;
        return S_OK;
    }
    if (Type == VarType::Text) {
        switch (Source.Type()) {
        case VarType::Empty:
            Dest = WideString();
            return S_OK;
        case VarType::Bool:
            Dest = WideString(std::get<bool>(Source) ? u"-1" : u"0");
            return S_OK;
        case VarType::Int32:
            Dest = Ascii(std::to_string(std::get<int32_t>(Source)));
            return S_OK;
        case VarType::Double: {
            char text[32];
            std::snprintf(text, sizeof text, "%.15G", std::get<double>(Source));
            Dest = Ascii(text);
            return S_OK;
        }
        case VarType::Text:
            break;
        }
    }
    if (Type == VarType::Int32) {
        int32_t value = 0;
        HRESULT hr = S_OK;
        switch (Source.Type()) {
        case VarType::Empty:
            break;
        case VarType::Bool:
            value = std::get<bool>(Source) ? -1 : 0;
            break;
        case VarType::Double:
            hr = FromDouble(std::get<double>(Source), value);
            break;
        case VarType::Text:
            hr = FromText(std::get<WideString>(Source), value);
            break;
        case VarType::Int32:
            break;
        }
        if (!Failed(hr))
            Dest = value;
        return hr;
    }
    return DISP_E_TYPEMISMATCH;
}

} // namespace orvel
