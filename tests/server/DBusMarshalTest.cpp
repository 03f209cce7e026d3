#include "server/DBusMarshal.h"

#include <QDBusObjectPath>
#include <QDBusVariant>

#include <gtest/gtest.h>

#include <limits>

namespace orvel::dbus {
namespace {

using namespace Qt::StringLiterals;

QVariant Boxed(const QVariant& Value)
{
    return QVariant::fromValue(QDBusVariant(Value));
}

TEST(DBusMarshalTest, ResultsKeepTheirType)
{
    struct Case
    {
        const char* Label;
        Variant In;
        QVariant Expected;
    } cases[] = {
        {"empty is empty text", Variant(), QVariant(QString())},
        {"bool", true, QVariant(true)},
        {"long", int32_t(-7), QVariant(-7)},
        {"double", 2.5, QVariant(2.5)},
        {"numeric text stays text", WideString(u"42"), QVariant(u"42"_s)},
        {"umlauts", WideString(u"Gr\u00fc\u00dfe"), QVariant(u"Gr\u00fc\u00dfe"_s)},
        {"surrogate pair kept", WideString(u"\U0001F600"), QVariant(u"\U0001F600"_s)},
    };
    for (const Case& c : cases) {
        const QVariant out = ToDBus(c.In);
        EXPECT_EQ(out.metaType(), c.Expected.metaType()) << c.Label;
        EXPECT_EQ(out, c.Expected) << c.Label;
    }
}

TEST(DBusMarshalTest, ArgumentsAsTheRuntimeTakesThem)
{
    constexpr auto kMax = std::numeric_limits<int32_t>::max();
    struct Case
    {
        const char* Label;
        QVariant In;
        std::optional<Variant> Expected;
    } cases[] = {
        {"bool", QVariant(true), Variant(true)},
        {"byte", QVariant::fromValue(uchar(200)), Variant(int32_t(200))},
        {"int16", QVariant::fromValue(short(-3)), Variant(int32_t(-3))},
        {"int32", QVariant(kMax), Variant(kMax)},
        {"uint32 in range", QVariant::fromValue(uint(kMax)), Variant(kMax)},
        {"uint32 beyond a long", QVariant::fromValue(uint(kMax) + 1), Variant(double(kMax) + 1)},
        {"int64 in range", QVariant::fromValue(qlonglong(-5)), Variant(int32_t(-5))},
        {"int64 beyond a long", QVariant::fromValue(qlonglong(1) << 40), Variant(double(qlonglong(1) << 40))},
        {"double", QVariant(1.5), Variant(1.5)},
        {"numeric text stays text", QVariant(u"42"_s), Variant(WideString(u"42"))},
        {"text", QVariant(u"M\u00fcller"_s), Variant(WideString(u"M\u00fcller"))},
        {"empty text", QVariant(QString()), Variant(WideString())},
        {"variant in a variant", Boxed(Boxed(QVariant(7))), Variant(int32_t(7))},
        {"empty array", QVariant(QStringList()), std::nullopt},
        {"empty list", QVariant(QVariantList()), std::nullopt},
        {"object path", QVariant::fromValue(QDBusObjectPath(u"/x"_s)), std::nullopt},
        {"invalid", QVariant(), std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<Variant> out = FromDBus(c.In);
        ASSERT_EQ(out.has_value(), c.Expected.has_value()) << c.Label;
        if (out) {
            EXPECT_TRUE(*out == *c.Expected) << c.Label;
        }
    }
}

TEST(DBusMarshalTest, ArrayElementsAndTypedArguments)
{
    EXPECT_TRUE(ArrayElements(QVariant(QVariantList())).isEmpty());
    const QVariantList elements = ArrayElements(QVariant(QVariantList{Boxed(QVariant(1)), QVariant(u"x"_s)}));
    ASSERT_EQ(elements.size(), 2);
    EXPECT_TRUE(FromDBus(elements[0]) == Variant(int32_t(1)));

    EXPECT_TRUE(FromTyped(QVariant(5), VarType::Int32) == Variant(int32_t(5)));
    EXPECT_TRUE(FromTyped(QVariant(u"5"_s), VarType::Text) == Variant(WideString(u"5")));
}

TEST(DBusMarshalTest, InvalidUtf8FromTheTableBecomesReplacementCharacters)
{
    EXPECT_EQ(ToQString("a\xff"
                        "b"),
              u"a\uFFFDb"_s);
    EXPECT_EQ(ToQString(std::string_view()), QString());
}

} // namespace
} // namespace orvel::dbus
