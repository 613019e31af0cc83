// The host's own exception. It is not a Poco exception, so handlers that test
// for Poco first still tell the two apart. Value type.
#pragma once

#include <stdexcept>
#include <string>

namespace Orvane {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
    std::string displayText() const { return std::string("Orvane Exception: ") + what(); }
};

}  // namespace Orvane
