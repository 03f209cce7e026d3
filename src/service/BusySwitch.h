#pragma once
// The next N confirmation answers say the service is busy (VIES's MS_MAX_CONCURRENT_REQ, the BZSt's evatr-0011),
// so that a client's retries can be tried end to end without the real services.

#include <atomic>

namespace orvel::service {

class BusySwitch
{
public:
    explicit BusySwitch(unsigned answers = 0) : Left(answers) {}

    // True when this answer is to be a busy fault; counts it.
    bool Take()
    {
        unsigned left = Left.load();
        while (left > 0 && !Left.compare_exchange_weak(left, left - 1)) {
        }
        return left > 0;
    }

private:
    std::atomic<unsigned> Left;
};

} // namespace orvel::service
