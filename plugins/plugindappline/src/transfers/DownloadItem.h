// One file transfer in progress, kept from the SEND_FILE reply until the host
// reports the transfer's end. Value type; the plug-in guards the map it lives in.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Dappline {

class DownloadItem {
public:
    DownloadItem() = default;
    DownloadItem(const std::string& filePath, bool deleteWhenSent, const std::string& userName,
                 std::uint64_t fileSize)
        : filePath(filePath),
          deleteWhenSent(deleteWhenSent),
          userName(userName),
          fileSize(fileSize) {}

    std::string filePath;
    bool deleteWhenSent = false;
    std::string userName;
    std::uint64_t fileSize = 0;  // as given to sendChunkedFile, for the download list
};

}  // namespace Dappline
}  // namespace Orvane
