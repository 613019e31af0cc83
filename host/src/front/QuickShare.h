// Shares a path at start-up: posts "quickshare" to the plug-in as the host
// itself (location 100), waits for the answer and turns the share name of
// its XML into the share page address. Used from the main thread.
#pragma once

#include <chrono>
#include <string>

#include "bridge/PendingReplies.h"

namespace Orvane {
namespace Host {

class QuickShare {
public:
    struct Result {
        std::string address;   // the share page
        bool existed = false;  // the path was shared already
    };

    QuickShare(PendingReplies& pending, const std::string& plugin,
               std::chrono::milliseconds timeout);

    // Throws Orvane::Exception when the path is missing or nothing was shared.
    Result share(const std::string& path);

    // The body "sharelocation=..." for a path (encoded so that the form
    // reading and the plug-in's own decoding give the path back).
    static std::string formBody(const std::string& path);
    // The unescaped text of the first <sharename>; "" when there is none.
    static std::string shareName(const std::string& xml);

private:
    std::string ask(const std::string& body);

    PendingReplies& m_pending;
    std::string m_plugin;
    std::chrono::milliseconds m_timeout;
};

}  // namespace Host
}  // namespace Orvane
