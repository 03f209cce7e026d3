#include "cli/Csv.h"

#include "platform/Codepage.h"

#include <utility>

namespace orvel::cli {
namespace {

bool ValidUtf8(std::string_view Text)
{
    size_t i = 0;
    while (i < Text.size()) {
        const auto byte = static_cast<unsigned char>(Text[i]);
        const size_t length = byte < 0x80           ? 1
                              : (byte >> 5) == 0x6  ? 2
                              : (byte >> 4) == 0xE  ? 3
                              : (byte >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || (length == 2 && byte < 0xC2) || i + length > Text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(Text[i + k]) >> 6) != 0x2)
                return false;
        i += length;
    }
    return true;
}

char Separator(std::string_view Text)
{
    const std::string_view header = Text.substr(0, Text.find('\n'));
    return header.find(',') == std::string_view::npos && header.find(';') != std::string_view::npos ? ';' : ',';
}

} // namespace

std::string DecodeInput(std::string_view Bytes, bool& Windows1252)
{
    if (Bytes.starts_with("\xEF\xBB\xBF"))
        Bytes.remove_prefix(3);
    Windows1252 = !ValidUtf8(Bytes);
    return Windows1252 ? ToUtf8(Widen(Bytes)) : std::string(Bytes);
}

std::vector<TCsvRecord> ParseCsv(std::string_view Text)
{
    const char separator = Separator(Text);
    std::vector<TCsvRecord> records;
    size_t pos = 0;
    size_t line = 1;
    while (pos < Text.size()) {
        const size_t start = pos;
        const size_t startLine = line;
        TCsvRecord record{{}, startLine, {}};
        std::string field;
        bool quoted = false;
        bool ended = false;
        while (!ended && record.Fault.empty()) {
            if (pos == Text.size()) {
                if (quoted)
                    record.Fault = "a quoted field is not closed";
                ended = true;
                break;
            }
            const char c = Text[pos++];
            if (quoted) {
                if (c == '\n')
                    ++line;
                if (c != '"') {
                    field += c;
                } else if (pos < Text.size() && Text[pos] == '"') {
                    field += '"';
                    ++pos;
                } else {
                    quoted = false;
                    if (pos < Text.size() && Text[pos] != separator && Text[pos] != '\r' && Text[pos] != '\n')
                        record.Fault = "text after a closing quote";
                }
            } else if (c == '"' && field.empty()) {
                quoted = true;
            } else if (c == '"') {
                record.Fault = "a quote inside an unquoted field";
            } else if (c == separator) {
                record.Fields.push_back(std::exchange(field, {}));
            } else if (c == '\r' && pos < Text.size() && Text[pos] == '\n') {
                continue;
            } else if (c == '\n') {
                ++line;
                ended = true;
            } else {
                field += c;
            }
        }
        if (!record.Fault.empty()) {
            // Resume after the line the record started on.
            const size_t end = Text.find('\n', start);
            pos = end == std::string_view::npos ? Text.size() : end + 1;
            line = startLine + 1;
            std::string_view raw = Text.substr(start, pos - start);
            while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
                raw.remove_suffix(1);
            record.Fields = {std::string(raw)};
            records.push_back(std::move(record));
            continue;
        }
        record.Fields.push_back(std::move(field));
        if (record.Fields.size() == 1 && record.Fields[0].empty())
            continue; // a blank line
        records.push_back(std::move(record));
    }
    return records;
}

std::string CsvLine(const std::vector<std::string>& Fields)
{
    std::string line;
    for (size_t i = 0; i < Fields.size(); ++i) {
        if (i > 0)
            line += ',';
        const std::string& field = Fields[i];
        if (field.find_first_of(",;\"\r\n") == std::string::npos) {
            line += field;
            continue;
        }
        line += '"';
        for (const char c : field) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    }
    return line + "\r\n";
}

} // namespace orvel::cli
