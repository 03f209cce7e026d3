#pragma once
// The plain pieces of the component object model: result codes, variants, error information.

#include "platform/Codepage.h"
#include "platform/Error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace orvel {

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002);
constexpr HRESULT E_FAIL = HRESULT(0x80004005);
constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFF);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = HRESULT(0x80020003);
constexpr HRESULT DISP_E_TYPEMISMATCH = HRESULT(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = HRESULT(0x80020006);
constexpr HRESULT DISP_E_OVERFLOW = HRESULT(0x8002000A);
constexpr HRESULT DISP_E_BADPARAMCOUNT = HRESULT(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = HRESULT(0x8002000F);
constexpr HRESULT REGDB_E_CLASSNOTREG = HRESULT(0x80040154);

constexpr bool Failed(HRESULT hr)
{
    return hr < 0;
}

// The symbolic name of a code ("E_UNEXPECTED"); codes without one read "HRESULT_8XXXXXXX".
std::string HResultName(HRESULT hr);
// The system's own description of a code, for failures that carry no error information (UTF-8).
std::string HResultText(HRESULT hr);

// The value types an automation argument or result can hold.
enum class VarType { Empty, Bool, Int32, Double, Text };

struct Variant : std::variant<std::monostate, bool, int32_t, double, WideString>
{
    using variant::variant;
    VarType Type() const { return VarType(index()); }
};

// Converts Source to Type as the automation runtime does for arguments: numbers and numeric text convert both
// ways; a text that is no number gives DISP_E_TYPEMISMATCH, a number out of range DISP_E_OVERFLOW.
HRESULT VariantChangeType(Variant& Dest, const Variant& Source, VarType Type);

// What a failed call tells about itself besides its code.
struct ErrorInfo
{
    std::string Guid; // the interface that failed, "{...}"
    WideString Source;
    WideString Description;
};

// An error that carries its own failure code, as the platform raises it.
class ComError : public Error
{
public:
    ComError(HRESULT Code, const std::string& Message) : Error(Message), FCode(Code) {}
    HRESULT Code() const { return FCode; }

private:
    HRESULT FCode;
};

} // namespace orvel
