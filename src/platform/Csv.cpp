#include "platform/Csv.h"

#include "platform/Codepage.h"

#include <algorithm>
#include <utility>

namespace orvel {
namespace {

// U+061C, U+200E, U+200F, U+202A to U+202E and U+2066 to U+2069, which reorder what a reader sees.
bool IsBidiControl(std::string_view Utf8)
{
    const auto at = [&Utf8](size_t i) { return i < Utf8.size() ? static_cast<unsigned char>(Utf8[i]) : 0u; };
    if (at(0) == 0xD8)
        return at(1) == 0x9C;
    if (at(0) != 0xE2)
        return false;
    return (at(1) == 0x80 && (at(2) == 0x8E || at(2) == 0x8F || (at(2) >= 0xAA && at(2) <= 0xAE))) ||
           (at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9);
}

// The length of the well-formed UTF-8 sequence at Text[i], 0 when there is none.
size_t SequenceAt(std::string_view Text, size_t i)
{
    const auto byte = static_cast<unsigned char>(Text[i]);
    const size_t length = byte < 0x80           ? 1
                          : (byte >> 5) == 0x6  ? 2
                          : (byte >> 4) == 0xE  ? 3
                          : (byte >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || (length == 2 && byte < 0xC2) || i + length > Text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(Text[i + k]) >> 6) != 0x2)
            return 0;
    return length;
}

bool IsNumber(std::string_view Cell)
{
    if (!Cell.empty() && (Cell[0] == '-' || Cell[0] == '+'))
        Cell.remove_prefix(1);
    bool digits = false, point = false;
    for (const char c : Cell) {
        if (c >= '0' && c <= '9')
            digits = true;
        else if ((c == '.' || c == ',') && !point && digits)
            point = true;
        else
            return false;
    }
    return digits && Cell.back() != '.' && Cell.back() != ',';
}

// What a record too long keeps of its text: enough to find it, well below a spreadsheet's limit for a cell.
constexpr size_t kKeptOfTooLong = 200;

} // namespace

bool ValidUtf8(std::string_view Text)
{
    for (size_t i = 0, length; i < Text.size(); i += length)
        if ((length = SequenceAt(Text, i)) == 0)
            return false;
    return true;
}

bool HasUtf8Sequence(std::string_view Text)
{
    for (size_t i = 0; i < Text.size(); ++i)
        if (static_cast<unsigned char>(Text[i]) >= 0xC2 && SequenceAt(Text, i) > 1)
            return true;
    return false;
}

char CsvSeparator(std::string_view HeaderLine)
{
    const std::string_view header = HeaderLine.substr(0, HeaderLine.find('\n'));
    return header.find(',') == std::string_view::npos && header.find(';') != std::string_view::npos ? ';' : ',';
}

std::string DecodeInput(std::string_view Bytes, bool& Windows1252)
{
    if (Bytes.starts_with("\xEF\xBB\xBF"))
        Bytes.remove_prefix(3);
    Windows1252 = !ValidUtf8(Bytes) && !HasUtf8Sequence(Bytes);
    return Windows1252 ? ToUtf8(Widen(Bytes)) : std::string(Bytes);
}

std::vector<TCsvRecord> ParseCsv(std::string_view Text)
{
    size_t consumed = 0, line = 1;
    return ParseCsv(Text, CsvSeparator(Text), false, consumed, line);
}

