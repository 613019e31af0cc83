// Sending mail through the SMTP server of the profile's smtp.* settings.
// Thread-safe; each call opens its own connection.
#pragma once

#include <string>

namespace Orvane {
namespace API {

class EmailManager {
public:
    // True when the server accepted the mail; otherwise false with the
    // server's or the host's reason ("Mail server is not configured").
    static bool sendHTMLEmail(const std::string& senderName, const std::string& recipient,
                              const std::string& subject, const std::string& htmlBody,
                              const std::string& replyTo, std::string& reason);
};

}  // namespace API
}  // namespace Orvane
