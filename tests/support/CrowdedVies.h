#pragma once
// VIES's checkVatApprox as it treats a crowd, on 127.0.0.1: each answer after AnswerTime, at most Most requests per
// member state at once and MS_MAX_CONCURRENT_REQ at once beyond that; every id valid, with the consultation number
// "WAPI" + its vatNumber. A vatNumber ending in a digit of FaultOnce gets the transient fault MS_UNAVAILABLE the first
// time it is asked for.

#include "support/FixtureServer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace orvel::test {

class CrowdedVies
{
public:
    CrowdedVies(int most, std::chrono::milliseconds answerTime, std::string faultOnce = {});

    std::string Url() const { return "http://" + Server.HostPort() + "/vies"; }
    int Refused() const { return RefusedCount.load(); }
    int Faulted() const { return FaultedCount.load(); }
    // How often the vatNumber was answered valid.
    int Answered(const std::string& number) const;

private:
    Reply Answer(const Request& request);

    const int Most;
    const std::chrono::milliseconds AnswerTime;
    const std::string FaultOnce;
    std::atomic<int> RefusedCount{0}, FaultedCount{0};
    mutable std::mutex Lock;
    std::map<std::string, int> Busy, Asked, Answers;
    FixtureServer Server; // last: its threads use the members above
};

} // namespace orvel::test
