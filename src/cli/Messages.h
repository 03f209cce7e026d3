#pragma once
// orvelwddx-check's own messages in the user's language, through Qt's translation system: German under a German
// locale (LC_ALL, LC_MESSAGES or LANG de_*), otherwise English as written in the code. Results, column names, JSON
// keys and the cells a batch writes are never translated: scripts and spreadsheets read them.

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvel::cli {

// Loads the translation for the locale; before any thread, once.
void LoadTranslation();

// Source in the user's language (UTF-8), "%1" to "%9" replaced by Args in one pass.
std::string Tr(const char* Source, std::initializer_list<std::string_view> Args = {});

} // namespace orvel::cli
