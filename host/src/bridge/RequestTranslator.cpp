#include "bridge/RequestTranslator.h"

#include <Poco/UUIDGenerator.h>

#include "http/HeaderText.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

std::string RequestTranslator::newToken() {
    return Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
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
