#pragma once
// Time-out tests show that the short time-out they set was used instead of a long default: the call ends far
// sooner than the default would allow, with room for a loaded machine. No test asserts how fast anything is.

#include <chrono>

namespace orvel::test {

// Against 60 s for a SOAP answer, 300 s for libcurl's connection set-up and no limit for reading.
inline constexpr std::chrono::seconds kShortTimeoutBound{10};

} // namespace orvel::test
