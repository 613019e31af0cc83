// Who runs this host: the owner's display name and the machine's peer id.
// Value type.
#pragma once

#include <string>

namespace Orvane {
namespace Data {

class PeerID {
public:
    PeerID() = default;
    PeerID(const std::string& name, const std::string& id) : name(name), id(id) {}

    std::string name;
    std::string id;
};

}  // namespace Data
}  // namespace Orvane
