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

TEST(Text, SameTextIgnoresCaseOfUmlautsToo)
{
    EXPECT_TRUE(SameText("M\xDCLLER", "m\xFCller"));
    EXPECT_TRUE(SameText("Proxy.Example", "proxy.example"));
    EXPECT_FALSE(SameText("bob", "bobby"));
    EXPECT_FALSE(SameText("a", "b"));
}

} // namespace
} // namespace orvel
