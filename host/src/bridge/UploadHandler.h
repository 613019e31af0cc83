// The upload path, POST /app/<plugin>/upload with multipart/form-data: asks
// the plug-in ("START_UPLOAD") whether and where files may be stored, then
// streams each file part into that folder through a temporary file, gives
// it a free name, tells the plug-in of it ("FINISH_UPLOAD") and answers with
// the plug-in's page. The explorer's uploads, POST
// /app/<plugin>/START_GUEST_UPLOAD?path=<folder>, ask with
// "START_GUEST_UPLOAD" (the plug-in passes it on to the host's explorer,
// which answers), are stored alike and answered with the host's result XML.
// The room the upload declares is reserved in its share before the first
// byte and every chunk is charged to it (a chunked body too), so that the
// share's size limit and the free-disk floor hold while files arrive.
// 401/403 without reading a file, 403 with the size-limit text over the
// share's limit, 507 when the disk is full or at its floor, nothing left
// behind when the client goes away. One object per request, on the
// server's thread.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequest.h>

#include <string>
#include <vector>

#include "bridge/RequestTranslator.h"
#include "front/FrontContext.h"
#include "orvane/Message.h"
#include "orvane/storage/SpaceReservation.h"

namespace Orvane {
namespace Host {

class MultipartReader;
struct PartHeader;

class UploadHandler : public Poco::Net::HTTPRequestHandler {
public:
    UploadHandler(FrontContext& context, const RequestParts& parts);

    // True for a multipart POST to the plug-in's "upload" address, and for
    // every POST to its "START_GUEST_UPLOAD" address (anything but a
    // multipart body is answered 400 there).
    static bool wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts);
    // The stored name for a part's file name: its last path component,
    // without control characters; "" when nothing usable is left.
    static std::string storedName(const std::string& fileName);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    // The plug-in's answer to START_UPLOAD; null when the host answered.
    MessagePtr ask(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    void refuse(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                const Data::Message& reply);
    // The room the reply's share and the disk have for the declared body.
    Storage::SpaceReservation reserve(const Poco::Net::HTTPServerRequest& request,
                                      const Data::Message& reply);
    void refuseRoom(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                    const Storage::SpaceReservation& room);
    // The number of files stored; an error answer is sent when it fails.
    int store(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
              const std::string& folder, Storage::SpaceReservation& room);
    bool storePart(MultipartReader& reader, const PartHeader& part, const std::string& folder,
                   Storage::SpaceReservation& room);
    void answerStored(const Data::Message& reply, Poco::Net::HTTPServerResponse& response,
                      int stored);
    bool isExplorerUpload() const;
    void finished(const std::string& path, std::uint64_t size);
    void closeAfter(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

    FrontContext& m_context;
    RequestParts m_parts;
    Identity m_identity;
    std::string m_address;
    const Poco::Net::HTTPServerRequest* m_request = nullptr;
};

}  // namespace Host
}  // namespace Orvane
