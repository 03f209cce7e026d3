#pragma once
// What the official directories' text files share: ';'-separated rows with a header read by column name, dates as
// "DD.MM.YYYY", and an encoding each file must keep to. Errors name the file and line.

#include <algorithm>
#include <ctime>
#include <fstream>
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

class DirectoryLines;
// The date "DD.MM.YYYY" that follows prefix on the line just read (';' after it ignored); refused naming the line.
std::time_t DateLine(const std::string& line, std::string_view prefix, const DirectoryLines& lines);

// The file opened for reading; throws naming what it should be ("the SCL directory") and the path.
std::ifstream OpenDirectoryFile(const std::string& path, const std::string& what);

// The rows below the header: blank lines skipped, each row of the header's width made by read(fields), then sorted by
// less (file order on ties). clash(before, row) names why row may not follow before in that order, and the refusal
// names row's line; a file without rows is refused with none.
template <class Row, class Read, class Less, class Clash>
std::vector<Row> ReadRows(DirectoryLines& lines, const CsvHeader& header, Read read, Less less, Clash clash,
                          const std::string& none)
{
    std::vector<std::pair<Row, size_t>> rows;
    for (std::string line; lines.Next(line);) {
        if (line.find_first_not_of(';') == std::string::npos)
            continue;
        const std::vector<std::string> fields = SplitCsv(line);
        if (fields.size() != header.Width())
            BadDirectoryLine(lines.Name(), lines.Number(),
                             std::to_string(header.Width()) + " fields expected, " + std::to_string(fields.size()) +
                                 " found");
        rows.emplace_back(read(fields, lines.Number()), lines.Number());
    }
    if (rows.empty())
        BadDirectoryLine(lines.Name(), lines.Number(), none);
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return less(a.first, b.first); });
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (auto& [row, line] : rows) {
        if (!sorted.empty())
            if (const std::string why = clash(sorted.back(), row); !why.empty())
                BadDirectoryLine(lines.Name(), line, why);
        sorted.push_back(std::move(row));
    }
    return sorted;
}

} // namespace orvel::rules
