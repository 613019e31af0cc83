// The failure of a file-system call while files are written, copied or
// removed, with its errno, so that callers can tell a full disk from a
// refusal. Value type.
#pragma once

#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

class WriteFailure : public std::runtime_error {
public:
    WriteFailure(const std::string& what, int error) : std::runtime_error(what), m_error(error) {}
    int error() const { return m_error; }
    // Disk full, quota or file size limit: nothing more fits (a client is
    // told 507).
    bool noSpace() const;

private:
    int m_error;
};

}  // namespace Host
}  // namespace Orvane
