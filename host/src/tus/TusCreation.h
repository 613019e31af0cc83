// Resumable uploads begin on the plug-in's own upload addresses, so that
// its decisions apply unchanged: the share page's "upload?..." and the
// explorer's "START_GUEST_UPLOAD?path=...". A tus POST there asks the
// plug-in (START_UPLOAD, or START_GUEST_UPLOAD) with the address's query
// as a multipart upload does, answers its refusal page (403, or 401 with
// the realm), claims the declared Upload-Length in the share (413 over the
// limit, 507 at the disk's floor) and answers 201 with the upload's own
// address, storing the body it may already bring. OPTIONS there describes
// the protocol, with the share's room left when it has a limit. One object
// per request, on the server's thread.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>

#include <string>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"
#include "orvane/Message.h"
#include "tus/TusRecord.h"

namespace Orvane {
namespace Host {

class TusCreation : public Poco::Net::HTTPRequestHandler {
public:
    TusCreation(FrontContext& context, const RequestParts& parts);

    // OPTIONS, or a POST saying Tus-Resumable, on an upload address.
    static bool wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    void options(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    void create(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    // Reads the request's length and metadata into `record`; false after
    // answering 400 or 415.
    bool describe(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                  TusRecord& record);
    // The plug-in's answer; null when there is none to act on (after
    // answering it, unless `quiet`).
    MessagePtr ask(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                   bool quiet);
    void refuse(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                const Data::Message& reply);
    void start(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
               TusRecord& record, const Data::Message& reply);
    void drop(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    bool isExplorer() const;

    FrontContext& m_context;
    RequestParts m_parts;
    Identity m_identity;
    std::string m_address;
};

}  // namespace Host
}  // namespace Orvane
