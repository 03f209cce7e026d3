#pragma once
// Binds the members of an interface table to the C++ methods of a plain object class: one list of Bind<&T::Member>
// in slot order per class, checked against the type library when the class object is made.

#include "platform/Text.h"
#include "server/ComServer.h"

#include <tuple>
#include <type_traits>
#include <utility>

namespace orvel {

template <class T> struct TMemberBinding
{
    Variant (*Call)(T& Object, std::span<const Variant> Args);
    VarType Result;
    std::vector<VarType> Params;
};

namespace binding {

template <class V> constexpr VarType TypeOf()
{
    if constexpr (std::is_void_v<V>)
        return VarType::Empty;
    else if constexpr (std::is_same_v<V, WideString>)
        return VarType::Text;
    else {
        static_assert(std::is_same_v<V, int32_t>, "automation members take and return WideString or int32_t");
        return VarType::Int32;
    }
}

template <class M> struct MethodTraits;

template <class C, class R, class... A> struct MethodTraits<R (C::*)(A...)>
{
    using Class = C;
    using Result = R;
    using Args = std::tuple<std::decay_t<A>...>;
};

template <class C, class R, class... A> struct MethodTraits<R (C::*)(A...) const> : MethodTraits<R (C::*)(A...)>
{
};

template <class T, auto Method> Variant Call(T& Object, std::span<const Variant> Args)
{
    using Traits = MethodTraits<decltype(Method)>;
    return [&]<size_t... I>(std::index_sequence<I...>)
    {
        if constexpr (std::is_void_v<typename Traits::Result>) {
            (Object.*Method)(std::get<std::tuple_element_t<I, typename Traits::Args>>(Args[I])...);
            return Variant();
        } else {
            return Variant((Object.*Method)(std::get<std::tuple_element_t<I, typename Traits::Args>>(Args[I])...));
        }
    }
    (std::make_index_sequence<std::tuple_size_v<typename Traits::Args>>());
}

} // namespace binding

// Stands for the binding of Method in the binding list of any class that has it.
template <auto Method> struct Bind
{
    template <class T> operator TMemberBinding<T>() const
    {
        using Traits = binding::MethodTraits<decltype(Method)>;
        static_assert(std::is_base_of_v<typename Traits::Class, T>);
        return [&]<class... A>(std::type_identity<std::tuple<A...>>) {
            return TMemberBinding<T>{
                &binding::Call<T, Method>, binding::TypeOf<typename Traits::Result>(), {binding::TypeOf<A>()...}};
        }(std::type_identity<typename Traits::Args>());
    }
};

template <class T> class TTypedAutoObject final : public TAutoObject
{
public:
    TTypedAutoObject(const TAutoObjectFactory& Factory, const std::vector<TMemberBinding<T>>& Bindings)
        : TAutoObject(Factory), FBindings(Bindings)
    {
    }

    T& Impl() { return FImpl; }

protected:
    Variant CallMember(size_t Slot, std::span<const Variant> Args) override
    {
        return FBindings[Slot].Call(FImpl, Args);
    }

private:
    const std::vector<TMemberBinding<T>>& FBindings;
    T FImpl;
};

// Throws when a binding list does not match the interface slot for slot.
void CheckBindings(const TAutoObjectFactory& Factory, std::span<const VarType> Results,
                   std::span<const std::vector<VarType>> Params);

template <class T> class TTypedFactory final : public TAutoObjectFactory
{
public:
    TTypedFactory(TComServer& Server, std::string_view CoClassName, std::vector<TMemberBinding<T>> Bindings)
        : TAutoObjectFactory(Server, CoClassName), FBindings(std::move(Bindings))
    {
        std::vector<VarType> results;
        std::vector<std::vector<VarType>> params;
        for (const TMemberBinding<T>& binding : FBindings) {
            results.push_back(binding.Result);
            params.push_back(binding.Params);
        }
        CheckBindings(*this, results, params);
    }

    TAutoObject* CreateInstance() const override { return new TTypedAutoObject<T>(*this, FBindings); }

private:
    std::vector<TMemberBinding<T>> FBindings;
};

// One reference to an automation object, with early-bound access to the object behind it.
template <class T> class TInterfacePtr
{
public:
    TInterfacePtr() = default;
    // Object is a TTypedAutoObject<T>.
    explicit TInterfacePtr(TAutoObjectPtr Object) : FObject(std::move(Object)) {}

    explicit operator bool() const { return bool(FObject); }
    T* operator->() const { return &static_cast<TTypedAutoObject<T>&>(*FObject).Impl(); }
    TAutoObject& Dispatch() const { return *FObject; }

private:
    TAutoObjectPtr FObject;
};

// Creates an object from the class object the process registered for ClassGuid.
template <class T> TInterfacePtr<T> CoCreateInstance(std::string_view ClassGuid)
{
    const TAutoObjectFactory* factory = ComServer().FindFactory(ClassGuid);
    if (!factory)
        throw ComError(REGDB_E_CLASSNOTREG, Ansi(HResultText(REGDB_E_CLASSNOTREG)));
    TAutoObjectPtr object(factory->CreateInstance());
    if (!dynamic_cast<TTypedAutoObject<T>*>(&*object))
        throw ComError(E_NOINTERFACE, Ansi(HResultText(E_NOINTERFACE)));
    return TInterfacePtr<T>(std::move(object));
}

} // namespace orvel