std::vector<TCsvRecord> ParseCsv(std::string_view Text, char Separator, bool More, size_t& Consumed, size_t& Line)
{
    const char separator = Separator;
    std::vector<TCsvRecord> records;
    size_t pos = Consumed = 0;
    size_t& line = Line;
    while (pos < Text.size()) {
        const size_t start = pos;
        const size_t startLine = line;
        TCsvRecord record{{}, startLine, {}};
        std::string field;
        bool quoted = false;
        bool ended = false;
        bool incomplete = false;
        while (!ended && record.Fault.empty()) {
            if (pos - start > kMaxRecord) {
                record.Fault = kTooLong;
                break;
            }
            if (pos == Text.size()) {
                if (More) {
                    incomplete = true;
                    break;
                }
                if (quoted)
                    record.Fault = "Anführungszeichen nicht geschlossen";
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
                        record.Fault = "Text nach dem schließenden Anführungszeichen";
                }
            } else if (c == '"' && field.empty()) {
                quoted = true;
            } else if (c == '"') {
                record.Fault = "Anführungszeichen mitten im Feld";
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
        if (incomplete) {
            line = startLine;
            return records;
        }
        if (!record.Fault.empty()) {
            // Resume after the line the record started on; a record too long ends at the first line end after the
            // limit, wherever its quotes are, so that its rest is not read as records of its own.
            const bool tooLong = record.Fault == kTooLong;
            const size_t end = Text.find('\n', tooLong ? pos : start);
            if (end == std::string_view::npos && More && Text.size() - start < kMaxRecord) {
                line = startLine;
                return records;
            }
            record.Unfinished = end == std::string_view::npos && More;
            line = startLine + 1 +
                   (tooLong ? size_t(std::count(Text.begin() + std::ptrdiff_t(start),
                                                Text.begin() + std::ptrdiff_t(pos), '\n'))
                            : 0);
            pos = end == std::string_view::npos ? Text.size() : end + 1;
            std::string_view raw = Text.substr(start, pos - start);
            if (tooLong) {
                raw = raw.substr(0, kKeptOfTooLong);
                while (!raw.empty() && (static_cast<unsigned char>(raw.back()) & 0xC0) == 0x80)
                    raw.remove_suffix(1); // not into a UTF-8 sequence
                if (!raw.empty() && static_cast<unsigned char>(raw.back()) >= 0xC0)
                    raw.remove_suffix(1);
            }
            while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r'))
                raw.remove_suffix(1);
            record.Fields = {std::string(raw) + (tooLong ? "…" : "")};
            records.push_back(std::move(record));
            Consumed = pos;
            continue;
        }
        record.Fields.push_back(std::move(field));
        Consumed = pos;
        if (record.Fields.size() == 1 && record.Fields[0].empty())
            continue; // a blank line
        records.push_back(std::move(record));
    }
    return records;
}

std::string CsvLine(const std::vector<std::string>& Fields, char Separator)
{
    std::string line;
    for (size_t i = 0; i < Fields.size(); ++i) {
        if (i > 0)
            line += Separator;
        AppendCsvField(line, Fields[i], Separator);
    }
    return line + "\r\n";
}

void AppendCsvField(std::string& Line, std::string_view Field, char Separator)
{
    // Quoted when it holds either separator, so that the file reads the same whichever a reader assumes.
    const char special[] = {',', ';', '"', '\r', '\n', Separator, '\0'};
    if (Field.find_first_of(std::string_view(special, 6)) == std::string_view::npos) {
        Line += Field;
        return;
    }
    Line += '"';
    for (size_t quote; (quote = Field.find('"')) != std::string_view::npos; Field.remove_prefix(quote + 1))
        Line.append(Field.substr(0, quote + 1)) += '"';
    Line.append(Field) += '"';
}

std::string FormulaSafe(std::string Cell)
{
    if (!Cell.empty() && std::string_view("=+-@\t\r").find(Cell[0]) != std::string_view::npos && !IsNumber(Cell))
        Cell.insert(0, 1, '\'');
    return Cell;
}

std::string PrintableLine(std::string_view Utf8)
{
    std::string flat;
    flat.reserve(Utf8.size());
    for (size_t i = 0; i < Utf8.size(); ++i) {
        const bool crLf = Utf8[i] == '\r' && i + 1 < Utf8.size() && Utf8[i + 1] == '\n';
        flat += Utf8[i] == '\r' || Utf8[i] == '\n' || Utf8[i] == '\t' ? ' ' : Utf8[i];
        i += crLf ? 1 : 0;
    }
    return Printable(flat);
}

std::string Printable(std::string_view Utf8)
{
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    if (std::none_of(Utf8.begin(), Utf8.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte < 0x20 || byte == 0x7F || byte == 0xC2 || byte == 0xD8 || byte == 0xE2;
        }))
        return std::string(Utf8);
    std::string out;
    out.reserve(Utf8.size());
    for (size_t i = 0; i < Utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(Utf8[i]);
        const bool lineBreak = c == '\t' || c == '\n' || (c == '\r' && i + 1 < Utf8.size() && Utf8[i + 1] == '\n');
        if ((c < 0x20 && !lineBreak) || c == 0x7F) {
            out += kReplacement;
        } else if (c == 0xC2 && i + 1 < Utf8.size() && static_cast<unsigned char>(Utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(Utf8[i + 1]) <= 0x9F) {
            out += kReplacement; // C1 controls such as the one-byte CSI
            ++i;
        } else if (IsBidiControl(Utf8.substr(i))) {
            out += kReplacement;
            i += c == 0xD8 ? 1 : 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace orvel
