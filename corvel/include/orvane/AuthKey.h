// Who a message speaks for: source, role and location levels and a user text.
// A value type; copy it freely between threads.
#pragma once

#include <string>

namespace Orvane {
namespace Data {

class AuthKey {
public:
    enum AuthSource { SOURCE_NONE = 0, SOURCE_INTERNAL = 50, SOURCE_WEB = 100 };
    enum AuthRole { ROLE_ANONYMOUS = 0, ROLE_GUEST = 30, ROLE_OWNER = 100 };
    enum AuthLocation { LOCATION_REMOTE = 0, LOCATION_HOST = 100 };

    AuthKey(int source, int role, int location, const std::string& text)
        : m_source(source), m_role(role), m_location(location), m_text(text) {}

    int source() const { return m_source; }
    int role() const { return m_role; }
    int location() const { return m_location; }
    const std::string& text() const { return m_text; }

private:
    int m_source;
    int m_role;
    int m_location;
    std::string m_text;
};

}  // namespace Data
}  // namespace Orvane
