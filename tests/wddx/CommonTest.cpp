#include "wddx/Common.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

struct VarCase
{
    std::string Packet;
    std::string Name;
    std::string Expected;
};

class GetWddxVarCases : public testing::TestWithParam<VarCase>
{
};

TEST_P(GetWddxVarCases, FindsTheStringVariable)
{
    EXPECT_EQ(GetWddxVar(GetParam().Packet, GetParam().Name), GetParam().Expected) << GetParam().Packet;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetWddxVarCases,
    testing::Values(
        VarCase{"<wddxPacket version='1.0'><data><struct></struct></data></wddxPacket>", "result", ""},
        VarCase{"<var name='result'><number>0</number></var>", "result", ""},
        VarCase{"<VAR NAME='RESULT'><STRING>0</STRING></VAR>", "result", "0"},
        VarCase{"<var name='result'><string>0</string></var>", "result", "0"},
        VarCase{"<var name=\"result\"><string>0</string></var>", "result", ""},
        VarCase{"<var name='result'> <string>0</string></var>", "result", ""},
        VarCase{"<var name='result'><string></string></var>", "result", ""},
        VarCase{"<var name='result'><string/></var>", "result", ""},
        VarCase{"<var name='bankname'><string>Sparkasse</string></var>", "bankname", "Sparkasse"},
        VarCase{"<var name='bankname'><string>Sparkasse K&ouml;ln", "bankname", "Sparkasse K\xF6ln"},
        VarCase{"<var name='x'><string>first</string><var name='x'><string>second</string>", "x", "first"},
        VarCase{"<var name='bicname'><string>Bank</string><var name='bic'><string>DEUTDEFF</string>", "bic",
                "DEUTDEFF"},
        VarCase{"<var name='resulttext'><string>ok</string>", "result", ""},
        VarCase{"<var name='ort'><string>M&uuml;nchen</string>", "ORT", "M\xFCnchen"},
        VarCase{"<var name='t'><string>B\xE4r &quot;&#228;</string>", "t", "B\xE4r &quot;&#228;"}));

struct DecodeCase
{
    std::string Text;
    std::string Expected;
};

class DecodeEntitiesCases : public testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeEntitiesCases, DecodesStepByStep)
{
    EXPECT_EQ(DecodeEntities(GetParam().Text), GetParam().Expected) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeEntitiesCases,
                         testing::Values(DecodeCase{"", ""}, DecodeCase{"M&uuml;nchen", "M\xFCnchen"},
                                         DecodeCase{"&Auml;&Ouml;&Uuml;&auml;&ouml;&uuml;&szlig;",
                                                    "\xC4\xD6\xDC\xE4\xF6\xFC\xDF"},
                                         DecodeCase{"&AUML;", "&AUML;"}, DecodeCase{"&amp;lt;", "<"},
                                         DecodeCase{"&amp;gt;", ">"}, DecodeCase{"&amp;amp;", "&amp;"},
                                         DecodeCase{"&amp;auml;", "&auml;"}, DecodeCase{"a &lt; b &gt; c", "a < b > c"},
                                         DecodeCase{"&quot;&apos;&#228;", "&quot;&apos;&#228;"},
                                         DecodeCase{"&&amp;", "&&"}));

} // namespace
} // namespace orvel
