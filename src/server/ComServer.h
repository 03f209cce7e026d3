#pragma once
// The automation layer: objects reached late-bound through their type information, class objects, the process's
// table of registered class objects and the count of live objects that decides when an automation start ends.

#include "server/TypeInfo.h"

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orvel {

enum class TStartMode { Standalone, Automation, Register, Unregister };

// From the arguments after the program name: "-" or "/" and a keyword in any letter case; the first matching mode
// in the order Automation, Register, Unregister wins.
TStartMode StartModeFromCommandLine(std::span<const std::string> Args);

class TAutoObjectFactory;
class TComServer;

// One automation object. It starts with the creator's reference and is destroyed when the last one is released.
class TAutoObject
{
public:
    TAutoObject(const TAutoObject&) = delete;
    TAutoObject& operator=(const TAutoObject&) = delete;

    uint32_t AddRef() { return ++FRefCount; }
    uint32_t Release();

    const TAutoObjectFactory& Factory() const { return FFactory; }
    const TInterfaceInfo& Interface() const;

    // IDispatch, answered from the interface table. Names ignore letter case: the first is a member, the rest
    // its parameter names, whose identifiers are their positions.
    HRESULT GetIDsOfNames(std::span<const WideString> Names, std::vector<DispId>& DispIds) const;
    // Arguments in the order of the parameters; omitted optional ones receive empty text. A failed member call
    // fills Info with the interface, the ProgID and the error's message.
    HRESULT Invoke(DispId Id, InvokeKind Kind, std::span<const Variant> Args, Variant& Result, ErrorInfo& Info);

protected:
    explicit TAutoObject(const TAutoObjectFactory& Factory);
    virtual ~TAutoObject();

    // Calls the C++ member bound to the interface slot, with arguments of the declared types.
    virtual Variant CallMember(size_t Slot, std::span<const Variant> Args) = 0;

private:
    const TAutoObjectFactory& FFactory;
    uint32_t FRefCount = 1;
};

// One reference to an automation object, given back when the holder goes.
class TAutoObjectPtr
{
public:
    TAutoObjectPtr() = default;
    // Takes over a reference the caller holds.
    explicit TAutoObjectPtr(TAutoObject* Object) : FObject(Object) {}
    TAutoObjectPtr(const TAutoObjectPtr& Other) : FObject(Other.FObject)
    {
        if (FObject)
            FObject->AddRef();
    }
    TAutoObjectPtr(TAutoObjectPtr&& Other) noexcept : FObject(std::exchange(Other.FObject, nullptr)) {}
    TAutoObjectPtr& operator=(TAutoObjectPtr Other) noexcept
    {
        std::swap(FObject, Other.FObject);
        return *this;
    }
    ~TAutoObjectPtr()
    {
        if (FObject)
            FObject->Release();
    }

    explicit operator bool() const { return FObject != nullptr; }
    TAutoObject& operator*() const { return *FObject; }
    TAutoObject* operator->() const { return FObject; }

private:
    TAutoObject* FObject = nullptr;
};

// The class object of one coclass, bound to the type library it takes the coclass and interface from.
class TAutoObjectFactory
{
public:
    // Fails when the coclass or its default interface is missing from the server's type library.
    TAutoObjectFactory(TComServer& Server, std::string_view CoClassName);
    virtual ~TAutoObjectFactory() = default;
    TAutoObjectFactory(const TAutoObjectFactory&) = delete;
    TAutoObjectFactory& operator=(const TAutoObjectFactory&) = delete;

    TComServer& Server() const { return FServer; }
    const TCoClassInfo& CoClass() const { return *FCoClass; }
    const TInterfaceInfo& Interface() const { return *FInterface; }
    const std::string& ProgID() const { return FProgID; }

    // A new object holding one reference for the caller.
    virtual TAutoObject* CreateInstance() const = 0;

private:
    TComServer& FServer;
    const TCoClassInfo* FCoClass;
    const TInterfaceInfo* FInterface;
    std::string FProgID;
};

// The process's server: its type library, its class objects and the count of live objects.
class TComServer
{
public:
    // The new server is the one CoCreate finds until it is destroyed.
    explicit TComServer(const TTypeLibrary& Library);
    ~TComServer();
    TComServer(const TComServer&) = delete;
    TComServer& operator=(const TComServer&) = delete;

    const TTypeLibrary& TypeLibrary() const { return FLibrary; }
    TStartMode StartMode() const { return FStartMode; }
    void SetStartMode(TStartMode Mode) { FStartMode = Mode; }

    void AddFactory(std::unique_ptr<TAutoObjectFactory> Factory) { FFactories.push_back(std::move(Factory)); }
    const std::vector<std::unique_ptr<TAutoObjectFactory>>& Factories() const { return FFactories; }
    const TAutoObjectFactory* FindFactory(std::string_view ClassGuid) const;

    int ObjectCount() const { return FObjectCount; }
    void CountObject(bool Created);
    // Runs when the last object goes in an automation start.
    void SetOnLastRelease(std::function<void()> Handler) { FOnLastRelease = std::move(Handler); }

private:
    const TTypeLibrary& FLibrary;
    TStartMode FStartMode = TStartMode::Standalone;
    std::vector<std::unique_ptr<TAutoObjectFactory>> FFactories;
    std::atomic<int> FObjectCount{0}; // one-off checks may run on several threads
    std::function<void()> FOnLastRelease;
};

// The running process's server; fails with REGDB_E_CLASSNOTREG when there is none.
TComServer& ComServer();

} // namespace orvel
