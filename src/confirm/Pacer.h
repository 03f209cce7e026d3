#pragma once
// How many requests go to each member state's service at once. VIES refuses a request beyond the member state's
// limit with MS_MAX_CONCURRENT_REQ and asks callers to pace themselves: each country starts with one request at a
// time, takes one more after each round of answers while it uses all it may, falls back below the number in flight
// when one is refused, and after that tries one more only now and then, since the limit may have grown again.
// Not thread-safe: its owner holds the lock.

#include <map>
#include <string>

namespace orvel::confirm {

struct PacingPolicy
{
    int Start = 1;
    int Most = 16;
    // After a refusal, a country tries one more request once it has had this many rounds of answers (its limit
    // each) without one.
    int RoundsBeforeProbe = 8;
};

class Pacer
{
public:
    struct Country
    {
        std::string Code;
        int InFlight = 0;
        int Limit = 0;
    };

    explicit Pacer(PacingPolicy policy = {}) : FPolicy(policy) {}

    bool MayEnter(const std::string& country) const;
    // A request to the country starts; returns how many are then in flight, this one included.
    int Enter(const std::string& country);
    // It ended with an answer; InFlight is what Enter returned for it.
    void Answered(const std::string& country, int inFlight);
    // It was refused as one too many; returns false when it went alone, so that pacing cannot help.
    bool Refused(const std::string& country);
    // It ended without an answer (a transport fault, a busy service): no reason to go faster or slower.
    void Failed(const std::string& country);

    Country StateOf(const std::string& country) const;

private:
    struct State
    {
        int InFlight = 0;
        int Limit = 0;
        int Answers = 0; // since the limit last changed, while the country used all it may
        bool Refused = false;
    };
    State& Of(const std::string& country);

    PacingPolicy FPolicy;
    std::map<std::string, State> FStates;
};

} // namespace orvel::confirm
