#include "server/ComServer.h"

#include "platform/Text.h"

namespace orvel {
namespace {

TComServer* gComServer = nullptr;

bool IsSwitch(const std::string& Arg, std::string_view Keyword)
{
    return Arg.size() > 1 && (Arg[0] == '-' || Arg[0] == '/') && SameText(std::string_view(Arg).substr(1), Keyword);
}

bool HasSwitch(std::span<const std::string> Args, std::string_view Keyword)
{
    for (const std::string& arg : Args)
        if (IsSwitch(arg, Keyword))
            return true;
    return false;
}

[[noreturn]] void Fail(HRESULT hr)
{
    throw ComError(hr, Ansi(HResultText(hr)));
}

} // namespace

TStartMode StartModeFromCommandLine(std::span<const std::string> Args)
{
    if (HasSwitch(Args, "AUTOMATION") || HasSwitch(Args, "EMBEDDING"))
        return TStartMode::Automation;
    if (HasSwitch(Args, "REGSERVER"))
        return TStartMode::Register;
    if (HasSwitch(Args, "UNREGSERVER"))
        return TStartMode::Unregister;
    return TStartMode::Standalone;
}

TAutoObject::TAutoObject(const TAutoObjectFactory& Factory) : FFactory(Factory)
{
    FFactory.Server().CountObject(true);
}

TAutoObject::~TAutoObject()
{
    FFactory.Server().CountObject(false);
}

uint32_t TAutoObject::Release()
{
    const uint32_t count = --FRefCount;
    if (count == 0)
        delete this;
    return count;
}

const TInterfaceInfo& TAutoObject::Interface() const
{
    return FFactory.Interface();
}

HRESULT TAutoObject::GetIDsOfNames(std::span<const WideString> Names, std::vector<DispId>& DispIds) const
{
    DispIds.assign(Names.size(), -1);
    if (Names.empty())
        return E_INVALIDARG;
    const TMemberInfo* member = Interface().FindMember(Narrow(Names[0]));
    if (!member)
        return DISP_E_UNKNOWNNAME;
    DispIds[0] = member->Id;
    HRESULT hr = S_OK;
    for (size_t i = 1; i < Names.size(); ++i) {
        const std::string name = Narrow(Names[i]);
        for (size_t p = 0; p < member->Params.size(); ++p)
            if (SameText(member->Params[p].Name, name))
                DispIds[i] = DispId(p);
        if (DispIds[i] < 0)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TAutoObject::Invoke(DispId Id, InvokeKind Kind, std::span<const Variant> Args, Variant& Result, ErrorInfo& Info)
{
    const std::vector<TMemberInfo>& members = Interface().Members;
    size_t slot = 0;
    while (slot < members.size() && (members[slot].Id != Id || members[slot].Kind != Kind))
        ++slot;
    if (slot == members.size())
        return DISP_E_MEMBERNOTFOUND;
    const TMemberInfo& member = members[slot];
    if (Args.size() > member.Params.size())
        return DISP_E_BADPARAMCOUNT;
    if (Args.size() < member.RequiredCount())
        return DISP_E_PARAMNOTOPTIONAL;

    std::vector<Variant> args(member.Params.size());
    for (size_t i = 0; i < member.Params.size(); ++i) {
        if (i >= Args.size()) {
            args[i] = member.Params[i].Type == VarType::Int32 ? Variant(int32_t(0)) : Variant(WideString());
            continue;
        }
        const HRESULT hr = VariantChangeType(args[i], Args[i], member.Params[i].Type);
        if (Failed(hr))
            return hr;
    }

    // An error escaping a member fails the call; it never reaches the caller's loop as an exception.
    HRESULT hr = E_UNEXPECTED;
    std::string message;
    try {
        Result = CallMember(slot, args);
        return S_OK;
    } catch (const ComError& error) {
        if (Failed(error.Code()))
            hr = error.Code();
        message = error.what();
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
    }
    Info = {std::string(Interface().Guid), FromUtf8(FFactory.ProgID()), Widen(message)};
    return hr;
}

TAutoObjectFactory::TAutoObjectFactory(TComServer& Server, std::string_view CoClassName)
    : FServer(Server), FCoClass(Server.TypeLibrary().FindCoClass(CoClassName)),
      FInterface(FCoClass ? Server.TypeLibrary().FindInterface(FCoClass->DefaultInterface) : nullptr)
{
    if (!FCoClass || !FInterface)
        throw Error(Ansi("Klasse " + std::string(CoClassName) + " oder ihre Schnittstelle fehlt in der Typbibliothek " +
                         std::string(Server.TypeLibrary().Name)));
    FProgID = Server.TypeLibrary().ProgID(*FCoClass);
    // The one-off checks answer what these lists name: a name the interface lacks fails the start.
    for (const TOperationInfo& operation : FInterface->Operations) {
        const TMemberInfo* method = FInterface->FindMember(operation.Method);
        bool fits = method && method->Kind == InvokeKind::Method && method->Name == operation.Method;
        for (std::string_view name : operation.Writes) {
            const TMemberInfo* getter = FInterface->FindMember(name);
            fits = fits && getter && getter->Kind == InvokeKind::Get && getter->Name == name &&
                   (getter->Params.empty() || (getter->Params.size() == 1 && getter->Params[0].Type == VarType::Int32));
        }
        if (!fits)
            throw Error(Ansi("Die Prüfung " + std::string(operation.Method) + " passt nicht zur Schnittstelle " +
                             std::string(FInterface->Name)));
    }
}

TComServer::TComServer(const TTypeLibrary& Library) : FLibrary(Library)
{
    gComServer = this;
}

TComServer::~TComServer()
{
    if (gComServer == this)
        gComServer = nullptr;
}

const TAutoObjectFactory* TComServer::FindFactory(std::string_view ClassGuid) const
{
    for (const auto& factory : FFactories)
        if (SameText(factory->CoClass().Guid, ClassGuid))
            return factory.get();
    return nullptr;
}

void TComServer::CountObject(bool Created)
{
    const int count = FObjectCount += Created ? 1 : -1;
    if (count == 0 && FStartMode == TStartMode::Automation && FOnLastRelease)
        FOnLastRelease();
}

TComServer& ComServer()
{
    if (!gComServer)
        Fail(REGDB_E_CLASSNOTREG);
    return *gComServer;
}

} // namespace orvel
