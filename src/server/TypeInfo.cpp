#include "server/TypeInfo.h"

#include "platform/Text.h"

namespace orvel {

size_t TMemberInfo::RequiredCount() const
{
    size_t count = 0;
    for (const TParamInfo& param : Params)
        if (!param.Optional)
            ++count;
    return count;
}

const TMemberInfo* TInterfaceInfo::FindMember(std::string_view MemberName) const
{
    for (const TMemberInfo& member : Members)
        if (SameText(member.Name, MemberName))
            return &member;
    return nullptr;
}

const TMemberInfo* TInterfaceInfo::FindMember(DispId Id, InvokeKind Kind) const
{
    for (const TMemberInfo& member : Members)
        if (member.Id == Id && member.Kind == Kind)
            return &member;
    return nullptr;
}

const TOperationInfo* TInterfaceInfo::FindOperation(std::string_view MethodName) const
{
    for (const TOperationInfo& operation : Operations)
        if (operation.Method == MethodName)
            return &operation;
    return nullptr;
}

const TInterfaceInfo* TTypeLibrary::FindInterface(std::string_view InterfaceName) const
{
    for (const TInterfaceInfo& info : Interfaces)
        if (info.Name == InterfaceName)
            return &info;
    return nullptr;
}

const TCoClassInfo* TTypeLibrary::FindCoClass(std::string_view CoClassName) const
{
    for (const TCoClassInfo& info : CoClasses)
        if (info.Name == CoClassName)
            return &info;
    return nullptr;
}

std::string TTypeLibrary::ProgID(const TCoClassInfo& CoClass) const
{
    return std::string(Name) + "." + std::string(CoClass.Name);
}

} // namespace orvel
