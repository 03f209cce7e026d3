#include "soap/RpcCall.h"

#include "platform/Text.h"

#include <utility>

namespace orvel {
namespace {

using RpcValue = std::variant<WideString, int32_t, TStringDynArray>;

RpcValue Decode(const SoapResponse& answer, const xmlNode* accessor, const RpcVariable& variable)
{
    if (std::holds_alternative<WideString*>(variable))
        return FromUtf8(answer.EncodedString(accessor));
    if (std::holds_alternative<int32_t*>(variable))
        return answer.EncodedInt(accessor);
    TStringDynArray list;
    for (const auto& item : answer.EncodedStringArray(accessor))
        list.push_back(FromUtf8(item));
    return list;
}

} // namespace

SoapParameter TextInput(std::string name, const WideString& value)
{
    return {std::move(name), ToUtf8(value), "xsd:string"};
}

SoapParameter IntInput(std::string name, int32_t value)
{
    return {std::move(name), std::to_string(value), "xsd:int"};
}

void CallRpc(SoapClient& Client, const std::string& InterfaceNamespace, const std::string& Operation,
             const std::vector<SoapParameter>& Inputs, std::optional<RpcVariable> Result,
             const std::vector<RpcOutput>& Outputs)
{
    const SoapOperation operation{Operation, InterfaceNamespace, SoapStyle::RpcEncoded,
                                  InterfaceNamespace + "#" + Operation};
    ReadRpcAnswer(Client.Invoke(operation, Inputs), InterfaceNamespace, Operation, Result, Outputs);
}

void ReadRpcAnswer(const SoapResponse& answer, const std::string& InterfaceNamespace, const std::string& Operation,
                   std::optional<RpcVariable> Result, const std::vector<RpcOutput>& Outputs)
{
    const xmlNode* response = answer.Expect(InterfaceNamespace, Operation + "Response");

    std::vector<std::pair<RpcVariable, RpcValue>> decoded;
    if (Result) {
        std::vector<std::string_view> outputNames;
        for (const auto& output : Outputs)
            outputNames.push_back(output.Name);
        const xmlNode* accessor = SoapReturnAccessor(response, outputNames);
        if (!accessor)
            throw Error(Ansi("Die Antwort enthält kein Element return."));
        decoded.emplace_back(*Result, Decode(answer, accessor, *Result));
    }
    for (const auto& output : Outputs)
        if (const xmlNode* accessor = SoapChild(response, output.Name))
            decoded.emplace_back(output.Variable, Decode(answer, accessor, output.Variable));

    for (auto& entry : decoded)
        std::visit(
            [&entry](auto* target) {
                *target = std::get<std::remove_pointer_t<decltype(target)>>(std::move(entry.second));
            },
            entry.first);
}

} // namespace orvel
