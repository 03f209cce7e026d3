#pragma once
// A disk that is full beyond a size, for the life of a test object: a write that would make a file of this process
// larger fails (EFBIG) instead of ending the process.

#include <csignal>
#include <cstddef>

#include <sys/resource.h>

namespace orvel::test {

class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(size_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &Previous);
        rlimit limited = Previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &Previous);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit Previous{};
};

} // namespace orvel::test
