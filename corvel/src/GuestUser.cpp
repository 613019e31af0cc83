// The XML form of a guest user, as the owner's console lists it.
#include "orvane/GuestUser.h"

#include "orvane/Util.h"

namespace Orvane {
namespace Data {

std::string GuestUser::toXML() const {
    return "<user><userid>" + std::to_string(m_id) + "</userid><username>" +
           Util::xmlEscape(m_name) + "</username></user>";
}

}  // namespace Data
}  // namespace Orvane
