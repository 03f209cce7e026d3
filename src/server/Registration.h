#pragma once
// Registration of the type library and the classes as files under $XDG_DATA_HOME: the interfaces' introspection
// data (the type library), "classes.reg" with the HKEY_CLASSES_ROOT entries, and one D-Bus activation file per class
// that starts the program with -Embedding.

#include "server/ComServer.h"

#include <string>
#include <vector>

namespace orvel {

// A registry entry could not be created; only a Register start ends on it.
class RegistryEntryError : public Error
{
public:
    RegistryEntryError();
};

struct TRegistrationFile
{
    std::string Path;
    std::string Content;
};

// $XDG_DATA_HOME, or ~/.local/share.
std::string DataHome();

// In the order they are written: the type library, then classes.reg and the classes' activation files.
std::vector<TRegistrationFile> TypeLibraryFiles(const TTypeLibrary& Library, const std::string& DataHome);
std::vector<TRegistrationFile> ClassFiles(const TComServer& Server, const std::string& ProgramPath,
                                          const std::string& DataHome);

// $XDG_CONFIG_HOME, or ~/.config.
std::string ConfigHome();
// The local checking service next to the program (installed) or in the build tree's service folder; empty when
// there is none.
std::string ServiceProgram(const std::string& ProgramPath);
// The same for orvelwddx-check.
std::string CheckProgram(const std::string& ProgramPath);
// The systemd user units under ConfigHome/systemd/user: a socket unit and its service unit that start the service on
// the first connection to Listen ("127.0.0.1:8590"), and a weekly timer with its service that updates the official
// bank directories in the user's data folder.
std::vector<TRegistrationFile> ServiceUnitFiles(const std::string& ServicePath, const std::string& Listen,
                                                const std::string& ConfigHome);
// The user timer that asks again, hourly, for the pending confirmations (orvelwddx-check journal --retry-pending):
// a oneshot service unit and its timer under ConfigHome/systemd/user.
std::vector<TRegistrationFile> RetryUnitFiles(const std::string& CheckPath, const std::string& ConfigHome);
// Asks a running systemd user manager to read the units, listen and start the timers now; without one nothing happens.
void ActivateServiceUnits();

// Writes each file atomically, and the service's units when the service is there. A type library that cannot be written throws Error with the system's message, a class
// entry RegistryEntryError.
void RegisterServer(const TComServer& Server, const std::string& ProgramPath);
// Removes exactly the files RegisterServer writes; missing ones are fine.
void UnregisterServer(const TComServer& Server);

} // namespace orvel
