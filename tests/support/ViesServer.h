#pragma once
// A stand-in for the VIES checkVat service on 127.0.0.1, answering in VIES's own form. The answer depends on the
// vatNumber asked for:
//   a fault string of VIES (kViesFaults), or
//   the same without its underscores           -> that SOAP fault, with status 500
//   kNotXml, kHttp500, kStall, kNoDate,
//   kWrongBody, kOversize, kExternalEntity     -> the failure the name says
//   one of the traders of kViesTraders         -> valid, with the trader's name and address
//   anything else                              -> not valid, name and address "---"
// A countryCode that is no member state's, or an empty vatNumber, gives the fault INVALID_INPUT, as VIES does.

#include "support/FixtureServer.h"

#include <mutex>
#include <string>
#include <vector>

namespace orvel::test {

struct ViesTrader
{
    const char* CountryCode;
    const char* VatNumber;
    const char* Name;    // UTF-8
    const char* Address; // UTF-8, lines separated by LF
};

extern const std::vector<ViesTrader> kViesTraders;
extern const std::vector<std::string> kViesFaults;
extern const char kViesRequestDate[]; // the requestDate of every answer

inline constexpr char kNotXml[] = "NOXML";
inline constexpr char kHttp500[] = "HTTP500";
inline constexpr char kStall[] = "STALL";
inline constexpr char kNoDate[] = "NODATE";
inline constexpr char kWrongBody[] = "WRONGBODY";
inline constexpr char kOversize[] = "OVERSIZE";
inline constexpr char kExternalEntity[] = "ENTITY";

class ViesServer
{
public:
    // What a checkVat request asked for, UTF-8.
    struct Call
    {
        std::string CountryCode;
        std::string VatNumber;
    };

    ViesServer();

    // The endpoint, with VIES's path.
    std::string Url() const;
    std::vector<Request> Requests() const { return Server.Requests(); }
    std::vector<Call> Calls() const;

private:
    Reply Answer(const Request& request);

    mutable std::mutex Lock;
    std::vector<Call> Recorded;
    FixtureServer Server; // last: its threads use the members above
};

} // namespace orvel::test
