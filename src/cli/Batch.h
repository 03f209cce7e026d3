#pragma once
// orvelwddx-check batch: a CSV stream of checks, one per row, read, checked by several workers and written back in
// input order with the result columns added, a bounded number of rows in memory at any time.

#include "cli/Runner.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace orvel::cli {

// How the input's bytes are read: judged from a whole file (Windows-1252 when it holds no UTF-8 sequence), or as told.
enum class TEncoding { Judge, Utf8, Windows1252 };

struct TBatch
{
    std::FILE* Input = nullptr; // read to its end; a file to be judged is read twice
    TEncoding Encoding = TEncoding::Judge;
    int Jobs = 1;
    bool Progress = false;           // a progress bar on standard error
    bool Raw = false;                // cells as they are: no "'" in front of what a spreadsheet would run
    bool Excel = false;              // for a German Excel: semicolons and a UTF-8 byte order mark
    std::string Xlsx;                // a workbook to write instead of CSV on the output; empty: none
    bool Bzst = false;               // confirmations (an own_vat column) through the BZSt instead of VIES
    std::string RetryLater;          // where to write the rows whose confirmation could not be made; empty: nowhere
    const std::atomic<bool>* Stop{}; // set from outside: finish the rows in flight, write them, end
};

// Returns the exit status: 0 when every row passed, 1 when one did not or could not be read, 3 when one could not
// reach the service, 130 when stopped.
int RunBatch(const TBatch& Batch, TRunner& Runner, const TComServer& Server, const TRunSettings& Settings,
             std::FILE* Out, std::FILE* Err);

} // namespace orvel::cli
