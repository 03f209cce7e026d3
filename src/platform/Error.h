#pragma once

#include <stdexcept>
#include <string>

namespace orvel {

// A failure inside the objects. what() is 8-bit Windows-1252 text, ready to become a Resulttext.
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace orvel
