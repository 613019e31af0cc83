// Authorization and Cookie headers through the host's reading of them:
// Basic credentials, bearer tokens and session cookies. The input is used
// as the header values, and its bytes as credentials that must survive
// being sent as Basic.
#include <Poco/Base64Encoder.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/SocketAddress.h>

#include <sstream>

#include "FuzzCheck.h"
#include "auth/Authenticator.h"

using Orvane::Host::Authenticator;

namespace {

// Only the headers of a request are read; the connection is never asked for.
class HeaderOnlyRequest : public Poco::Net::HTTPServerRequest {
public:
    std::istream& stream() override { return m_body; }
    const Poco::Net::SocketAddress& clientAddress() const override { return m_address; }
    const Poco::Net::SocketAddress& serverAddress() const override { return m_address; }
    const Poco::Net::HTTPServerParams& serverParams() const override { std::abort(); }
    Poco::Net::HTTPServerResponse& response() const override { std::abort(); }
    bool secure() const override { return false; }

private:
    std::istringstream m_body;
    Poco::Net::SocketAddress m_address;
};

std::string base64(const std::string& text) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzzText(data, size);
    {
        HeaderOnlyRequest request;
        request.set("Authorization", text);
        request.set("Cookie", text);
        std::string credentials, token;
        if (Authenticator::basicCredentials(request, credentials)) {
            FUZZ_CHECK(credentials.find(':') != std::string::npos, "credentials without a colon");
            FUZZ_CHECK(credentials.find('\0') == std::string::npos, "credentials with a NUL byte");
        }
        if (Authenticator::bearerToken(request, token))
            FUZZ_CHECK(!token.empty(), "an empty bearer token");
        Authenticator::cookie(request, Authenticator::OWNER_COOKIE);
        Authenticator::cookie(request, Authenticator::GUEST_COOKIE);
    }
    {
        // What a client sends as Basic comes back unchanged.
        HeaderOnlyRequest request;
        request.set("Authorization", "Basic " + base64(text));
        std::string credentials;
        const bool usable =
            text.find(':') != std::string::npos && text.find('\0') == std::string::npos;
        FUZZ_CHECK(Authenticator::basicCredentials(request, credentials) == usable,
                   "Basic credentials refused or taken wrongly");
        if (usable)
            FUZZ_CHECK(credentials == text, "Basic credentials changed on the way");
    }
    return 0;
}
