// The profile's mail server settings (smtp.host, smtp.port, smtp.user,
// smtp.password, smtp.starttls, smtp.from of host.properties) for the owner
// console: read without the password itself, and saved into host.properties
// (written whole to a temporary file, mode 0600, then renamed into place)
// and into the running profile, so the next mail uses them. Throws
// OwnerError. Saving is serialised by a lock of its own; thread-safe.
#pragma once

#include <Poco/Net/HTMLForm.h>

#include <string>

namespace Orvane {
namespace Host {

class OwnerMailSettings {
public:
    // {"host":S,"port":S,"user":S,"from":S,"starttls":bool,"passwordSet":bool}
    static std::string read();
    // Form fields "host", "port", "user", "from", "starttls" ("1" or
    // absent) are stored as given; "password" only when the form has it (an
    // empty one removes it). Answers as read().
    static std::string save(const Poco::Net::HTMLForm& form);
};

}  // namespace Host
}  // namespace Orvane
