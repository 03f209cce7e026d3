#include "rules/CheckTable.h"

#include <gtest/gtest.h>

#include <set>

namespace orvel::rules {
namespace {

struct Data
{
    BankDirectory Banks = BankDirectory::Load(DefaultBankFile());
    TarvikChecks Checks{Banks, std::time(nullptr)};
    PostalData Postal = PostalData::Load(DefaultPostalDataPath());
};

const Data& Loaded()
{
    static const Data data;
    return data;
}

// The wires index an answer by its row's fields: every row answers each of them, whatever it is given, and the
// result code and its text come first.
TEST(CheckTable, EveryRowAnswersOneValuePerField)
{
    for (const CheckRow& row : CheckTable())
        for (const std::optional<std::string>& given : {std::optional<std::string>(), std::optional<std::string>("1")})
            for (const bool details : {false, true}) {
                SCOPED_TRACE(std::string(row.Name) + (given ? " given 1" : " given nothing") +
                             (details ? " with details" : ""));
                const std::vector<std::optional<std::string>> inputs(row.Params.size(), given);
                const CheckAnswer answer = row.Run({&Loaded().Checks, &Loaded().Postal, details}, inputs);
                ASSERT_EQ(answer.Values.size(), row.Fields.size());
                EXPECT_EQ(row.Fields[0].Json, "result");
                EXPECT_EQ(row.Fields[1].Json, "result_text");
                EXPECT_FALSE(answer.ResultText().empty());
            }
}

// Within a family a name on a wire means one thing.
TEST(CheckTable, NamesAreUniqueWithinARow)
{
    for (const CheckRow& row : CheckTable()) {
        SCOPED_TRACE(row.Name);
        std::set<std::string_view> params, fields;
        for (const CheckParam& param : row.Params)
            EXPECT_TRUE(params.insert(param.Name).second) << param.Name;
        for (const CheckField& field : row.Fields)
            EXPECT_TRUE(field.Json.empty() || fields.insert(field.Json).second) << field.Json;
    }
}

TEST(CheckTable, WddxKeysChooseTheRowAsTheObjectsSendThem)
{
    struct Case
    {
        std::set<std::string_view> Keys;
        std::string_view Row;     // empty: none
        std::string_view Missing; // what the answer names as missing
    };
    const Case cases[] = {
        {{"iban"}, "iban", ""},
        {{"iban", "bic"}, "iban_bic", ""},
        {{"blz", "kto", "c"}, "account", ""},
        {{"blz"}, "", "kto"},
        {{"bic"}, "bic", ""},
        {{"cc", "iban"}, "card", ""},
        {{"search", "cc"}, "banks", ""},
        {{"kto"}, "", ""},
    };
    for (const Case& test : cases) {
        std::string_view missing;
        const CheckRow* row = ChooseWddx(
            "Tarvik", [&](std::string_view key) { return test.Keys.contains(key); }, &missing);
        EXPECT_EQ(row ? row->Name : std::string_view(), test.Row) << *test.Keys.begin();
        EXPECT_EQ(missing, test.Missing) << *test.Keys.begin();
    }
}

TEST(CheckTable, BatchColumnsNameTheObjectsParameters)
{
    EXPECT_EQ(ObjectParamOfColumn("iban"), "aIban");
    EXPECT_EQ(ObjectParamOfColumn("kto"), "aKto");
    EXPECT_EQ(ObjectParamOfColumn("vat"), "aUStID");
    EXPECT_EQ(ObjectParamOfColumn("pof"), "aPof");
    EXPECT_EQ(ObjectParamOfColumn("name"), "");
}

} // namespace
} // namespace orvel::rules
