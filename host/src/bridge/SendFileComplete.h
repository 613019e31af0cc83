// Tells the service named in a "SEND_FILE" reply that its transfer has ended
// (finished, refused or broken off). Safe from any thread.
#pragma once

#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class SendFileComplete {
public:
    // Posts "SEND_FILE_COMPLETE" with the reply's token, as the owner, to the
    // service in "SEND_FILE_COMPLETE_SERVICE"; does nothing when none is named.
    static void post(const Data::Message& reply);
};

}  // namespace Host
}  // namespace Orvane
