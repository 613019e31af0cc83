#include "tus/TusOwner.h"

#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>

#include "orvane/AuthKey.h"

namespace Orvane {
namespace Host {

std::string TusOwner::keyOf(const Identity& identity, const std::string& clientAddress,
                            const std::string& uploadId) {
    if (identity.role == Data::AuthKey::ROLE_OWNER)
        return "owner";
    if (identity.role == Data::AuthKey::ROLE_GUEST)
        return "guest:" + identity.user;
    if (identity.hasCredentials) {
        Poco::SHA2Engine sha(Poco::SHA2Engine::SHA_256);
        sha.update(uploadId + "\n" + identity.credentials);
        return "basic:" + Poco::DigestEngine::digestToHex(sha.digest());
    }
    return "anonymous:" + clientAddress;
}

bool TusOwner::same(const std::string& a, const std::string& b) {
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace Host
}  // namespace Orvane
