#include "http/ResponseBody.h"

namespace Orvane {
namespace Host {

void ResponseBody::send(Poco::Net::HTTPServerResponse& response, int status,
                        const std::string& contentType, const std::string& cacheControl,
                        const std::string& body) {
    response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
    response.setContentType(contentType);
    response.set("Cache-Control", cacheControl);
    response.set("X-Content-Type-Options", "nosniff");
    response.setContentLength(static_cast<std::streamsize>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

}  // namespace Host
}  // namespace Orvane
