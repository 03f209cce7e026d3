#pragma once
// What the official directories' text files share: ';'-separated rows with a header read by column name, dates as
// "DD.MM.YYYY", and an encoding each file must keep to. Errors name the file and line.

#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::rules {

// A calendar date as midnight UTC; -1 for a day that does not exist ("31.02.2026", month 13).
std::time_t CivilDate(int year, int month, int day);
// "DD.MM.YYYY" as midnight UTC, -1 when it is none or no real day.
std::time_t ParseGermanDate(std::string_view text);

// The fields of a ';'-separated line; a field in double quotes may hold ';' and doubled quotes.
std::vector<std::string> SplitCsv(std::string_view line);

[[noreturn]] void BadDirectoryLine(const std::string& name, size_t line, const std::string& what);

// Column positions by header name, so that added or moved columns do not break reading.
class CsvHeader
{
public:
    // Throws naming the line and the first missing column.
    CsvHeader(const std::vector<std::string>& fields, const std::vector<std::string_view>& required,
              const std::string& name, size_t line);
    size_t Width() const { return Count; }
    const std::string& Of(const std::vector<std::string>& row, std::string_view column) const;

private:
    std::map<std::string, size_t, std::less<>> Columns;
    size_t Count = 0;
};

// Reads lines without their CR; checks each as ASCII (ascii) or ISO-8859-1, rejecting control characters and text
// that is UTF-8 instead.
class DirectoryLines
{
public:
    DirectoryLines(std::istream& in, std::string name, bool ascii) : In(in), FileName(std::move(name)), Ascii(ascii) {}
    bool Next(std::string& line);
    size_t Number() const { return Line; }
    const std::string& Name() const { return FileName; }

private:
    std::istream& In;
    std::string FileName;
    bool Ascii;
    size_t Line = 0;
};

} // namespace orvel::rules
