#pragma once
// The SOAP binding shared by ITarvik and IAddress3: rpc style, section-5 encoding, SOAPAction
// "<namespace>#<operation>", the answer in "<operation>Response" with the return value and the outputs by their
// parameter names.

#include "soap/WebServices.h"
#include "transport/Soap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvel {

SoapParameter TextInput(std::string name, const WideString& value); // xsd:string, sent as UTF-8
SoapParameter IntInput(std::string name, int32_t value);            // xsd:int

// Where a decoded value goes; its type says how the value is read.
using RpcVariable = std::variant<WideString*, int32_t*, TStringDynArray*>;

struct RpcOutput
{
    std::string_view Name;
    RpcVariable Variable;
};

// Calls the operation and fills Result (when the operation has a return value) and the outputs the answer carries;
// an output it lacks keeps what the caller set. The whole answer is read before anything is written, so a transport
// failure, a fault (SoapFault) or an unreadable answer throws with every variable untouched.
void CallRpc(SoapClient& Client, const std::string& InterfaceNamespace, const std::string& Operation,
             const std::vector<SoapParameter>& Inputs, std::optional<RpcVariable> Result,
             const std::vector<RpcOutput>& Outputs);
// The reading half of CallRpc, for an answer already received.
void ReadRpcAnswer(const SoapResponse& Answer, const std::string& InterfaceNamespace, const std::string& Operation,
                   std::optional<RpcVariable> Result, const std::vector<RpcOutput>& Outputs);

} // namespace orvel
