#pragma once
// CSV as RFC 4180 has it: fields separated by commas (or semicolons, when the header line uses them), quotes around
// fields with separators, quotes or line breaks, quotes doubled inside; CR LF or LF line ends.

#include <string>
#include <string_view>
#include <vector>

namespace orvel::cli {

// The input as UTF-8: a byte order mark dropped; text that is not valid UTF-8 is read as Windows-1252.
std::string DecodeInput(std::string_view Bytes, bool& Windows1252);

struct TCsvRecord
{
    std::vector<std::string> Fields;
    size_t Line = 0;   // where the record starts, from 1
    std::string Fault; // why the record could not be read; Fields then holds its raw text as the only field
};

// Every record of Text; a record with a fault ends at the next line end, and the records after it are read.
// Blank lines are left out.
std::vector<TCsvRecord> ParseCsv(std::string_view Text);

// One record with its line end (CR LF), comma-separated, quoted where needed.
std::string CsvLine(const std::vector<std::string>& Fields);

} // namespace orvel::cli
