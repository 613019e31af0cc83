// One resumable upload's own address, /app/<plugin>/tus/<id>: HEAD tells
// how far it got, PATCH appends, DELETE ends it, OPTIONS describes the
// protocol. Only whoever created the upload reaches it; anybody else, like
// an unknown or expired id, gets 404. One object per request, on the
// server's thread.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>

#include <string>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"
#include "tus/TusEntry.h"

namespace Orvane {
namespace Host {

class TusResource : public Poco::Net::HTTPRequestHandler {
public:
    static constexpr const char* PREFIX = "tus/";

    TusResource(FrontContext& context, const RequestParts& parts);

    // Every request below the plug-in's "tus/".
    static bool wants(const RequestParts& parts);
    // The address of an upload of `plugin`.
    static std::string addressOf(const std::string& plugin, const std::string& id);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    // The upload, when it is the visitor's; null after answering 404.
    TusEntryPtr find(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                     const Identity& identity);
    void head(Poco::Net::HTTPServerResponse& response, const TusEntryPtr& entry);
    void patch(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
               const TusEntryPtr& entry, const Identity& identity);
    void refuse(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                int status, const std::string& text);

    FrontContext& m_context;
    RequestParts m_parts;
};

}  // namespace Host
}  // namespace Orvane
