#include "OwnerApi.h"

#include <Poco/Net/HTTPServerResponse.h>

#include "HttpErrors.h"

namespace Orvane {
namespace Host {

OwnerApi::OwnerApi(FrontContext& context, const std::string& endpoint)
    : m_context(context), m_endpoint(endpoint) {}

// Not built yet: nothing answers here.
void OwnerApi::handleRequest(Poco::Net::HTTPServerRequest&,
                             Poco::Net::HTTPServerResponse& response) {
    HttpErrors::send(response, Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
}

}  // namespace Host
}  // namespace Orvane
