#pragma once
// An environment variable set (or unset) for the life of the object.

#include <cstdlib>
#include <optional>
#include <string>

namespace orvel::test {

class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const char* value) : Name(name)
    {
        if (const char* old = std::getenv(name))
            Old = old;
        Set(value);
    }
    ~ScopedEnvironment() { Set(Old ? Old->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const char* value) { value ? ::setenv(Name, value, 1) : ::unsetenv(Name); }

    const char* Name;
    std::optional<std::string> Old;
};

} // namespace orvel::test
