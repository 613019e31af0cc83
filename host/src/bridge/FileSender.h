// Sends the file that a "SEND_FILE" reply names: conditional answers (ETag,
// Last-Modified, 304), one byte range (206, 416), HEAD, and the body with
// the front's file range (sendfile(2), kernel TLS or large TLS writes) after
// the headers.
// Afterwards, whatever happened, "SEND_FILE_COMPLETE" goes to the service
// the reply names. Used on the request's own thread.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "http/ByteRange.h"
#include "orvane/Message.h"

namespace Orvane {
namespace Host {

class FileSender {
public:
    FileSender(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

    void send(const Data::Message& reply);

private:
    void sendOpen(const Data::Message& reply, int fd, const struct stat& info);
    bool notModified(const std::string& etag, time_t mtime) const;
    ByteRange rangeFor(const std::string& etag, time_t mtime, std::uint64_t size) const;
    // False when the client went away or the file ended early.
    bool transfer(std::ostream& out, int fileFd, std::uint64_t offset, std::uint64_t count);
    void dropConnection();

    Poco::Net::HTTPServerRequest& m_request;
    Poco::Net::HTTPServerResponse& m_response;
};

}  // namespace Host
}  // namespace Orvane
