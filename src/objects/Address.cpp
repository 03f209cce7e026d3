#include "objects/Address.h"

#include "platform/StrToInt.h"
#include "wddx/Common.h"

namespace orvel {
namespace {

std::string Raw(const std::string& value)
{
    return TWddxCheckObject::RawQueryValue(value);
}

std::string Encoded(const std::string& value)
{
    return TWddxCheckObject::EncodeQueryValue(value);
}

} // namespace

TAddress::TAddress()
{
    ClearOrte();
}

void TAddress::ClearOrte()
{
    FOrteList = FAlteOrteList = TWddxValue::FromArray({});
}

std::string TAddress::ReplyField(const TWddxDocument& Document, std::string_view Name)
{
    return DecodeEntities(RawReplyField(Document, Name));
}

std::string TAddress::RawReplyField(const TWddxDocument& Document, std::string_view Name)
{
    try {
        return Narrow(Document.GetVar(Name).AsText());
    } catch (const std::exception&) {
        return {};
    }
}

void TAddress::Exchange(const std::string& PathAndQuery, const std::function<void(const TWddxDocument&)>& Read,
                        bool DecodeText)
{
    RequestCycle(
        [&] {
            const std::string reply = Fetch(PathAndQuery);
            // The service's own text wins over our message when the rest of its reply cannot be read.
            std::string served;
            try {
                const TWddxDocument document(reply);
                served = DecodeText ? ReplyField(document, "resulttext") : RawReplyField(document, "resulttext");
                Read(document);
            } catch (const std::exception& error) {
                FResult = result::kUnreadableReply;
                FResulttext = served.empty() ? std::string(error.what()) : served;
                ClearOrte();
            }
        },
        [&](const std::string& M) {
            FResulttext = M;
            ClearOrte();
        });
}

void TAddress::RunCheck(const std::string& User, const std::string& Pass, const std::string& Plz,
                        const std::string& Ort, const std::string& Str, const std::string& Hnr, const std::string& Pof)
{
    std::string query =
        "/address?un=" + Raw(User) + "&pw=" + Raw(Pass) + "&func=check&plz=" + Raw(Plz) + "&ort=" + Encoded(Ort);
    if (!Str.empty())
        query += "&str=" + Encoded(Str);
    if (!Hnr.empty())
        query += "&hnr=" + Encoded(Hnr);
    if (!Pof.empty())
        query += "&pof=" + Raw(Pof);
    query += "&rewrite=" + std::to_string(FRewrite);

    Exchange(query, [this](const TWddxDocument& reply) {
        FResult = StrToIntDef(ReplyField(reply, "result"), result::kUnreadableReply);
        FResulttext = ReplyField(reply, "resulttext");
        CheckCertificateResult();
        FRewritten = ReplyField(reply, "rewritten");
        FStr46 = ReplyField(reply, "str46");
        FStr22 = ReplyField(reply, "str22");
        FOrtsteil = ReplyField(reply, "ortsteil");
        FPlzOut = ReplyField(reply, "plzout");
        // The place lists stay as the service wrote them, entities and all.
        if (FResult == 4) {
            FOrteList = reply.GetVar("orte");
            FAlteOrteList = reply.GetVar("alteorte");
        } else {
            ClearOrte();
        }
    });
}

void TAddress::Check(const WideString& aUser, const WideString& aPass, const WideString& aPlz, const WideString& aOrt)
{
    RunCheck(Narrow(aUser), Narrow(aPass), Narrow(aPlz), Narrow(aOrt), {}, {}, {});
}

void TAddress::CheckStr(const WideString& aUser, const WideString& aPass, const WideString& aPlz,
                        const WideString& aOrt, const WideString& aStr)
{
    RunCheck(Narrow(aUser), Narrow(aPass), Narrow(aPlz), Narrow(aOrt), Narrow(aStr), {}, {});
}

void TAddress::CheckStrHnr(const WideString& aUser, const WideString& aPass, const WideString& aPlz,
                           const WideString& aOrt, const WideString& aStr, const WideString& aHnr)
{
    RunCheck(Narrow(aUser), Narrow(aPass), Narrow(aPlz), Narrow(aOrt), Narrow(aStr), Narrow(aHnr), {});
}

void TAddress::CheckPof(const WideString& aUser, const WideString& aPass, const WideString& aPlz,
                        const WideString& aOrt, const WideString& aPof)
{
    RunCheck(Narrow(aUser), Narrow(aPass), Narrow(aPlz), Narrow(aOrt), {}, {}, Narrow(aPof));
}

void TAddress::GetPlzType(const WideString& aUser, const WideString& aPass, const WideString& aPlz)
{
    const std::string query =
        "/address?un=" + Raw(Narrow(aUser)) + "&func=type&pw=" + Raw(Narrow(aPass)) + "&plz=" + Raw(Narrow(aPlz));
    Exchange(
        query,
        [this](const TWddxDocument& reply) {
            FResult = reply.GetVar("result").AsInteger();
            FResulttext = Narrow(reply.GetVar("resulttext").AsText());
            CheckCertificateResult();
            ClearOrte();
        },
        false);
}

} // namespace orvel
