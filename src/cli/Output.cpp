#include "cli/Output.h"

#include "platform/Csv.h"
#include "confirm/Confirm.h"
#include "platform/Codepage.h"

#include <cstdio>

namespace orvel::cli {
namespace {

constexpr int32_t kNoConnection = -200;
constexpr int32_t kCertificateRejected = -250;
constexpr std::string_view kBicFound = "BIC gefunden";

const TCheckValue* Find(const TCheckOutcome& Outcome, std::string_view Name)
{
    for (const TCheckValue& value : Outcome.Values)
        if (value.Name == Name)
            return &value;
    return nullptr;
}

int32_t Number(const TCheckOutcome& Outcome, std::string_view Name)
{
    const TCheckValue* value = Find(Outcome, Name);
    return value && value->Value.Type() == VarType::Int32 ? std::get<int32_t>(value->Value) : 0;
}

std::string Text(const TCheckOutcome& Outcome, std::string_view Name)
{
    const TCheckValue* value = Find(Outcome, Name);
    return value ? ValueText(*value) : std::string();
}

std::string Json(std::string_view Utf8)
{
    std::string out = "\"";
    for (const char c : Utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

} // namespace

TExitStatus Verdict(const TOperationInfo& Operation, std::string_view CoClass, const TCheckOutcome& Outcome)
{
    if (Failed(Outcome.Hr))
        return kUnreachable;
    const int32_t result = Number(Outcome, "Result");
    const std::string_view method = Operation.Method;
    auto passed = [](bool Yes) { return Yes ? kPassed : kNotPassed; };
    if (CoClass == "UStID") {
        // VIES refusing the id itself is a failed check; a service that is busy or away is no answer at all.
        if (result == 2) {
            const confirm::ViesFault fault = confirm::ReadViesFault(Text(Outcome, "Resulttext"));
            // A blocked address is this machine's problem, not the id's.
            return !fault.Known || fault.Transient || fault.Code == "IP_BLOCKED" ? kUnreachable : kNotPassed;
        }
        return passed(result == 0);
    }
    if (result == kNoConnection || result == kCertificateRejected)
        return kUnreachable;
    if (method == "GetPlzType")
        return passed(result >= 101 && result <= 109);
    if (CoClass == "Address")
        return passed(result == 0 || result == 9 || result == 12);
    if (method == "Search")
        return passed(result > 0);
    if (method == "TestBic")
        return passed(BicVerdict(Outcome) == kBicFound);
    return passed(result >= 0 && result <= 10);
}

std::string BicVerdict(const TCheckOutcome& Outcome)
{
    if (Failed(Outcome.Hr))
        return FailureText(Outcome);
    const std::string name = Text(Outcome, "BicName");
    // A foreign BIC of sound form that no directory here knows has no name and no mark.
    if (name.empty() || name.starts_with("*BIC nicht im"))
        return "BIC nicht im Verzeichnis";
    if (name.starts_with('*'))
        return name.substr(1);
    return std::string(kBicFound);
}

std::string ValueText(const TCheckValue& Value)
{
    if (Value.IsList) {
        std::string text;
        // Appended piecewise: g++ 12 at -O3 misreads "literal" + std::string as an overlapping memcpy (-Wrestrict).
        for (const WideString& element : Value.List) {
            if (!text.empty())
                text += '~';
            text += ToUtf8(element);
        }
        return text;
    }
    if (Value.Value.Type() == VarType::Int32)
        return std::to_string(std::get<int32_t>(Value.Value));
    return Value.Value.Type() == VarType::Text ? ToUtf8(std::get<WideString>(Value.Value)) : std::string();
}

std::vector<std::pair<std::string, std::string>> VatPieces(const TCheckOutcome& Outcome)
{
    const int32_t result = Number(Outcome, "Result");
    const std::string text = Text(Outcome, "Resulttext");
    // A refusal (VIES's fault, or a country it does not serve) gets its verdict in words, not a bare code.
    if (result == 2) {
        const confirm::ViesFault fault = confirm::ReadViesFault(text);
        return fault.Known ? TExtraLines{{"Urteil", fault.Verdict}} : TExtraLines{};
    }
    if (result == 1 && text.find('~') == std::string::npos)
        return {{"Urteil", text}};
    if (result != 0 && result != 1)
        return {};
    // country~number~date~valid~name~address, as the check writes VIES's answer; the address may hold "~" itself.
    std::vector<std::pair<std::string, std::string>> pieces;
    size_t start = 0;
    for (size_t i = 0; i < std::size(kVatPieceNames); ++i) {
        const size_t end = i + 1 < std::size(kVatPieceNames) ? text.find('~', start) : std::string::npos;
        if (end == std::string::npos && i + 1 < std::size(kVatPieceNames))
            return {};
        std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (i == 3)
            piece = piece == "True" ? "ja" : "nein";
        pieces.emplace_back(std::string(kVatPieceNames[i]), std::move(piece));
        start = end + 1;
    }
    return pieces;
}

std::string TextOutput(const TCheckOutcome& Outcome, const TExtraLines& Extra)
{
    std::string out;
    const auto line = [&out](std::string_view Name, std::string_view text) {
        // One line each: a message's line breaks (CR LF, CR or LF) become blanks.
        out += Name;
        out += ": ";
        out += PrintableLine(text);
        out += '\n';
    };
    for (const TCheckValue& value : Outcome.Values)
        line(value.Name, ValueText(value));
    for (const auto& [name, text] : Extra)
        line(name, text);
    return out;
}

std::string JsonOutput(const TCheckOutcome& Outcome, const TExtraLines& Extra)
{
    std::string out = "{";
    for (const TCheckValue& value : Outcome.Values) {
        if (out.size() > 1)
            out += ", ";
        out += Json(value.Name) + ": ";
        if (value.IsList) {
            out += '[';
            for (size_t i = 0; i < value.List.size(); ++i)
                out += (i ? ", " : "") + Json(ToUtf8(value.List[i]));
            out += ']';
        } else if (value.Value.Type() == VarType::Int32) {
            out += std::to_string(std::get<int32_t>(value.Value));
        } else {
            out += Json(ValueText(value));
        }
    }
    for (const auto& [name, text] : Extra)
        out += ", " + Json(name) + ": " + Json(text);
    return out + "}\n";
}

std::string FailureText(const TCheckOutcome& Outcome)
{
    std::string text = Printable(ToUtf8(Outcome.Info.Description));
    if (!Outcome.Info.Source.empty())
        text = ToUtf8(Outcome.Info.Source) + ": " + text;
    return text;
}

} // namespace orvel::cli
