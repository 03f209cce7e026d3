#pragma once
// orvelwddx-check batch: a CSV file of checks, one per row, run N at a time and written back in input order with the
// result columns added.

#include "cli/Runner.h"

#include <atomic>
#include <cstdio>
#include <string_view>

namespace orvel::cli {

struct TBatch
{
    std::string_view Input; // the file's bytes
    int Jobs = 1;
    bool Progress = false;           // a progress bar on standard error
    const std::atomic<bool>* Stop{}; // set from outside: finish the rows in flight, write them, end
};

// Returns the exit status: 0 when every row passed, 1 when one did not or could not be read, 3 when one could not
// reach the service, 130 when stopped.
int RunBatch(const TBatch& Batch, TRunner& Runner, const TComServer& Server, const TRunSettings& Settings,
             std::FILE* Out, std::FILE* Err);

} // namespace orvel::cli
