#pragma once
// The type library OrvelWddx: identifiers, the table of its interfaces and coclasses, and the class creators.

#include "objects/Address.h"
#include "objects/Tarvik.h"
#include "objects/UStID.h"
#include "server/Bindings.h"

namespace orvel {

inline constexpr std::string_view LIBID_OrvelWddx = "{8EEDB9DC-2C16-46F0-A7FB-87F1E615F463}";

inline constexpr std::string_view IID_ITarvik = "{896DE45F-9FEE-4AD3-8E6E-E2129894765A}";
inline constexpr std::string_view IID_IAddress = "{94412E3A-2D62-4D3E-A953-138087AEDBC1}";
inline constexpr std::string_view IID_IUStID = "{F3C020E0-8069-492A-A667-84DA64D2A0FF}";

inline constexpr std::string_view CLASS_Tarvik = "{B8765485-DA5F-4901-827F-490001F070B2}";
inline constexpr std::string_view CLASS_Address = "{08D195CF-A291-4188-B89C-8CC42A0959F3}";
inline constexpr std::string_view CLASS_UStID = "{8A92484B-1060-49B2-84EF-AE633A3486A3}";

const TTypeLibrary& OrvelWddxTypeLibrary();

// Registers the class objects of this program with Server, in the order Tarvik, Address, UStID.
void RegisterClassFactories(TComServer& Server);

using ITarvik = TInterfacePtr<TTarvik>;
using IAddress = TInterfacePtr<TAddress>;
using IUStID = TInterfacePtr<TUStID>;

// The class creators find the class objects the running process registered.
struct CoTarvik
{
    static ITarvik Create() { return CoCreateInstance<TTarvik>(CLASS_Tarvik); }
};

struct CoAddress
{
    static IAddress Create() { return CoCreateInstance<TAddress>(CLASS_Address); }
};

struct CoUStID
{
    static IUStID Create() { return CoCreateInstance<TUStID>(CLASS_UStID); }
};

} // namespace orvel
