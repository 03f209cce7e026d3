#pragma once
// LC_NUMERIC switched to German (decimal comma, "." between thousands) for the lifetime of the object.

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace orvel::test {

class GermanNumeric
{
public:
    // Uses an installed German locale, or builds one with localedef into a temporary folder once.
    GermanNumeric()
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"})
            if (std::setlocale(LC_NUMERIC, name)) {
                Active = true;
                return;
            }
        const std::string folder = testing::TempDir() + "orvel-locales";
        setenv("LOCPATH", folder.c_str(), 1);
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
            Active = true;
            return;
        }
        std::filesystem::create_directories(folder);
        const std::string command = "localedef -i de_DE -f UTF-8 '" + folder + "/de_DE.UTF-8' >/dev/null 2>&1";
        Active = std::system(command.c_str()) != -1 && std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
    ~GermanNumeric()
    {
        std::setlocale(LC_NUMERIC, "C");
        unsetenv("LOCPATH");
    }
    GermanNumeric(const GermanNumeric&) = delete;
    GermanNumeric& operator=(const GermanNumeric&) = delete;

    bool Active = false;
};

} // namespace orvel::test
