// One WebDAV request being served: the HTTP request and response, what the
// plug-in allowed, and the checks every writing method shares (write right,
// lock tokens, If header), with the small answers they give. Also the
// file facts the methods read (WebDAVFileInfo). Used on the request's own
// thread.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "webdav/WebDAVIfHeader.h"
#include "webdav/WebDAVTarget.h"
#include "webdav/store/WebDAVLocks.h"

namespace Orvane {
namespace Host {

struct WebDAVFileInfo {
    bool exists = false;
    bool folder = false;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeSeconds = 0;
    std::uint64_t inode = 0;

    static WebDAVFileInfo of(const std::string& path);
    // From what stat (or lstat of a non-link) gave.
    static WebDAVFileInfo of(const struct stat& st);
    // The same validator the file sender gives for GET.
    std::string etag() const;
};

class WebDAVExchange {
public:
    WebDAVExchange(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                   const WebDAVTarget& target);

    Poco::Net::HTTPServerRequest& request;
    Poco::Net::HTTPServerResponse& response;
    const WebDAVTarget target;

    // Answers with an empty body (or a short text) and the status.
    void status(int code);
    void xml(int code, const std::string& body);
    // A DAV:error body naming the failed precondition.
    void error(int code, const std::string& condition);

    // "0", "1" or "infinity"; `fallback` when the header is absent. Anything
    // else is -2; infinity is -1.
    int depth(int fallback) const;
    // The XML request body, at most 64 KiB (larger throws BodyTooLarge).
    std::string body();
    bool hasBody() const;
    // Runs `parse`, which reads the body and makes sense of it. False after
    // answering 400 when it throws BadXml or returns false, 413 when it
    // throws BodyTooLarge.
    bool parseBody(const std::function<bool()>& parse);

    // Each answers the refusal itself and returns false.
    bool mayWrite();
    bool ifHolds();
    bool ownsLocks(const std::vector<WebDAVLock>& locks);
    // The If header's lock tokens.
    std::vector<std::string> submittedTokens() const;

    // Reads and drops an unread body, or ends the connection after the answer.
    void finishBody();

private:
    bool judge(const std::string& resource, const WebDAVIfHeader::Condition& c) const;

    WebDAVIfHeader m_if;
    bool m_badIf = false;
};

}  // namespace Host
}  // namespace Orvane
