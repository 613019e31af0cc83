#include "bridge/RequestTranslator.h"

#include <atomic>
#include <cstdint>
#include <random>

#include "http/HeaderText.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

// A token pairs a request with its reply inside this process; it must be
// unique and read as a UUID (the plug-in keys downloads by it), nothing
// more. Reading the system's random source for each cost a system call per
// request: half comes from a generator seeded once per thread, half from a
// process-wide counter, which alone keeps two tokens apart.
std::string RequestTranslator::newToken() {
    static std::atomic<std::uint64_t> counter{0};
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::uint8_t bytes[16];
    const std::uint64_t high = random();
    const std::uint64_t low = counter.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0f];
    }
    return text;
}

bool RequestTranslator::isWebDAVMethod(const std::string& method) {
    return method != "GET" && method != "HEAD" && method != "POST";
}

boost::shared_ptr<Data::Message> RequestTranslator::build(
    const Poco::Net::HTTPServerRequest& request, const RequestParts& parts,
    const Identity& identity) {
    auto msg = Util::MessageUtil::createNewMessage(parts.plugin, parts.operation);
    msg->sender = Service::SYNCPROXYSERVICE;
    // Everything here comes from the host's own reading of the request; no
    // header can raise the location or the role.
    msg->setAuthKey(Data::AuthKey(Data::AuthKey::SOURCE_WEB, identity.role,
                                  Data::AuthKey::LOCATION_REMOTE, identity.user));
    // Travels with the message to whichever thread handles it, so that what
    // the plug-in counts (its attempts tracker) is this client's alone.
    msg->clientAddress = request.clientAddress().host().toString();

    Data::VariantRow& req = (*msg)[HTTP::MS_HTTP_REQ];
    req[HTTP::S_HTTP_REQ_REQUEST] = parts.query;
    req[HTTP::S_HTTP_REQ_URL] = parts.rawPath;
    req[HTTP::S_HTTP_REQ_METHOD] = request.getMethod();
    if (request.has("Range"))
        req[HTTP::S_HTTP_REQ_RANGE] = HeaderText::clean(request.get("Range"));
    if (request.has("User-Agent")) {
        req[HTTP::S_HTTP_REQ_USER_AGENT] = HeaderText::clean(request.get("User-Agent"));
    }
    if (identity.hasCredentials)
        req[HTTP::S_HTTP_REQ_CREDENTIALS_INFO] = identity.credentials;
    if (isWebDAVMethod(request.getMethod())) {
        req[HTTP::S_HTTP_REQ_WEBDAV_OPERATION] = request.getMethod();
        if (request.has("Destination")) {
            req[HTTP::S_HTTP_REQ_DESTINATION] = HeaderText::clean(request.get("Destination"));
        }
    }
    (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = newToken();
    if (parts.hasBody)
        msg->setRawData(parts.body);
    return msg;
}

}  // namespace Host
}  // namespace Orvane
