// The WebDAV server on share addresses: for every method other than GET,
// HEAD and POST below /app/<plugin>/share/, asks the plug-in which folder
// the address maps to and what the visitor may do there, then serves the
// method on the file system (OPTIONS, PROPFIND, PROPPATCH, MKCOL, PUT,
// DELETE, COPY, MOVE, LOCK, UNLOCK). One object per request, on the
// server's thread.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"
#include "webdav/WebDAVTarget.h"

namespace Orvane {
namespace Host {

class WebDAVHandler : public Poco::Net::HTTPRequestHandler {
public:
    WebDAVHandler(FrontContext& context, const RequestParts& parts);

    // True for a WebDAV method on a share address.
    static bool wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    // The plug-in's decision; false when the host has answered already.
    bool ask(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
             WebDAVTarget& target);
    void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
               const WebDAVTarget& target);
    void dropBody(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

    FrontContext& m_context;
    RequestParts m_parts;
    std::string m_address;
};

}  // namespace Host
}  // namespace Orvane
