// The host's guest users, kept in the profile's guestusers.db with salted
// PBKDF2-SHA256 passwords (600,000 rounds; older rows are re-hashed at their
// next correct sign-in). A correct name and password are remembered for ten
// minutes (as an HMAC under a key of this process), forgotten at any change
// to the users, and honoured only while the guest's row is unchanged (so a
// change made by another process counts too). Two views of the same store: the static API used by
// everyone, and a store object a plug-in may own. Both are thread-safe.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "orvane/GuestUser.h"

namespace Orvane {
namespace API {

class GuestUserManager {
public:
    typedef std::vector<boost::shared_ptr<Data::GuestUser>> GuestUserList;

    // -1 when no such user exists (or, with a password, when it is wrong;
    // an unknown name takes as long as a wrong password).
    static int getGuestUserID(const std::string& name);
    static int getGuestUserID(const std::string& name, const std::string& password);
    // Null when no such user exists. The password field is left empty.
    static boost::shared_ptr<Data::GuestUser> guestUserGet(int id);
    // Ordered by name.
    static bool guestUserCollectionGet(GuestUserList& list);

    // Host-side management (the host's command line and owner console).
    // addGuestUser returns the new id, -1 when the name is taken or invalid.
    static int addGuestUser(const std::string& name, const std::string& password);
    static bool removeGuestUser(const std::string& name);
    static bool setGuestUserPassword(const std::string& name, const std::string& password);

    // What the owner's tools ask of a new password: at least this many
    // characters (not bytes). The store itself takes any non-empty one, so
    // that the passwords of older installations can still be carried over.
    static const std::size_t MIN_PASSWORD_CHARACTERS = 10;
    static bool isLongEnough(const std::string& password);
    // The rule as the owner is told it.
    static std::string passwordRule();

    // Password hashes computed by this process, for statistics.
    static std::uint64_t passwordHashesComputed();
};

}  // namespace API

namespace Data {

class GuestUserManager {
public:
    GuestUserManager() = default;
    virtual ~GuestUserManager() = default;

    // Null when no such user exists.
    boost::shared_ptr<GuestUser> guestUserGet(int id);
    // -1 when no such user exists.
    int getGuestUserId(const std::string& name);
    // Stores the user with its password hashed; sets the new id. False when
    // the name is taken.
    bool guestUserAdd(GuestUser& user);
    // Renames and re-hashes the password of the user with that id.
    bool guestUserUpdate(const GuestUser& user);
};

}  // namespace Data
}  // namespace Orvane
