// The share record: a name bound to a folder or file with its expiry, view
// mode, limits and public switch, and the XML forms the owner's screens and
// the explorer read. A value object; copies are independent.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

namespace Orvane {
namespace Dappline {

class Dappline {
public:
    Dappline() = default;
    Dappline(const std::string& name, const std::string& location, const std::string& viewMode,
             const std::string& validityPeriod, std::int64_t sizeLimit, int viewSize, int thumbSize,
             int allowPublicAccess);
    Dappline(int id, const std::string& name, const std::string& location,
             const std::string& viewMode, const std::string& validityPeriod, std::int64_t sizeLimit,
             int viewSize, int thumbSize, int allowPublicAccess);
    virtual ~Dappline() = default;

    void setAllowEdit(bool allow) { allowEdit = allow; }
    void setAllowDelete(bool allow) { allowDelete = allow; }

    std::string toXML(bool relativeOldUrl) const;
    std::string getURL(bool codeOnly) const;
    std::string toDirListXML() const;
    std::string toFileListXML() const;
    // True when the validity text is set and lies before the current UTC time.
    bool isExpired() const;

    std::int32_t shareId = 0;
    std::string shareName;
    std::string shareLocation;
    std::string viewMode;
    std::string validityPeriod;
    std::int64_t shareSizeLimit = 0;  // KiB, 0 for none
    std::int32_t viewSize = 0;
    std::int32_t thumbSize = 0;
    std::int32_t allowPublicAccess = 0;
    bool allowEdit = true;
    bool allowDelete = true;
};

typedef boost::shared_ptr<Dappline> DapplinePtr;

}  // namespace Dappline
}  // namespace Orvane
