#include "objects/Tarvik.h"

#include "platform/StrToInt.h"
#include "platform/Text.h"
#include "wddx/Common.h"

#include <tuple>

namespace orvel {
namespace {

std::string Raw(const WideString& value)
{
    return TWddxCheckObject::RawQueryValue(Narrow(value));
}

std::string Encoded(const WideString& value)
{
    return TWddxCheckObject::EncodeQueryValue(Narrow(value));
}

int32_t IntegerVar(const std::string& reply, std::string_view name)
{
    return StrToIntDef(GetWddxVar(reply, name), result::kUnreadableReply);
}

// Result and Resulttext of an account reply. The service's own text always wins; only where the reply brings none
// does a reply without a usable "result" say what was wrong with it.
std::pair<int32_t, std::string> ResultOf(const std::string& reply)
{
    const std::string text = GetWddxVar(reply, "result");
    std::string resulttext = GetWddxVar(reply, "resulttext");
    if (const auto value = TryStrToInt(text))
        return {*value, resulttext};
    if (resulttext.empty())
        resulttext = reply.find("wddxPacket") == std::string::npos ? "Die Antwort ist kein WDDX-Paket"
                     : text.empty()                                ? Ansi("Die Antwort enthält kein Feld \"result\"")
                                    : "Das Feld \"result\" der Antwort ist keine Zahl: \"" + text + "\"";
    return {result::kUnreadableReply, resulttext};
}

} // namespace

std::string TTarvik::Query(const WideString& aUser, const WideString& aPass)
{
    return "/tarvik?un=" + Raw(aUser) + "&pw=" + Raw(aPass);
}

void TTarvik::ReadAccountReply(const std::string& Reply)
{
    std::tie(FResult, FResulttext) = ResultOf(Reply);
    CheckCertificateResult();
    FBankName = GetWddxVar(Reply, "bankname");
    FNewBlz = GetWddxVar(Reply, "newblz");
    FIban = GetWddxVar(Reply, "iban");
    FBic = GetWddxVar(Reply, "bic");
}

void TTarvik::ClearAccountFields(const std::string& M)
{
    FResulttext = M;
    FBankName.clear();
    FNewBlz.clear();
    FIban.clear();
    FBic.clear();
}

void TTarvik::ReadBicReply(const std::string& Reply)
{
    FBicName = GetWddxVar(Reply, "bicname");
    FBicSct = IntegerVar(Reply, "bicsct");
    FBicSdd = IntegerVar(Reply, "bicsdd");
    FBicB2b = IntegerVar(Reply, "bicb2b");
}

void TTarvik::ClearBicFields(const std::string& M)
{
    FBicName = "*" + M;
    FBicSct = FBicSdd = FBicB2b = 0;
}

void TTarvik::TestBlzKto(const WideString& aUser, const WideString& aPass, const WideString& aBlz,
                         const WideString& aKto, const WideString& aLand, int32_t aId, const WideString& aName)
{
    RequestCycle(
        [&] {
            ReadAccountReply(Fetch(Query(aUser, aPass) + "&blz=" + Raw(aBlz) + "&kto=" + Raw(aKto) +
                                   "&c=" + Raw(aLand) + "&id=" + std::to_string(aId) + "&name=" + Encoded(aName)));
        },
        [&](const std::string& M) { ClearAccountFields(M); });
}

void TTarvik::TestIban(const WideString& aUser, const WideString& aPass, const WideString& aIban, int32_t aId,
                       const WideString& aName)
{
    RequestCycle(
        [&] {
            ReadAccountReply(Fetch(Query(aUser, aPass) + "&iban=" + Raw(aIban) + "&id=" + std::to_string(aId) +
                                   "&name=" + Encoded(aName)));
        },
        [&](const std::string& M) { ClearAccountFields(M); });
}

void TTarvik::TestIbanBic(const WideString& aUser, const WideString& aPass, const WideString& aIban,
                          const WideString& aBic, int32_t aId, const WideString& aName)
{
    RequestCycle(
        [&] {
            const std::string reply = Fetch(Query(aUser, aPass) + "&iban=" + Raw(aIban) + "&bic=" + Raw(aBic) +
                                            "&id=" + std::to_string(aId) + "&name=" + Encoded(aName));
            ReadAccountReply(reply);
            ReadBicReply(reply);
        },
        [&](const std::string& M) {
            ClearAccountFields(M);
            ClearBicFields(M);
        });
}

void TTarvik::TestBic(const WideString& aUser, const WideString& aPass, const WideString& aBic)
{
    RequestCycle(
        [&] {
            const std::string reply = Fetch(Query(aUser, aPass) + "&bic=" + Raw(aBic));
            FResult = 0;
            CheckCertificateResult();
            ReadBicReply(reply);
        },
        [&](const std::string& M) { ClearBicFields(M); });
}

void TTarvik::TestCc(const WideString& aUser, const WideString& aPass, const WideString& aCc)
{
    RequestCycle(
        [&] {
            const std::string reply = Fetch(Query(aUser, aPass) + "&cc=" + Raw(aCc));
            std::tie(FResult, FResulttext) = ResultOf(reply);
            CheckCertificateResult();
            FBankName.clear();
            FNewBlz.clear();
        },
        [&](const std::string& M) {
            FResulttext = M;
            FBankName.clear();
            FNewBlz.clear();
        });
}

void TTarvik::ClearBanken()
{
    FBankenList = TWddxValue::FromArray({});
}

void TTarvik::Search(const WideString& aUser, const WideString& aPass, const WideString& aSearchString,
                     const WideString& aLand, int32_t aFragmentsFlag)
{
    ClearBanken();
    RequestCycle(
        [&] {
            const std::string reply = Fetch(Query(aUser, aPass) + "&search=" + Encoded(aSearchString) +
                                            "&c=" + Raw(aLand) + "&fragments=" + std::to_string(aFragmentsFlag));
            bool read = false;
            TWddxValue resulttext;
            try {
                const TWddxDocument document(reply);
                FBankenList = document.GetVar("banken");
                resulttext = document.GetVar("resulttext");
                read = true;
            } catch (const std::exception& error) {
                FResult = -300;
                FResulttext = error.what();
            }
            // A reply whose "banken" is no list fails here, and the capture reports it.
            if (read)
                FResult = StrToIntDef(Narrow(FBankenList.Element(0)), 0);
            // The service's own text (how many found, how old its data is); a reply without one keeps the text of
            // the previous operation.
            if (resulttext.GetKind() == TWddxValue::Kind::Text)
                FResulttext = DecodeEntities(Narrow(resulttext.AsText()));
            CheckCertificateResult();
        },
        [&](const std::string& M) { FResulttext = M; });
}

} // namespace orvel
