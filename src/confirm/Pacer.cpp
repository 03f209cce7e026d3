#include "confirm/Pacer.h"

#include <algorithm>

namespace orvel::confirm {

Pacer::State& Pacer::Of(const std::string& country)
{
    State& state = FStates[country];
    if (state.Limit == 0)
        state.Limit = std::max(1, FPolicy.Start);
    return state;
}

bool Pacer::MayEnter(const std::string& country) const
{
    const auto found = FStates.find(country);
    return found == FStates.end() || found->second.InFlight < found->second.Limit;
}

int Pacer::Enter(const std::string& country)
{
    return ++Of(country).InFlight;
}

void Pacer::Answered(const std::string& country, int inFlight)
{
    State& state = Of(country);
    --state.InFlight;
    // Only a country that used all it may has shown that it takes that many.
    if (inFlight < state.Limit)
        return;
    const int round = state.Limit * (state.Refused ? std::max(1, FPolicy.RoundsBeforeProbe) : 1);
    if (++state.Answers >= round && state.Limit < FPolicy.Most) {
        ++state.Limit;
        state.Answers = 0;
    }
}

bool Pacer::Refused(const std::string& country)
{
    State& state = Of(country);
    const int inFlight = state.InFlight--;
    // The service counted no more than were in flight when it refused: one fewer is what it takes.
    state.Limit = std::max(1, std::min(state.Limit, inFlight - 1));
    state.Answers = 0;
    state.Refused = true;
    return inFlight > 1;
}

void Pacer::Failed(const std::string& country)
{
    --Of(country).InFlight;
}

Pacer::Country Pacer::StateOf(const std::string& country) const
{
    const auto found = FStates.find(country);
    if (found == FStates.end())
        return {country, 0, std::max(1, FPolicy.Start)};
    return {country, found->second.InFlight, found->second.Limit};
}

} // namespace orvel::confirm
