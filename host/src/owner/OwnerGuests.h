// The host's guest users for the owner console: list, add (with a typed or
// a generated password), new password, remove. A typed password needs the
// store's minimum length. A new password or a removal ends the guest's
// sign-in sessions. Throws OwnerError; the guest store and
// the session store are thread-safe, so is this.
#pragma once

#include <Poco/Net/HTMLForm.h>

#include <string>

#include "auth/SessionStore.h"

namespace Orvane {
namespace Host {

class OwnerGuests {
public:
    explicit OwnerGuests(SessionStore& sessions);

    // {"guests":[{"id":N,"name":S},...]} by name.
    std::string list() const;
    // Form "name", "password" (empty or absent: one is generated).
    // {"id":N,"name":S,"password":S|null}: the password only when generated,
    // the one time it is shown.
    std::string add(const Poco::Net::HTMLForm& form) const;
    // Form "name", "password" (as for add). {"name":S,"password":S|null}.
    std::string setPassword(const Poco::Net::HTMLForm& form) const;
    // Form "name". {"name":S,"removed":true}.
    std::string remove(const Poco::Net::HTMLForm& form) const;

    // Twelve characters from letters and digits that cannot be mistaken for
    // one another, from the system's random source.
    static std::string generatePassword();

private:
    SessionStore& m_sessions;
};

}  // namespace Host
}  // namespace Orvane
