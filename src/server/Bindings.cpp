#include "server/Bindings.h"

namespace orvel {

void CheckBindings(const TAutoObjectFactory& Factory, std::span<const VarType> Results,
                   std::span<const std::vector<VarType>> Params)
{
    const TInterfaceInfo& info = Factory.Interface();
    auto fail = [&](std::string_view what) {
        throw Error(Ansi("Die Klasse " + std::string(Factory.CoClass().Name) + " passt nicht zur Schnittstelle " +
                         std::string(info.Name) + ": " + std::string(what)));
    };
    if (Results.size() != info.Members.size())
        fail("Anzahl der Elemente");
    for (size_t slot = 0; slot < info.Members.size(); ++slot) {
        const TMemberInfo& member = info.Members[slot];
        std::vector<VarType> params;
        for (const TParamInfo& param : member.Params)
            params.push_back(param.Type);
        const VarType result = member.Kind == InvokeKind::Get ? member.ValueType : VarType::Empty;
        if (Results[slot] != result || Params[slot] != params)
            fail(member.Name);
    }
}

} // namespace orvel
