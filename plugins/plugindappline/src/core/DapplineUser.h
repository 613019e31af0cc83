// A user of the plug-in's legacy USER table, read only to move it into the
// host's guest users. Value object.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

namespace Orvane {
namespace Dappline {

class DapplineUser {
public:
    DapplineUser(int id, const std::string& userName, const std::string& password)
        : id(id), userName(userName), password(password) {}
    virtual ~DapplineUser() = default;

    int id;
    std::string userName;
    std::string password;
};

typedef boost::shared_ptr<DapplineUser> DapplineUserPtr;

}  // namespace Dappline
}  // namespace Orvane
