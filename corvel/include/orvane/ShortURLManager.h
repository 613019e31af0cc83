// Short links of the host: an 8-character code per host path, kept in the
// profile's shorturls.db; GET /url<code> answers a redirect to the path.
// Thread-safe.
#pragma once

#include <string>

namespace Orvane {
namespace Misc {

class ShortURLManager {
public:
    // The existing code when the path is registered already, else a new one.
    bool addShortURL(const std::string& path, std::string& code);
    // Accepts a code or a path. False when neither is registered.
    bool deleteShortURL(const std::string& codeOrPath);
    bool resolveShortURL(const std::string& code, std::string& path);
};

}  // namespace Misc

Misc::ShortURLManager& ShortURLManager();

}  // namespace Orvane
