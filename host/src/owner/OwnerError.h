// The failure of an owner console endpoint: an HTTP status and a sentence
// for the owner, thrown inside the endpoint and turned into the JSON error
// answer by OwnerApi. Value type.
#pragma once

#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

class OwnerError : public std::runtime_error {
public:
    OwnerError(int status, const std::string& message)
        : std::runtime_error(message), m_status(status) {}

    int status() const { return m_status; }

private:
    int m_status;
};

}  // namespace Host
}  // namespace Orvane
