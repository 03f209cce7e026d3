#include "rules/DirectoryText.h"

#include <istream>
#include <regex>

namespace orvel::rules {

std::time_t CivilDate(int year, int month, int day)
{
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31)
        return -1;
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    const std::time_t time = timegm(&date);
    // timegm carries 31.02. over into March; a real day comes back unchanged.
    return date.tm_mday == day && date.tm_mon == month - 1 ? time : -1;
}

std::time_t ParseGermanDate(std::string_view text)
{
    static const std::regex german(R"((\d{2})\.(\d{2})\.(\d{4}))");
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_match(text.begin(), text.end(), match, german))
        return -1;
    return CivilDate(std::stoi(match[3]), std::stoi(match[2]), std::stoi(match[1]));
}

std::vector<std::string> SplitCsv(std::string_view line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"' && (quoted || fields.back().empty()))
            quoted = !quoted;
        else if (c == ';' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

void BadDirectoryLine(const std::string& name, size_t line, const std::string& what)
{
    throw std::runtime_error(name + ":" + std::to_string(line) + ": " + what);
}

CsvHeader::CsvHeader(const std::vector<std::string>& fields, const std::vector<std::string_view>& required,
                     const std::string& name, size_t line)
    : Count(fields.size())
{
    for (size_t i = 0; i < fields.size(); ++i)
        if (!fields[i].empty() && !Columns.emplace(fields[i], i).second)
            BadDirectoryLine(name, line, "column \"" + fields[i] + "\" appears twice");
    for (const std::string_view column : required)
        if (!Columns.contains(column))
            BadDirectoryLine(name, line, "no column \"" + std::string(column) + "\" in the header");
}

const std::string& CsvHeader::Of(const std::vector<std::string>& row, std::string_view column) const
{
    return row[Columns.find(column)->second];
}

std::time_t DateLine(const std::string& line, std::string_view prefix, const DirectoryLines& lines)
{
    const std::string date = SplitCsv(std::string_view(line).substr(prefix.size())).front();
    const std::time_t valid = ParseGermanDate(date);
    if (valid < 0)
        BadDirectoryLine(lines.Name(), lines.Number(), "no valid date \"" + date + "\"");
    return valid;
}

std::ifstream OpenDirectoryFile(const std::string& path, const std::string& what)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + what + " " + path);
    return in;
}

bool DirectoryLines::Next(std::string& line)
{
    if (!std::getline(In, line))
        return false;
    ++Line;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    for (size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 && c != '\t')
            BadDirectoryLine(FileName, Line, "control character in the text");
        if (Ascii && c >= 0x7F)
            BadDirectoryLine(FileName, Line, "not ASCII text");
        // ISO-8859-1 has no printable 0x7F-0x9F; a lead byte with its continuation is UTF-8 ("ä" as "Ã¤").
        if (c >= 0x7F && c <= 0x9F)
            BadDirectoryLine(FileName, Line, "not ISO-8859-1 text");
        if (c >= 0xC2 && c <= 0xDF && i + 1 < line.size() && (static_cast<unsigned char>(line[i + 1]) & 0xC0) == 0x80)
            BadDirectoryLine(FileName, Line, "UTF-8 text where ISO-8859-1 is expected");
    }
    return true;
}

} // namespace orvel::rules
