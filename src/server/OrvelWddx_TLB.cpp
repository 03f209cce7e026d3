#include "server/OrvelWddx_TLB.h"

namespace orvel {
namespace {

TParamInfo Bstr(std::string_view Name)
{
    return {Name, VarType::Text, false};
}

TParamInfo OptionalBstr(std::string_view Name)
{
    return {Name, VarType::Text, true};
}

TParamInfo Long(std::string_view Name)
{
    return {Name, VarType::Int32, false};
}

TMemberInfo Method(std::string_view Name, DispId Id, std::vector<TParamInfo> Params)
{
    return {Name, Id, InvokeKind::Method, std::move(Params), VarType::Empty};
}

TMemberInfo Get(std::string_view Name, DispId Id, VarType Type, std::vector<TParamInfo> Params = {})
{
    return {Name, Id, InvokeKind::Get, std::move(Params), Type};
}

TMemberInfo Put(std::string_view Name, DispId Id, VarType Type)
{
    return {Name, Id, InvokeKind::Put, {{"Value", Type, false}}, Type};
}

using TWrites = std::vector<std::string_view>;

TWrites Join(TWrites First, const TWrites& Second)
{
    First.insert(First.end(), Second.begin(), Second.end());
    return First;
}

// The result properties each check operation writes, in the order a client reads them.
const TWrites kAccountWrites{"Result", "Resulttext", "BankName", "NewBlz", "Iban", "Bic"};
const TWrites kBicWrites{"BicName", "BicSct", "BicSdd", "BicB2b"};
const TWrites kAddressWrites{"Result",   "Resulttext", "Rewritten", "Str46",   "Str22",
                             "Ortsteil", "PlzOut",     "Orte",      "AlteOrte"};

constexpr VarType BSTR = VarType::Text;
constexpr VarType LONG = VarType::Int32;
constexpr TypeVersion kInterfaceVersion{3, 0};

} // namespace

const TTypeLibrary& OrvelWddxTypeLibrary()
{
    static const TTypeLibrary
        library{
            .Name = "OrvelWddx",
            .Guid = LIBID_OrvelWddx,
            .Version = {2, 7},
            .Lcid = 0,
            .Target = "win32",
            .HelpString = "OrvelWddx Bibliothek für Tarvik und Address",
            .Interfaces =
                {
                    {
                        .Name = "ITarvik",
                        .Guid = IID_ITarvik,
                        .Version = kInterfaceVersion,
                        .HelpString = "Dispatch-Schnittstelle für Tarvik-Objekt",
                        .Members =
                            {
                                Method("TestBlzKto", 201,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aBlz"), Bstr("aKto"), Bstr("aLand"),
                                        Long("aId"), Bstr("aName")}),
                                Method("SetProxy", 202,
                                       {Bstr("aProxy"), Long("aPort"), OptionalBstr("aUser"), OptionalBstr("aPass")}),
                                Get("Result", 203, LONG),
                                Get("Resulttext", 204, BSTR),
                                Get("BankName", 205, BSTR),
                                Get("SSLMode", 206, LONG),
                                Put("SSLMode", 206, LONG),
                                Get("NewBlz", 207, BSTR),
                                Method("TestCc", 208, {Bstr("aUser"), Bstr("aPass"), Bstr("aCc")}),
                                Method("Search", 209,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aSearchString"), Bstr("aLand"),
                                        Long("aFragmentsFlag")}),
                                Get("Banken", 210, BSTR, {Long("Index")}),
                                Get("BankenString", 211, BSTR),
                                Get("Host", 212, BSTR),
                                Put("Host", 212, BSTR),
                                Get("Timeout", 213, LONG),
                                Put("Timeout", 213, LONG),
                                Get("Iban", 214, BSTR),
                                Get("Bic", 215, BSTR),
                                Method("TestIban", 216,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aIban"), Long("aId"), Bstr("aName")}),
                                Method("TestIbanBic", 217,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aIban"), Bstr("aBic"), Long("aId"),
                                        Bstr("aName")}),
                                Method("TestBic", 218, {Bstr("aUser"), Bstr("aPass"), Bstr("aBic")}),
                                Get("BicName", 219, BSTR),
                                Get("BicSct", 220, LONG),
                                Get("BicSdd", 221, LONG),
                                Get("BicB2b", 222, LONG),
                            },
                        .Operations =
                            {
                                {"TestBlzKto", kAccountWrites},
                                {"TestIban", kAccountWrites},
                                {"TestIbanBic", Join(kAccountWrites, kBicWrites)},
                                // Resulttext stays from an earlier call, or carries the certificate verdict.
                                {"TestBic", Join({"Result", "Resulttext"}, kBicWrites)},
                                {"TestCc", {"Result", "Resulttext", "BankName", "NewBlz"}},
                                {"Search", {"Result", "Resulttext", "Banken"}},
                            },
                    },
                    {
                        .Name = "IAddress",
                        .Guid = IID_IAddress,
                        .Version = kInterfaceVersion,
                        .HelpString = "Dispatch-Schnittstelle für Address-Objekt",
                        .Members =
                            {
                                Method("Check", 201, {Bstr("aUser"), Bstr("aPass"), Bstr("aPlz"), Bstr("aOrt")}),
                                Method("CheckStr", 202,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aPlz"), Bstr("aOrt"), Bstr("aStr")}),
                                Method("CheckPof", 203,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aPlz"), Bstr("aOrt"), Bstr("aPof")}),
                                Method("SetProxy", 204,
                                       {Bstr("aProxy"), Long("aPort"), OptionalBstr("aUser"), OptionalBstr("aPass")}),
                                Get("Result", 205, LONG),
                                Get("Resulttext", 206, BSTR),
                                Get("Orte", 207, BSTR, {Long("Index")}),
                                Method("GetPlzType", 208, {Bstr("aUser"), Bstr("aPass"), Bstr("aPlz")}),
                                Get("OrteString", 209, BSTR),
                                Get("AlteOrte", 210, BSTR, {Long("Index")}),
                                Get("AlteOrteString", 211, BSTR),
                                Get("SSLMode", 212, LONG),
                                Put("SSLMode", 212, LONG),
                                Get("Rewrite", 213, LONG),
                                Put("Rewrite", 213, LONG),
                                Get("Rewritten", 214, BSTR),
                                Get("Str46", 215, BSTR),
                                Get("Str22", 216, BSTR),
                                Get("Ortsteil", 217, BSTR),
                                Get("PlzOut", 218, BSTR),
                                Method("CheckStrHnr", 219,
                                       {Bstr("aUser"), Bstr("aPass"), Bstr("aPlz"), Bstr("aOrt"), Bstr("aStr"),
                                        Bstr("aHnr")}),
                                Get("Host", 220, BSTR),
                                Put("Host", 220, BSTR),
                                Get("Timeout", 221, LONG),
                                Put("Timeout", 221, LONG),
                            },
                        .Operations =
                            {
                                {"Check", kAddressWrites},
                                {"CheckStr", kAddressWrites},
                                {"CheckPof", kAddressWrites},
                                {"GetPlzType", {"Result", "Resulttext"}},
                                {"CheckStrHnr", kAddressWrites},
                            },
                    },
                    {
                        .Name = "IUStID",
                        .Guid = IID_IUStID,
                        .Version = kInterfaceVersion,
                        .HelpString = "Dispatch-Schnittstelle für UStID-Objekt",
                        .Members =
                            {
                                Method("Check", 201, {Bstr("aUStID")}),
                                Get("Result", 202, LONG),
                                Get("Resulttext", 203, BSTR),
                                Method("SetProxy", 204, {Bstr("aProxy"), Long("aPort"), Bstr("aUser"), Bstr("aPass")}),
                                Get("Timeout", 205, LONG),
                                Put("Timeout", 205, LONG),
                            },
                        .Operations = {{"Check", {"Result", "Resulttext"}}},
                    },
                },
            .CoClasses =
                {
                    {"Tarvik", CLASS_Tarvik, {3, 0}, "Tarvik Objekt", "ITarvik"},
                    {"Address", CLASS_Address, {3, 0}, "Address Objekt", "IAddress"},
                    {"UStID", CLASS_UStID, {3, 0}, "UStID Objekt", "IUStID"},
                },
        };
    return library;
}

} // namespace orvel
