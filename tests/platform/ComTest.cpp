#include "platform/Com.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

TEST(ComTest, VariantsConvertAsArgumentsDo)
{
    struct Case
    {
        Variant Source;
        VarType Type;
        HRESULT Expected;
        Variant Result;
    } cases[] = {
        {WideString(u" -42 "), VarType::Int32, S_OK, int32_t(-42)},
        {WideString(u"+7"), VarType::Int32, S_OK, int32_t(7)},
        {WideString(u"2.5"), VarType::Int32, S_OK, int32_t(2)},
        {WideString(u"3.5"), VarType::Int32, S_OK, int32_t(4)},
        {WideString(u"2147483647"), VarType::Int32, S_OK, int32_t(2147483647)},
        {WideString(u"2147483648"), VarType::Int32, DISP_E_OVERFLOW, {}},
        {WideString(u"1e3"), VarType::Int32, DISP_E_TYPEMISMATCH, {}},
        {WideString(u"0x10"), VarType::Int32, DISP_E_TYPEMISMATCH, {}},
        {WideString(u"zehn"), VarType::Int32, DISP_E_TYPEMISMATCH, {}},
        {WideString(u"  "), VarType::Int32, DISP_E_TYPEMISMATCH, {}},
        {WideString(u"\u0663"), VarType::Int32, DISP_E_TYPEMISMATCH, {}},
        {Variant(), VarType::Int32, S_OK, int32_t(0)},
        {true, VarType::Int32, S_OK, int32_t(-1)},
        {-0.5, VarType::Int32, S_OK, int32_t(0)},
        {1e300, VarType::Int32, DISP_E_OVERFLOW, {}},
        {int32_t(-5), VarType::Text, S_OK, WideString(u"-5")},
        {0.25, VarType::Text, S_OK, WideString(u"0.25")},
        {false, VarType::Text, S_OK, WideString(u"0")},
        {Variant(), VarType::Text, S_OK, WideString()},
        {WideString(u"x"), VarType::Double, DISP_E_TYPEMISMATCH, {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Variant result;
        EXPECT_EQ(VariantChangeType(result, cases[i].Source, cases[i].Type), cases[i].Expected) << "case " << i;
        if (!Failed(cases[i].Expected)) {
            EXPECT_EQ(result, cases[i].Result) << "case " << i;
        }
    }
}

TEST(ComTest, CodesHaveNamesForBusErrors)
{
    EXPECT_EQ(HResultName(E_UNEXPECTED), "E_UNEXPECTED");
    EXPECT_EQ(HResultName(DISP_E_PARAMNOTOPTIONAL), "DISP_E_PARAMNOTOPTIONAL");
    EXPECT_EQ(HResultName(HRESULT(0x80070005)), "HRESULT_80070005");
}

} // namespace
} // namespace orvel
