#include "webdav/WebDAVExchange.h"

#include <Poco/URI.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "http/RequestBody.h"
#include "webdav/WebDAVXml.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

const std::size_t kDrainBytes = 1024 * 1024;

std::string bareTag(const std::string& tag) {
    return tag.compare(0, 2, "W/") == 0 ? tag.substr(2) : tag;
}

}  // namespace

WebDAVFileInfo WebDAVFileInfo::of(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return WebDAVFileInfo();
    return of(st);
}

WebDAVFileInfo WebDAVFileInfo::of(const struct stat& st) {
    WebDAVFileInfo info;
    info.exists = S_ISDIR(st.st_mode) || S_ISREG(st.st_mode);
    info.folder = S_ISDIR(st.st_mode);
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    info.ctimeSeconds = static_cast<std::int64_t>(st.st_ctim.tv_sec);
    info.inode = static_cast<std::uint64_t>(st.st_ino);
    return info;
}

std::string WebDAVFileInfo::etag() const {
    char text[96];
    std::snprintf(text, sizeof(text), "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(inode),
                  static_cast<unsigned long long>(size), static_cast<unsigned long long>(mtimeNs));
    return text;
}

WebDAVExchange::WebDAVExchange(Poco::Net::HTTPServerRequest& req,
                               Poco::Net::HTTPServerResponse& resp, const WebDAVTarget& t)
    : request(req), response(resp), target(t) {
    if (request.has("If")) {
        try {
            m_if = WebDAVIfHeader(request.get("If"));
        } catch (const BadIfHeader&) {
            m_badIf = true;
        }
    }
}

void WebDAVExchange::status(int code) {
    finishBody();
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(code));
    response.setContentLength(0);
    response.send();
}

void WebDAVExchange::xml(int code, const std::string& body) {
    finishBody();
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(code));
    response.setContentType("application/xml; charset=utf-8");
    response.setContentLength64(body.size());
    response.sendBuffer(body.data(), body.size());
}

void WebDAVExchange::error(int code, const std::string& condition) {
    xml(code, std::string(WebDAVXml::HEAD) + "<D:error xmlns:D=\"DAV:\"><D:" + condition +
                  "/></D:error>");
}

int WebDAVExchange::depth(int fallback) const {
    if (!request.has("Depth"))
        return fallback;
    const std::string value = request.get("Depth");
    if (value == "0")
        return 0;
    if (value == "1")
        return 1;
    if (value == "infinity" || value == "Infinity")
        return -1;
    return -2;
}

bool WebDAVExchange::hasBody() const {
    return RequestBody::announcesBody(request);
}

std::string WebDAVExchange::body() {
    return RequestBody::read(request, WebDAVXml::kMaxBodyBytes);
}

bool WebDAVExchange::parseBody(const std::function<bool()>& parse) {
    try {
        if (parse())
            return true;
        status(HTTPResponse::HTTP_BAD_REQUEST);
    } catch (const BadXml&) {
        status(HTTPResponse::HTTP_BAD_REQUEST);
    } catch (const BodyTooLarge&) {
        status(HTTPResponse::HTTP_REQUESTENTITYTOOLARGE);
    }
    return false;
}

void WebDAVExchange::finishBody() {
    if (!hasBody())
        return;
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
}

bool WebDAVExchange::mayWrite() {
    if (target.write)
        return true;
    if (target.sizeLimitExceeded)
        status(HTTPResponse::HTTP_INSUFFICIENT_STORAGE);
    else
        status(HTTPResponse::HTTP_FORBIDDEN);
    return false;
}

std::vector<std::string> WebDAVExchange::submittedTokens() const {
    return m_if.tokens();
}

bool WebDAVExchange::ownsLocks(const std::vector<WebDAVLock>& locks) {
    const std::vector<std::string> tokens = submittedTokens();
    for (const WebDAVLock& lock : locks) {
        if (std::find(tokens.begin(), tokens.end(), lock.token) == tokens.end()) {
            error(HTTPResponse::HTTP_LOCKED, "lock-token-submitted");
            return false;
        }
    }
    return true;
}

bool WebDAVExchange::judge(const std::string& resource, const WebDAVIfHeader::Condition& c) const {
    std::string path = target.path;
    if (!resource.empty()) {
        try {
            path = target.nativePath(Poco::URI(resource).getPath());
        } catch (const Poco::Exception&) {
            return false;
        }
        if (path.empty())
            return false;
    }
    if (c.isToken) {
        for (const WebDAVLock& lock : WebDAVLocks::instance().covering(path)) {
            if (lock.token == c.value)
                return true;
        }
        return false;
    }
    const WebDAVFileInfo info = WebDAVFileInfo::of(path);
    return info.exists && bareTag(info.etag()) == bareTag(c.value);
}

bool WebDAVExchange::ifHolds() {
    if (m_badIf) {
        status(HTTPResponse::HTTP_BAD_REQUEST);
        return false;
    }
    if (m_if.empty())
        return true;
    if (m_if.holds([this](const std::string& r, const WebDAVIfHeader::Condition& c) {
            return judge(r, c);
        })) {
        return true;
    }
    status(HTTPResponse::HTTP_PRECONDITION_FAILED);
    return false;
}

}  // namespace Host
}  // namespace Orvane
