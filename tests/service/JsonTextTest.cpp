#include "service/Api.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

namespace orvel::service {
namespace {

// The answers written by hand must read exactly as the ones nlohmann writes, broken UTF-8 and control characters too.
TEST(JsonText, StringsAreWrittenAsNlohmannWritesThem)
{
    const std::string cases[] = {
        "",
        "Commerzbank Köln",
        "quote \" backslash \\ slash /",
        std::string("\b\f\n\r\t\x01\x1f\x7f nul:") + '\0' + "end",
        "€ 𝄞 \xc2\xa0",                                   // three- and four-byte characters, no-break space
        "cut at the end \xe2\x82",                        // an incomplete character at the end
        "stray \x80 continuation",                        // a continuation byte without a start
        "overlong \xc0\xaf and \xe0\x80\xaf",             // overlong forms
        "surrogate \xed\xa0\x80 here",                    // UTF-16 surrogates are no characters
        "beyond \xf4\x90\x80\x80 U+10FFFF",               // beyond the last code point
        "cut \xe2\x82 then A and \xf0\x9f\x98 then \xc3", // cut sequences followed by more text
        "Latin-1 M\xfcnchen",                             // Windows-1252 where UTF-8 belongs
    };
    for (const std::string& text : cases) {
        std::string written;
        AppendJsonString(written, text);
        EXPECT_EQ(written, nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) << text;
        EXPECT_FALSE(nlohmann::json::parse(written, nullptr, false).is_discarded()) << written;
    }
}

TEST(JsonText, AppendsToWhatIsThere)
{
    std::string written = "{\"a\":";
    AppendJsonString(written, "x\ny");
    EXPECT_EQ(written, "{\"a\":\"x\\ny\"");
}

} // namespace
} // namespace orvel::service
