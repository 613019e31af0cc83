#include "owner/OwnerGuests.h"

#include <Poco/RandomStream.h>

#include <vector>

#include "orvane/GuestUserManager.h"
#include "owner/OwnerError.h"
#include "owner/OwnerJson.h"

namespace Orvane {
namespace Host {

using API::GuestUserManager;

namespace {

const std::string kAlphabet = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
const std::size_t kPasswordLength = 12;
const std::size_t kMaxPassword = 1024;

std::string existingName(const Poco::Net::HTMLForm& form) {
    const std::string name = form.get("name", "");
    if (name.empty())
        throw OwnerError(400, "Name the guest.");
    if (GuestUserManager::getGuestUserID(name) == -1)
        throw OwnerError(404, "There is no guest named " + name + ".");
    return name;
}

// The typed password, or a generated one (then `generated` is set).
std::string chosenPassword(const Poco::Net::HTMLForm& form, bool& generated) {
    const std::string typed = form.get("password", "");
    generated = typed.empty();
    if (typed.size() > kMaxPassword)
        throw OwnerError(400, "The password is too long.");
    if (!generated && !GuestUserManager::isLongEnough(typed))
        throw OwnerError(400, GuestUserManager::passwordRule());
    return generated ? OwnerGuests::generatePassword() : typed;
}

OwnerJson& passwordField(OwnerJson& json, bool generated, const std::string& password) {
    return generated ? json.field("password", password) : json.null("password");
}

}  // namespace

OwnerGuests::OwnerGuests(SessionStore& sessions) : m_sessions(sessions) {}

std::string OwnerGuests::generatePassword() {
    Poco::RandomInputStream random;
    std::string password;
    // Bytes above the largest multiple of the alphabet's size are dropped,
    // so that every character is equally likely.
    const unsigned limit = 256 - 256 % kAlphabet.size();
    while (password.size() < kPasswordLength) {
        const unsigned byte = static_cast<unsigned char>(random.get());
        if (byte < limit)
            password += kAlphabet[byte % kAlphabet.size()];
    }
    return password;
}

std::string OwnerGuests::list() const {
    GuestUserManager::GuestUserList users;
    if (!GuestUserManager::guestUserCollectionGet(users))
        throw OwnerError(500, "The guest users cannot be read.");
    std::vector<OwnerJson> guests;
    for (const auto& user : users)
        guests.push_back(OwnerJson().field("id", user->getId()).field("name", user->getName()));
    return OwnerJson().array("guests", guests).str();
}

std::string OwnerGuests::add(const Poco::Net::HTMLForm& form) const {
    const std::string name = form.get("name", "");
    if (!name.empty() && GuestUserManager::getGuestUserID(name) != -1)
        throw OwnerError(409, "There is already a guest named " + name + ".");
    bool generated = false;
    const std::string password = chosenPassword(form, generated);
    const int id = GuestUserManager::addGuestUser(name, password);
    if (id < 0) {
        throw OwnerError(400,
                         "A guest name must not be empty, hold a colon or control characters, "
                         "or begin or end with a blank.");
    }
    OwnerJson json;
    json.field("id", id).field("name", name);
    return passwordField(json, generated, password).str();
}

std::string OwnerGuests::setPassword(const Poco::Net::HTMLForm& form) const {
    const std::string name = existingName(form);
    bool generated = false;
    const std::string password = chosenPassword(form, generated);
    if (!GuestUserManager::setGuestUserPassword(name, password))
        throw OwnerError(500, "The password of " + name + " could not be changed.");
    // Whoever signed in with the old password is signed out.
    m_sessions.removeUser(SessionStore::GUEST, name);
    OwnerJson json;
    json.field("name", name);
    return passwordField(json, generated, password).str();
}

std::string OwnerGuests::remove(const Poco::Net::HTMLForm& form) const {
    const std::string name = existingName(form);
    if (!GuestUserManager::removeGuestUser(name))
        throw OwnerError(500, "The guest " + name + " could not be removed.");
    m_sessions.removeUser(SessionStore::GUEST, name);
    return OwnerJson().field("name", name).field("removed", true).str();
}

}  // namespace Host
}  // namespace Orvane
