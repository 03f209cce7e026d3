#pragma once
// Start-up of an automation server program and its end.

#include "server/ComServer.h"

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace orvel {

struct TServerProgram
{
    const TTypeLibrary& Library;
    std::function<void(TComServer&)> RegisterFactories; // in the order the classes are registered
    std::string Title;                                  // the application title, UTF-8
    // Creates every window of the program and returns the main window; runs in every serving start. No window ends
    // the start at once with 0 (another process shows it); an error ends it with its message.
    std::function<std::unique_ptr<QWidget>()> CreateWindows;
};

// Class objects, start mode, registration, the class objects on the bus, title, windows, then the message loop
// until the program ends. Returns the exit code.
int RunComServer(int argc, char** argv, const TServerProgram& Program);

// For the main window's close handler, after the window released its own objects. In a standalone start with
// objects still held by clients it asks first. True when the program ends; it then leaves the message loop.
bool TerminateApplication();

} // namespace orvel
