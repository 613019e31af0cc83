#include "store/DapplineHistory.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>

#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {
namespace {

// EncodeString passes bytes that are not UTF-8 through, and one such file
// or folder name would spoil the whole answer for an XML parser.
std::string escape(const std::string& text) {
    return Util::xmlEscape(text);
}

}  // namespace

std::string DapplineHistory::toXML() const {
    // The user name is escaped too: a guest's name may hold "&" or "<", and
    // an anonymous visitor's name is whatever the request carried.
    return "<history><id>" + std::to_string(id) + "</id><shareid>" + std::to_string(shareId) +
           "</shareid><sharelocation>" + escape(location) + "</sharelocation><filesize>" +
           Util::readableFileSize(fileSize, 0) + "</filesize><date>" +
           Util::localTimeStrFromUTCStr(date) + "</date><userid>" + std::to_string(userId) +
           "</userid><username>" + escape(userName) + "</username></history>";
}

std::string DapplineHistory::now() {
    return Poco::DateTimeFormatter::format(Poco::Timestamp(),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

}  // namespace Dappline
}  // namespace Orvane
