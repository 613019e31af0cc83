// One download or upload of the transfer history. Value object; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Dappline {

class DapplineHistory {
public:
    DapplineHistory(int shareId, const std::string& location, std::int64_t fileSize,
                    const std::string& date, int userId, const std::string& userName,
                    bool isUpload = false)
        : shareId(shareId),
          location(location),
          fileSize(fileSize),
          date(date),
          userId(userId),
          userName(userName),
          isUpload(isUpload) {}
    virtual ~DapplineHistory() = default;

    std::string toXML() const;
    // The current time in the form of date.
    static std::string now();

    std::int32_t id = 0;
    std::int32_t shareId;
    std::string location;
    std::int64_t fileSize;
    std::string date;  // UTC, YYYY-MM-DD HH:MM:SS
    std::int32_t userId;
    std::string userName;
    bool isUpload;
};

}  // namespace Dappline
}  // namespace Orvane
