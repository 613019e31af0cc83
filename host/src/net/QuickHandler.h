// A mark on a request handler that, for a request without a body, only
// checks what it holds in memory, posts the request and parks its answer
// (ServerResponse::park): such a handler may run on the listener's thread,
// which then hands no request to a worker. Any thread.
#pragma once

namespace Orvane {
namespace Host {

class QuickHandler {
public:
    virtual ~QuickHandler() = default;
};

}  // namespace Host
}  // namespace Orvane
