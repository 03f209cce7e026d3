// The dispatch layer as a client drives it: names for GetIDsOfNames, and Invoke with any member, kind and D-Bus
// values (nested variants, lists, 64-bit numbers, text) through the variant conversion.

#include "FuzzInput.h"
#include "server/DBusMarshal.h"
#include "server/OrvelWddx_TLB.h"

#include <QDBusVariant>
#include <QStringList>

#include <sched.h>

#include <cstdlib>
#include <cstring>

namespace {

using namespace orvel;

// Checks reach for the network; in a network namespace of our own they find none at once. Where no namespace can
// be had, methods are not called.
bool gIsolated = false;

TComServer& Server()
{
    static TComServer server(OrvelWddxTypeLibrary());
    return server;
}

QVariant Value(fuzz::Input& input, int depth)
{
    switch (input.Byte() % 8) {
    case 0:
        return bool(input.Byte() & 1);
    case 1:
        return input.Int32();
    case 2:
        return qlonglong(input.Int32()) << 32 | uint32_t(input.Int32());
    case 3: {
        const uint64_t bits = uint64_t(uint32_t(input.Int32())) << 32 | uint32_t(input.Int32());
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return number;
    }
    case 4:
        return QString::fromUtf8(input.Text());
    case 5:
        return depth < 3 ? QVariant::fromValue(QDBusVariant(Value(input, depth + 1))) : QVariant();
    case 6:
        return QStringList{QString::fromUtf8(input.Text()), QString::fromUtf8(input.Text())};
    default:
        return QVariant::fromValue(uint(input.Int32()));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("ORVELWDDX_HOST", "127.0.0.1:9", 1);
    setenv("ORVELWDDX_VIES_URL", "http://127.0.0.1:9/", 1);
    gIsolated = ::unshare(CLONE_NEWNET) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0;
    RegisterClassFactories(Server());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input input(data, size);
    const auto& factories = Server().Factories();
    TAutoObjectPtr object(factories[input.Byte() % factories.size()]->CreateInstance());
    const auto& members = object->Interface().Members;
    for (int call = 0; call < 6 && !input.Empty(); ++call) {
        if (input.Byte() % 2 == 0) {
            std::vector<WideString> names(1 + input.Byte() % 3);
            for (auto& name : names)
                name = FromUtf8(input.Text());
            std::vector<DispId> ids;
            object->GetIDsOfNames(names, ids);
            continue;
        }
        const uint8_t pick = input.Byte();
        const DispId id = pick == 0xFF ? input.Int32() : members[pick % members.size()].Id;
        const auto kind = InvokeKind(input.Byte() % 3);
        std::vector<Variant> args;
        for (int count = input.Byte() % 7; count > 0; --count)
            if (std::optional<Variant> arg = dbus::FromDBus(Value(input, 0)))
                args.push_back(std::move(*arg));
        if (kind == InvokeKind::Method && !gIsolated)
            continue;
        Variant result;
        ErrorInfo info;
        object->Invoke(id, kind, args, result, info);
        dbus::ToDBus(result);
    }
    return 0;
}
