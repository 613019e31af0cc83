#include "bridge/FileSender.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DateTimeParser.h>
#include <Poco/String.h>
#include <Poco/StringTokenizer.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bridge/ReplyWriter.h"
#include "bridge/SendFileComplete.h"
#include "front/HttpErrors.h"
#include "http/FileDescriptor.h"
#include "net/message/ServerResponse.h"
#include "orvane/Defs.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

// One copy at most, for an answer that is not our front's.
const std::uint64_t kChunk = 256u << 10;

std::string makeETag(const struct stat& info) {
    char text[96];
    std::snprintf(text, sizeof(text), "\"%llx-%llx-%llx\"",
                  static_cast<unsigned long long>(info.st_ino),
                  static_cast<unsigned long long>(info.st_size),
                  static_cast<unsigned long long>(info.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(info.st_mtim.tv_nsec));
    return text;
}

std::string httpDate(time_t seconds) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                           Poco::DateTimeFormat::HTTP_FORMAT);
}

bool parseHttpDate(const std::string& text, time_t& seconds) {
    Poco::DateTime when;
    int tzd = 0;
    if (!Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::HTTP_FORMAT, text, when, tzd) &&
        !Poco::DateTimeParser::tryParse(text, when, tzd)) {
        return false;
    }
    when.makeUTC(tzd);
    seconds = when.timestamp().epochTime();
    return true;
}

// Weak comparison, as If-None-Match asks for.
bool etagListMatches(const std::string& list, const std::string& etag) {
    Poco::StringTokenizer tags(
        list, ",", Poco::StringTokenizer::TOK_TRIM | Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    for (const auto& tag : tags) {
        std::string bare = tag.compare(0, 2, "W/") == 0 ? tag.substr(2) : tag;
        if (tag == "*" || bare == etag)
            return true;
    }
    return false;
}

}  // namespace

FileSender::FileSender(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response)
    : m_request(request), m_response(response) {}

void FileSender::send(const Data::Message& reply) {
    struct Completion {
        const Data::Message& reply;
        ~Completion() { SendFileComplete::post(reply); }
    } completion{reply};

    const Data::VariantRow* resp = reply.findSection(Defs::HTTP::MS_HTTP_RESP);
    const std::string path = resp ? resp->getString(Defs::HTTP::S_HTTP_SEND_FILE) : "";
    // O_NONBLOCK so that a fifo put in a file's place cannot hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    FileDescriptor guard(fd);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        HttpErrors::send(m_response, HTTPResponse::HTTP_NOT_FOUND, "The file is not there.");
        return;
    }
    sendOpen(reply, fd, info);
}

void FileSender::sendOpen(const Data::Message& reply, int fd, const struct stat& info) {
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    const std::string etag = makeETag(info);
    ReplyWriter::applyHeaders(reply, m_response);
    m_response.set("ETag", etag);
    m_response.set("Last-Modified", httpDate(info.st_mtime));
    m_response.set("Accept-Ranges", "bytes");
    // Shared files are anybody's content: an HTML or SVG file among them must
    // not run script on the host's origin (where the owner's cookie lives).
    m_response.set("Content-Security-Policy", "sandbox");

    const bool isHead = m_request.getMethod() == "HEAD";
    const bool conditional = isHead || m_request.getMethod() == "GET";
    if (conditional && notModified(etag, info.st_mtime)) {
        m_response.setStatusAndReason(HTTPResponse::HTTP_NOT_MODIFIED);
        m_response.erase("Content-Type");
        m_response.send();
        return;
    }
    ByteRange range = conditional ? rangeFor(etag, info.st_mtime, size) : ByteRange();
    if (range.kind == ByteRange::UNSATISFIABLE) {
        m_response.setStatusAndReason(HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE);
        m_response.set("Content-Range", "bytes */" + std::to_string(size));
        m_response.setContentLength(0);
        m_response.send();
        return;
    }
    std::uint64_t first = 0, length = size;
    if (range.kind == ByteRange::SATISFIABLE) {
        first = range.first;
        length = range.length();
        m_response.setStatusAndReason(HTTPResponse::HTTP_PARTIAL_CONTENT);
        m_response.set("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                            std::to_string(range.last) + "/" +
                                            std::to_string(size));
    } else {
        m_response.setStatusAndReason(
            static_cast<HTTPResponse::HTTPStatus>(ReplyWriter::status(reply)));
    }
    m_response.setContentLength64(length);
    // Not flushed here: the head goes out with the body, in one write when
    // the file is small.
    std::ostream& out = m_response.send();
    if (isHead)
        return;
    if (!out || !transfer(out, fd, first, length))
        dropConnection();
}

bool FileSender::notModified(const std::string& etag, time_t mtime) const {
    if (m_request.has("If-None-Match"))
        return etagListMatches(m_request.get("If-None-Match"), etag);
    time_t since = 0;
    return m_request.has("If-Modified-Since") &&
           parseHttpDate(m_request.get("If-Modified-Since"), since) && mtime <= since;
}

ByteRange FileSender::rangeFor(const std::string& etag, time_t mtime, std::uint64_t size) const {
    if (!m_request.has("Range"))
        return ByteRange();
    if (m_request.has("If-Range")) {
        const std::string validator = Poco::trim(m_request.get("If-Range"));
        time_t when = 0;
        bool same = !validator.empty() &&
                    (validator[0] == '"' ? validator == etag
                                         : parseHttpDate(validator, when) && when == mtime);
        if (!same)
            return ByteRange();
    }
    return ByteRange::parse(m_request.get("Range"), size);
}

bool FileSender::transfer(std::ostream& out, int fileFd, std::uint64_t offset,
                          std::uint64_t count) {
    // Our front's answers send a file range with the kernel (sendfile, or
    // kernel TLS) or in large TLS writes; any other answer gets a copy.
    if (auto* own = dynamic_cast<ServerResponse*>(&m_response))
        return own->sendFileRange(fileFd, offset, count);
    std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(count, kChunk)));
    while (count > 0 && out) {
        const ssize_t got =
            ::pread(fileFd, chunk.data(), std::min<std::uint64_t>(count, chunk.size()),
                    static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        out.write(chunk.data(), got);
        offset += static_cast<std::uint64_t>(got);
        count -= static_cast<std::uint64_t>(got);
    }
    return static_cast<bool>(out.flush());
}

void FileSender::dropConnection() {
    // The body is cut short: the connection cannot carry another response.
    m_response.setKeepAlive(false);
}

}  // namespace Host
}  // namespace Orvane
