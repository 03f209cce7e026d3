#include "support/CrowdedVies.h"

#include <thread>

namespace orvel::test {
namespace {

constexpr char kEnvelope[] = "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Body>";

Reply Fault(const std::string& text)
{
    return Reply::Status("HTTP/1.1 500 Internal Server Error",
                         std::string(kEnvelope) + "<env:Fault><faultcode>env:Server</faultcode><faultstring>" + text +
                             "</faultstring></env:Fault></env:Body></env:Envelope>");
}

std::string Field(const std::string& body, const std::string& name)
{
    const size_t start = body.find(name + ">");
    if (start == std::string::npos)
        return {};
    const size_t from = start + name.size() + 1;
    return body.substr(from, body.find('<', from) - from);
}

} // namespace

CrowdedVies::CrowdedVies(int most, std::chrono::milliseconds answerTime, std::string faultOnce)
    : Most(most), AnswerTime(answerTime), FaultOnce(std::move(faultOnce)),
      Server([this](const Request& request) { return Answer(request); })
{
}

int CrowdedVies::Answered(const std::string& number) const
{
    const std::lock_guard lock(Lock);
    const auto found = Answers.find(number);
    return found == Answers.end() ? 0 : found->second;
}

Reply CrowdedVies::Answer(const Request& request)
{
    const std::string country = Field(request.Body, "countryCode"), number = Field(request.Body, "vatNumber");
    {
        const std::lock_guard lock(Lock);
        if (Busy[country] >= Most) {
            ++RefusedCount;
            return Fault("MS_MAX_CONCURRENT_REQ");
        }
        ++Busy[country];
    }
    std::this_thread::sleep_for(AnswerTime);
    const std::lock_guard lock(Lock);
    --Busy[country];
    if (++Asked[number] == 1 && !number.empty() && FaultOnce.find(number.back()) != std::string::npos) {
        ++FaultedCount;
        return Fault("MS_UNAVAILABLE");
    }
    ++Answers[number];
    return Reply::Ok(std::string(kEnvelope) +
                     "<ns2:checkVatApproxResponse xmlns:ns2=\"urn:ec.europa.eu:taxud:vies:services:checkVat:types\">"
                     "<ns2:requestDate>2026-12-11+01:00</ns2:requestDate><ns2:valid>true</ns2:valid>"
                     "<ns2:traderNameMatch>1</ns2:traderNameMatch><ns2:requestIdentifier>WAPI" +
                     number + "</ns2:requestIdentifier></ns2:checkVatApproxResponse></env:Body></env:Envelope>");
}

} // namespace orvel::test
