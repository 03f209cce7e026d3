#include "wddx/WddxValue.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "support/GermanLocale.h"

#include <gtest/gtest.h>

#include <optional>

namespace orvel {
namespace {

const TWddxValue kThree = TWddxValue::FromArray({u"A", u"B", u"C"});

TEST(WddxValue, ListPropertiesReadElementsAndJoinThem)
{
    EXPECT_EQ(ListElement(kThree, 0), u"3");
    EXPECT_EQ(ListElement(kThree, 3), u"C");
    EXPECT_EQ(ListElement(kThree, 4), u"");
    EXPECT_EQ(ListElement(kThree, -1), u"");
    EXPECT_EQ(ListString(kThree), u"3~A~B~C");
    EXPECT_EQ(ListString(TWddxValue::FromArray({})), u"0");

    for (const TWddxValue& notAList : {TWddxValue(), TWddxValue::FromText(u"2"), TWddxValue::FromNumber(2)}) {
        EXPECT_EQ(ListElement(notAList, 0), u"");
        EXPECT_EQ(ListString(notAList), u"0");
    }
    try {
        TWddxValue::FromText(u"x").Element(0);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), Ansi("Ungültiges Argument"));
    }
}

TEST(WddxValue, TextOfEachKind)
{
    EXPECT_EQ(TWddxValue().AsText(), u"");
    EXPECT_EQ(TWddxValue::FromText(u"Köln").AsText(), u"Köln");
    EXPECT_EQ(TWddxValue::FromNumber(4).AsText(), u"4");
    EXPECT_EQ(TWddxValue::FromNumber(-4.5).AsText(), u"-4.5");
    EXPECT_EQ(TWddxValue::FromNumber(0.1 + 0.2).AsText(), u"0.3");
    EXPECT_THROW(kThree.AsText(), Error);
}

struct IntegerCase
{
    TWddxValue Value;
    std::optional<int32_t> Expected; // none: the conversion fails
};

void ExpectIntegers(const std::vector<IntegerCase>& cases)
{
    for (const auto& c : cases) {
        const std::string label = ToUtf8(c.Value.IsArray() ? u"array" : c.Value.AsText());
        if (c.Expected) {
            EXPECT_EQ(c.Value.AsInteger(), *c.Expected) << label;
            continue;
        }
        try {
            c.Value.AsInteger();
            ADD_FAILURE() << label << ": no error";
        } catch (const Error& error) {
            EXPECT_FALSE(std::string(error.what()).empty());
        }
    }
}

TEST(WddxValue, IntegerAsAnAutomationVariantConvertsIt)
{
    ExpectIntegers({
        {TWddxValue(), 0},
        {TWddxValue::FromNumber(4), 4},
        {TWddxValue::FromNumber(2.5), 2},
        {TWddxValue::FromNumber(3.5), 4},
        {TWddxValue::FromNumber(-2.5), -2},
        {TWddxValue::FromNumber(2147483647.4), 2147483647},
        {TWddxValue::FromNumber(2147483648.0), std::nullopt},
        {TWddxValue::FromText(u"4"), 4},
        {TWddxValue::FromText(u" -17 "), -17},
        {TWddxValue::FromText(u"+3"), 3},
        {TWddxValue::FromText(u"4.5"), 4},
        {TWddxValue::FromText(u"1e3"), 1000},
        {TWddxValue::FromText(u"abc"), std::nullopt},
        {TWddxValue::FromText(u""), std::nullopt},
        {TWddxValue::FromText(u"4,5"), std::nullopt},
        {TWddxValue::FromText(u"99999999999"), std::nullopt},
        {kThree, std::nullopt},
    });
    try {
        TWddxValue::FromText(u"abc").AsInteger();
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), Ansi("Der Wert 'abc' lässt sich nicht in eine Ganzzahl umwandeln"));
    }
}

TEST(WddxValue, IntegerFromTextFollowsTheLocale)
{
    test::GermanNumeric german;
    if (!german.Active)
        GTEST_SKIP() << "no German locale available";
    ExpectIntegers({
        {TWddxValue::FromText(u"4,5"), 4},
        {TWddxValue::FromText(u"5,5"), 6},
        {TWddxValue::FromText(u"1.234"), 1234},
        {TWddxValue::FromText(u"-1.234,6"), -1235},
        {TWddxValue::FromText(u"7"), 7},
        {TWddxValue::FromText(u",5"), 0},
        {TWddxValue::FromText(u"1,2,3"), std::nullopt},
    });
    EXPECT_EQ(TWddxValue::FromNumber(4.5).AsText(), u"4.5");
}

} // namespace
} // namespace orvel
