#pragma once
// What the main window and its panels share: the general error display, the wait cursor and the single pass of
// pending events at the start of a check.

#include <exception>
#include <stdexcept>
#include <utility>

class QWidget;

namespace orvel {

// The general error display: a message box over Parent with the error's text (8-bit, Windows-1252); the program
// goes on.
void ShowException(QWidget* Parent, const std::exception& Error);

// Runs Action; an error that escapes it goes to the general error display. Every slot runs its work through this,
// so no exception ever reaches Qt's event loop.
template <class F> void Guarded(QWidget* Parent, F&& Action)
{
    try {
        std::forward<F>(Action)();
    } catch (const std::exception& error) {
        ShowException(Parent, error);
    } catch (...) {
        ShowException(Parent, std::runtime_error("Unbekannter Fehler"));
    }
}

// The wait cursor for the life of a check; afterwards the cursor from before, also when the check throws.
class TWaitCursor
{
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// One pass over the events that are waiting: a click or a timer tick queued meanwhile runs now, before the check
// blocks the window.
void ProcessPendingEvents();

} // namespace orvel
