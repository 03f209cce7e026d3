#include "wddx/WddxCheckObject.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(QueryValue, EncodeKeepsOnlyLettersAndDigits)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b", "a+b"},
        {"50%", "50%25"},
        {"M\xFCller & S\xF6hne", "M%FCller+%26+S%F6hne"},
        {"B\xE4" "ckerei Nord", "B%E4ckerei+Nord"},
        {"-._/~", "%2D%2E%5F%2F%7E"},
        {"AZaz09", "AZaz09"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(TWddxCheckObject::EncodeQueryValue(value), expected) << value;
}

TEST(QueryValue, RawKeepsVisibleAsciiAndEncodesWhatBreaksTheRequestLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"user&x=1", "user&x=1"},
        {"10 20", "10%2020"},
        {"a\r\nb\t", "a%0D%0Ab%09"},
        {"\xFC\x7F", "%FC%7F"},
        {"pa#ss", "pa%23ss"},
        {"+%/?=;", "+%/?=;"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(TWddxCheckObject::RawQueryValue(value), expected) << value;
}

} // namespace
} // namespace orvel
