#pragma once
// An environment variable set (or removed) for the life of a test object, then restored.

#include <cstdlib>
#include <optional>
#include <string>

namespace orvel::test {

class ScopedEnvironment
{
public:
    // value nullptr removes the variable.
    ScopedEnvironment(std::string name, const char* value) : Name(std::move(name))
    {
        if (const char* old = std::getenv(Name.c_str()))
            Previous = old;
        if (value)
            ::setenv(Name.c_str(), value, 1);
        else
            ::unsetenv(Name.c_str());
    }
    ~ScopedEnvironment()
    {
        if (Previous)
            ::setenv(Name.c_str(), Previous->c_str(), 1);
        else
            ::unsetenv(Name.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string Name;
    std::optional<std::string> Previous;
};

} // namespace orvel::test
