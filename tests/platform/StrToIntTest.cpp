#include "platform/StrToInt.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

struct IntCase
{
    const char* Text;
    int32_t Expected;
};

class StrToIntCases : public testing::TestWithParam<IntCase>
{
};

TEST_P(StrToIntCases, ReadsOrFallsBack)
{
    EXPECT_EQ(StrToIntDef(GetParam().Text, -300), GetParam().Expected) << '"' << GetParam().Text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, StrToIntCases,
                         testing::Values(IntCase{"0", 0}, IntCase{"-1", -1}, IntCase{"+42", 42},
                                         IntCase{"   7", 7}, IntCase{"$1F", 31}, IntCase{"0x1f", 31},
                                         IntCase{"0X10", 16}, IntCase{"-$10", -16}, IntCase{"$FFFFFFFF", -1},
                                         IntCase{"2147483647", 2147483647},
                                         IntCase{"-2147483648", int32_t(-2147483647 - 1)},
                                         IntCase{"2147483648", -300}, IntCase{"$100000000", -300},
                                         IntCase{"", -300}, IntCase{"   ", -300}, IntCase{"-", -300},
                                         IntCase{"abc", -300}, IntCase{"12a", -300}, IntCase{"7 ", -300},
                                         IntCase{"--1", -300}, IntCase{"\t5", -300}, IntCase{"$", -300},
                                         IntCase{"0x", -300}, IntCase{"1.5", -300}));

} // namespace
} // namespace orvel
