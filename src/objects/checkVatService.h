#pragma once
// The SOAP binding of the VIES checkVat service and the client class whose request a handler may rewrite.

#include "platform/Codepage.h"
#include "transport/Soap.h"

#include <functional>
#include <memory>
#include <string>

namespace orvel {

// Fields are 8-bit text; they travel as UTF-8.
struct checkVatRequest
{
    std::string countryCode;
    std::string vatNumber;
};

// Fields keep the full Unicode text of the answer, so traders' names in any script survive.
struct checkVatResponse
{
    WideString countryCode;
    WideString vatNumber;
    WideString requestDate; // the XML Schema date as received, e.g. "2024-11-11+01:00"
    bool valid = false;
    WideString name;
    WideString address;
};

class checkVatPortType
{
public:
    virtual ~checkVatPortType() = default;
    // Throws SoapFault for a fault, Error for a transport failure or an answer that is no checkVatResponse.
    virtual checkVatResponse checkVat(const checkVatRequest& parameters) = 0;
};

// The checkVatResponse of an answer; throws Error when the answer holds none or one without its required fields.
checkVatResponse ReadcheckVatResponse(const SoapResponse& answer);

// A SOAP client whose OnBeforeExecute handler sees and may change the serialised request as text. With a handler
// the request is sent with every line ended by CR LF, the last one too.
class THTTPRIO2 : public SoapClient
{
public:
    using TBeforeExecuteEvent = std::function<void(const std::string& MethodName, WideString& SOAPRequest)>;

    TBeforeExecuteEvent OnBeforeExecute;

protected:
    void BeforeExecute(const std::string& MethodName, std::string& Request) override;
};

// The port type over HTTPRIO, which the port owns from now on.
std::unique_ptr<checkVatPortType> GetcheckVatPortType(std::unique_ptr<THTTPRIO2> HTTPRIO);

} // namespace orvel
