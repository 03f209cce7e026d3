#pragma once
// The shape of a type library: interfaces with their members in slot order, coclasses, identifiers. One table of
// these describes everything a client sees; dispatch, the bus export, introspection and registration read it.

#include "platform/Com.h"

#include <string>
#include <string_view>
#include <vector>

namespace orvel {

using DispId = int32_t;

enum class InvokeKind { Method, Get, Put };

struct TypeVersion
{
    int Major;
    int Minor;
};

struct TParamInfo
{
    std::string_view Name;
    VarType Type;  // Text (BSTR) or Int32 (long)
    bool Optional; // when omitted it holds empty text (0 for a long)
};

struct TMemberInfo
{
    std::string_view Name;
    DispId Id;
    InvokeKind Kind;
    std::vector<TParamInfo> Params; // the [in] parameters; a put's value is its only one
    VarType ValueType;              // a getter's [out, retval] Value; Empty for methods

    size_t RequiredCount() const;
};

// A check operation: a method of the interface and the result properties it writes, which a one-off check answers.
struct TOperationInfo
{
    std::string_view Method;
    std::vector<std::string_view> Writes; // parameterless getters, or getters by Index for lists
};

struct TInterfaceInfo
{
    std::string_view Name;
    std::string_view Guid;
    TypeVersion Version;
    std::string_view HelpString;
    std::vector<TMemberInfo> Members; // slot order after the seven IDispatch methods
    std::vector<TOperationInfo> Operations{};

    // First member with that name in slot order, ignoring letter case.
    const TMemberInfo* FindMember(std::string_view MemberName) const;
    const TMemberInfo* FindMember(DispId Id, InvokeKind Kind) const;
    // The operation of that method, exact name.
    const TOperationInfo* FindOperation(std::string_view MethodName) const;
};

struct TCoClassInfo
{
    std::string_view Name;
    std::string_view Guid;
    TypeVersion Version;
    std::string_view HelpString; // also the registry description
    std::string_view DefaultInterface;
};

struct TTypeLibrary
{
    std::string_view Name;
    std::string_view Guid;
    TypeVersion Version;
    int Lcid;
    std::string_view Target;
    std::string_view HelpString;
    std::vector<TInterfaceInfo> Interfaces;
    std::vector<TCoClassInfo> CoClasses;

    const TInterfaceInfo* FindInterface(std::string_view InterfaceName) const;
    const TCoClassInfo* FindCoClass(std::string_view CoClassName) const;
    // Library name, a dot and the coclass name.
    std::string ProgID(const TCoClassInfo& CoClass) const;
};

} // namespace orvel
