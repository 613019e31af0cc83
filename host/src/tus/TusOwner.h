// Who a resumable upload belongs to, as a key kept in its record: the owner,
// a signed-in guest by name, a visitor by the Basic credentials it sent
// (their hash, salted with the upload's id, never the password itself) or
// an anonymous client by its address. Requests of anybody else are told
// the upload does not exist. Pure functions, thread-safe.
#pragma once

#include <string>

#include "auth/Authenticator.h"

namespace Orvane {
namespace Host {

class TusOwner {
public:
    static std::string keyOf(const Identity& identity, const std::string& clientAddress,
                             const std::string& uploadId);
    // Compares without stopping at the first difference.
    static bool same(const std::string& a, const std::string& b);
};

}  // namespace Host
}  // namespace Orvane
