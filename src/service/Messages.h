#pragma once
// What the service says to a person (mistakes in its arguments and settings files, why it cannot start), in German
// under a German locale (LC_ALL, LC_MESSAGES or LANG de_*), in English otherwise. The service links no Qt, so a table
// of its own stands in for a translation, with the English text as the key. Lines that programs read (the settings
// line at start, "serving …", warnings, lock-outs, the reports a minute) are not said through it.

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvel::service {

// As Qt and the C library choose the language of messages: the first of LC_ALL, LC_MESSAGES and LANG that is set.
bool GermanLocale();

// The text in the locale's language, each "{}" replaced by the next of the arguments.
std::string Say(std::string_view english, std::initializer_list<std::string_view> arguments = {});

} // namespace orvel::service
