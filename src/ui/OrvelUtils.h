#pragma once
// What the main window and its panels share: the general error display, the wait cursor, the single pass of
// pending events at the start of a check and the input filter of the account fields.

#include "platform/Codepage.h"
#include "platform/Error.h"

#include <QString>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <utility>

class QLineEdit;
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

// Qt's own texts in German (the standard buttons, the fields' context menus, the file dialog), as the window is
// German whatever the locale; once per application, and without a word when the translations are not installed.
void LoadQtGermanTranslations();

// The wait cursor for the life of a check; afterwards the cursor from before, also when the check throws.
class TWaitCursor
{
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Runs its action when it goes out of scope, also when an exception passes: the "finally" of a check.
template <class F> class TFinally
{
public:
    explicit TFinally(F Action) : FAction(std::move(Action)) {}
    ~TFinally() { FAction(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FAction;
};

// One pass over the events that are waiting: a click or a timer tick queued meanwhile runs now, before the check
// blocks the window.
void ProcessPendingEvents();

// What the result area adds under a check's transport error when nothing answered on Host (the connection was
// refused): how to start the local checking service. Empty for every other answer.
QString ServiceDownHint(int32_t Result, const QString& Resulttext, const QString& Host);
// The hint's first line, short enough for a result field, for where the whole hint goes to the tooltip.
QString ServiceDownLine();
// Runs a web-services call to Host; a refused connection fails with the same hint under the transport error.
template <class F> auto WithServiceDownHint(const QString& Host, F&& Call) -> decltype(Call())
{
    try {
        return std::forward<F>(Call)();
    } catch (const Error& error) {
        const QString text = QString::fromStdU16String(Widen(error.what()));
        const QString hint = ServiceDownHint(-200, text, Host);
        if (hint.isEmpty())
            throw;
        throw Error(Narrow((text + QStringLiteral("\n") + hint).toStdU16String()));
    }
}

// Places a window in the middle of its screen.
void CentreOnScreen(QWidget& Window);

// True when every character of Text is one of 0 to 9 (also for the empty text).
bool IsAllDigits(const QString& Text);

// A field's text with letters a to z as capitals and everything but 0 to 9 and A to Z dropped, and where its caret
// goes: behind the same kept characters as before, so a dropped keystroke leaves the caret where it was and a pasted
// text in the middle of the field keeps the caret at the end of the paste.
struct TFilteredText
{
    QString Text;
    int Caret = 0;
};
TFilteredText FilterUpperAlnum(const QString& Text, int Caret);
// Applies the filter to Edit; touches the field only when the filter changed its text.
void FilterUpperAlnum(QLineEdit& Edit);

} // namespace orvel
