#include "platform/Codepage.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(Codepage, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(char(b));
    const WideString wide = Widen(all);
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(Narrow(wide), all);
}

TEST(Codepage, MapsTheWindowsCharactersAndKeepsUndefinedBytesAsC1)
{
    EXPECT_EQ(Widen("\x80\x81\x8A\x9F\xE4\xDF"), (WideString{0x20AC, 0x0081, 0x0160, 0x0178, 0x00E4, 0x00DF}));
    EXPECT_EQ(Narrow(u"\u20AC\u201E\u0153"), "\x80\x84\x9C");
}

TEST(Codepage, NarrowsForeignCharactersToOneQuestionMarkEach)
{
    EXPECT_EQ(Narrow(u"Καλη\U0001F600x"), "?????x");
}

TEST(Codepage, Utf8RoundTrip)
{
    const WideString text = u"Zeitüberschreitung €  Ελλάδα \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(u"ä"), "\xC3\xA4");
    EXPECT_EQ(Ansi("Müller"), "M\xFCller");
}

TEST(Codepage, Utf8FormsThatAreNoCharacterBecomeOneReplacementEach)
{
    struct Case
    {
        const char* What;
        std::string_view Utf8;
        const char* Ansi;
    };
    const Case cases[] = {
        {"overlong slash, two bytes", "a\xC0\xAFz", "a?z"},
        {"overlong slash, three bytes", "a\xE0\x80\xAFz", "a?z"},
        {"overlong NUL, two bytes", std::string_view("a\xC0\x80z", 4), "a?z"},
        {"overlong euro sign, four bytes", "a\xF0\x82\x82\xACz", "a?z"},
        {"high surrogate", "a\xED\xA0\x80z", "a?z"},
        {"low surrogate", "a\xED\xBF\xBFz", "a?z"},
        {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80", "??"},
        {"U+110000", "a\xF4\x90\x80\x80z", "a?z"},
        {"largest four-byte form", "\xF7\xBF\xBF\xBF", "?"},
        {"last character U+10FFFF stays one", "\xF4\x8F\xBF\xBF", "?"},
        {"shortest forms pass", "\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xC3\xA4", "???\xE4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(Ansi(c.Utf8), c.Ansi);
    }
    EXPECT_EQ(FromUtf8("\xC0\xAF"), WideString(u"\uFFFD"));
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), WideString(u"\uFFFD"));
    EXPECT_EQ(FromUtf8("\xF4\x8F\xBF\xBF"), WideString(u"\U0010FFFF"));
    EXPECT_EQ(FromUtf8("\xE0\xA0\x80"), WideString(u"\u0800"));
}

TEST(Text, SameTextIgnoresCaseOfUmlautsToo)
{
    EXPECT_TRUE(SameText("M\xDCLLER", "m\xFCller"));
    EXPECT_TRUE(SameText("Proxy.Example", "proxy.example"));
    EXPECT_FALSE(SameText("bob", "bobby"));
    EXPECT_FALSE(SameText("a", "b"));
}

} // namespace
} // namespace orvel
