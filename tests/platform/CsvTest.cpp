#include "platform/Csv.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

using Fields = std::vector<std::string>;

TEST(CsvTest, RecordsAsRfc4180HasThem)
{
    struct Case
    {
        std::string Text;
        std::vector<Fields> Records;
    };
    const std::vector<Case> cases = {
        {"a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}},
        {"a,b\n1,2", {{"a", "b"}, {"1", "2"}}},                     // LF, no line end at the end
        {"a,b\n\n1,\n", {{"a", "b"}, {"1", ""}}},                   // a blank line, an empty field
        {"a\n\"x, \"\"y\"\"\r\nz\"\n", {{"a"}, {"x, \"y\"\r\nz"}}}, // quotes, separator and line end
        {"a;b\n1;\"2;3\"\n", {{"a", "b"}, {"1", "2;3"}}},           // semicolons when the header has them
        {"a;b,c\n1;2,3\n", {{"a;b", "c"}, {"1;2", "3"}}},           // commas win
    };
    for (const Case& c : cases) {
        std::vector<Fields> records;
        for (const TCsvRecord& record : ParseCsv(c.Text)) {
            EXPECT_EQ(record.Fault, "") << c.Text;
            records.push_back(record.Fields);
        }
        EXPECT_EQ(records, c.Records) << c.Text;
    }
}

TEST(CsvTest, AFaultEndsItsRecordAtTheLineEndAndTheNextIsRead)
{
    const std::vector<TCsvRecord> records = ParseCsv("a,b\n\"x\"y,1\nc,\"open\nd,e\n");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].Fault, "Text nach dem schließenden Anführungszeichen");
    EXPECT_EQ(records[1].Fields, Fields{"\"x\"y,1"});
    EXPECT_EQ(records[1].Line, 2u);
    EXPECT_EQ(records[2].Fault, "Anführungszeichen nicht geschlossen");
    EXPECT_EQ(records[2].Line, 3u);
    EXPECT_EQ(records[3].Fields, (Fields{"d", "e"}));
    EXPECT_EQ(records[3].Line, 4u);
}

TEST(CsvTest, ARecordLongerThanTheLimitIsOneFaultEvenWhenItsLineGoesOn)
{
    const std::string longField(kMaxRecord + 10, 'x');
    struct Case
    {
        std::string Text;
        bool More;
        size_t Records;  // the long one among them
        bool Unfinished; // its line goes on beyond the text
        size_t NextLine; // the line of the record after it
    };
    const Case cases[] = {
        {"a\n" + longField + ",1\nb\n", false, 3, false, 3},
        {"a\n" + longField + ",1\nb\n", true, 3, false, 3},
        {"a\n" + longField, true, 2, true, 3},
        {"a\n\"" + std::string(kMaxRecord / 2, 'x') + "\n" + longField + "\"\nb\n", false, 3, false, 4},
    };
    for (const Case& c : cases) {
        size_t consumed = 0, line = 1;
        const std::vector<TCsvRecord> records = ParseCsv(c.Text, ',', c.More, consumed, line);
        ASSERT_EQ(records.size(), c.Records);
        EXPECT_EQ(records[1].Fault, kTooLong);
        EXPECT_EQ(records[1].Line, 2u);
        EXPECT_EQ(records[1].Fields.at(0).size(), 200 + std::string_view("…").size());
        EXPECT_EQ(records[1].Unfinished, c.Unfinished);
        if (records.size() > 2) {
            EXPECT_EQ(records[2].Fields, Fields{"b"});
            EXPECT_EQ(records[2].Line, c.NextLine);
        } else {
            EXPECT_EQ(line, c.NextLine);
            EXPECT_EQ(consumed, c.Text.size());
        }
    }
}

TEST(CsvTest, ARecordsLineIsWhereItStartsHoweverItsTextArrives)
{
    // Quoted line breaks (LF and CR LF), a fault after them and a blank line: each record keeps the line it starts on,
    // whether the text is read whole or as a stream in pieces of any size.
    const std::string text = "h,note\n"
                             "1,\"a\nb\nc\"\n"
                             "2,\"d\r\ne\"\r\n"
                             "\"x\ny\"z,3\n"
                             "4,f\n"
                             "\n"
                             "5,\"g\n\nh\"\n"
                             "6,i";
    const std::vector<std::pair<size_t, std::string>> expected = {
        {1, "h"}, {2, "1"}, {5, "2"}, {7, "\"x"}, {8, "y\""}, {9, "4"}, {11, "5"}, {14, "6"}};
    for (size_t piece = 1; piece <= text.size(); ++piece) {
        std::string buffer;
        size_t offered = 0, consumed = 0, line = 1;
        std::vector<std::pair<size_t, std::string>> got;
        while (offered < text.size() || !buffer.empty()) {
            buffer += text.substr(offered, piece);
            offered = std::min(text.size(), offered + piece);
            const bool more = offered < text.size();
            for (const TCsvRecord& record : ParseCsv(buffer, ',', more, consumed, line))
                got.emplace_back(record.Line, record.Fields.at(0).substr(0, record.Fault.empty() ? 1 : 2));
            buffer.erase(0, consumed);
            if (!more && consumed == 0)
                break;
        }
        EXPECT_EQ(got, expected) << "pieces of " << piece;
    }
}

TEST(CsvTest, WrittenRecordsReadBack)
{
    const Fields fields{"plain", "with,comma", "with \"quotes\"", "two\r\nlines", "", "Köln"};
    EXPECT_EQ(CsvLine(fields), "plain,\"with,comma\",\"with \"\"quotes\"\"\",\"two\r\nlines\",,Köln\r\n");
    EXPECT_EQ(ParseCsv("h,h,h,h,h,h\r\n" + CsvLine(fields)).at(1).Fields, fields);
}

TEST(CsvTest, InputThatIsNotUtf8IsWindows1252)
{
    bool windows1252 = true;
    EXPECT_EQ(DecodeInput("\xEF\xBB\xBFK\xC3\xB6ln", windows1252), "Köln");
    EXPECT_FALSE(windows1252);
    EXPECT_EQ(DecodeInput("K\xF6ln \x80", windows1252), "Köln €");
    EXPECT_TRUE(windows1252);
    EXPECT_EQ(DecodeInput("\xC3\x28", windows1252), "Ã(");
    EXPECT_TRUE(windows1252);
}

} // namespace
} // namespace orvel
