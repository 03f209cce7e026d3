#pragma once
// CSV as RFC 4180 has it: fields separated by commas (or semicolons, when the header line uses them), quotes around
// fields with separators, quotes or line breaks, quotes doubled inside; CR LF or LF line ends.

#include <string>
#include <string_view>
#include <vector>

namespace orvel {

// The input as UTF-8: a byte order mark dropped; text without any valid multi-byte UTF-8 sequence (and not plain
// ASCII) is read as Windows-1252. A UTF-8 text keeps its few invalid bytes; ValidUtf8 finds the records holding them.
std::string DecodeInput(std::string_view Bytes, bool& Windows1252);

bool ValidUtf8(std::string_view Text);
// Whether Text holds one well-formed UTF-8 sequence of two or more bytes: the sign of a UTF-8 file.
bool HasUtf8Sequence(std::string_view Text);

// ';' when the header line has semicolons and no commas, else ','.
char CsvSeparator(std::string_view HeaderLine);

struct TCsvRecord
{
    std::vector<std::string> Fields;
    size_t Line = 0;         // where the record starts, from 1
    std::string Fault;       // why the record could not be read; Fields then holds its raw text as the only field
    bool Unfinished = false; // a fault whose line goes on beyond the text given: skip to its end before reading on
};

// The fault of a record longer than kMaxRecord; its text is cut to its start.
inline constexpr std::string_view kTooLong = "Datensatz länger als 1 MiB";

// Every record of Text; a record with a fault ends at the next line end, and the records after it are read.
// Blank lines are left out.
std::vector<TCsvRecord> ParseCsv(std::string_view Text);

// The same for a stream read piece by piece: the records at the front of Text, the first starting on line
// Line. With More (more text follows), a record that runs to the end of Text is left for the next call. A record
// longer than kMaxRecord is one fault, ending at the next line end (or Unfinished). Consumed is how far the records
// read reach; Line becomes the next record's.
constexpr size_t kMaxRecord = 1u << 20;
std::vector<TCsvRecord> ParseCsv(std::string_view Text, char Separator, bool More, size_t& Consumed, size_t& Line);

// One record with its line end (CR LF), quoted where needed.
std::string CsvLine(const std::vector<std::string>& Fields, char Separator = ',');
// One field of a record at the end of Line, quoted where needed (without the separator before it).
void AppendCsvField(std::string& Line, std::string_view Field, char Separator);

// A cell a spreadsheet would run as a formula (=, +, -, @, TAB or CR in front), made plain text with a leading "'";
// numbers such as "-200" stay numbers.
std::string FormulaSafe(std::string Cell);

// Control characters other than TAB and LF (and CR in CR LF) and the bidirectional controls (U+202E and its kin)
// replaced by U+FFFD: what a service sends must not reach a terminal or a spreadsheet as escape sequences or NUL
// bytes, nor turn "(dilav)" into "(valid)" on screen.
std::string Printable(std::string_view Utf8);
// The same on one line: TAB, CR LF, CR and LF become blanks, so that no field starts a line of its own.
std::string PrintableLine(std::string_view Utf8);

} // namespace orvel
