// A guest user of the host: id, name and password (clear text only on the way
// in; the store keeps a salted hash). Value type.
#pragma once

#include <string>

namespace Orvane {
namespace Data {

class GuestUser {
public:
    GuestUser() = default;
    GuestUser(int id, const std::string& name, const std::string& password)
        : m_id(id), m_name(name), m_password(password) {}
    GuestUser(const std::string& name, const std::string& password)
        : m_name(name), m_password(password) {}

    int getId() const { return m_id; }
    void setId(int id) { m_id = id; }
    const std::string& getName() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    const std::string& getPassword() const { return m_password; }
    void setPassword(const std::string& password) { m_password = password; }

    // <user><userid>ID</userid><username>NAME</username></user>, name escaped.
    std::string toXML() const;

private:
    int m_id = -1;
    std::string m_name;
    std::string m_password;
};

}  // namespace Data
}  // namespace Orvane
