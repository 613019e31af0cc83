#include "net/message/ServerResponse.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/Timestamp.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "net/message/PublicHeaders.h"
#include "net/message/ServerRequest.h"

namespace Orvane {
namespace Host {

using Framing = ResponseOutput::Framing;

ServerResponse::ServerResponse(ConnectionIo& io, const ServerRequest& request)
    : m_io(io), m_request(request) {}

ServerResponse::~ServerResponse() = default;

void ServerResponse::prepare(bool keepAlive) {
    setVersion(m_request.getVersion());
    setKeepAlive(keepAlive && m_request.getKeepAlive());
    m_headOnly = m_request.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD;
}

void ServerResponse::sendContinue() {
    if (m_continued || m_sent)
        return;
    m_continued = true;
    static const char line[] = "HTTP/1.1 100 Continue\r\n\r\n";
    m_io.write(line, sizeof(line) - 1);
    m_io.flush();
}

Framing ServerResponse::frame() {
    const int status = getStatus();
    if (m_headOnly || status < 200 || status == HTTP_NO_CONTENT || status == HTTP_NOT_MODIFIED)
        return Framing::None;
    const bool http11 = getVersion() == HTTP_1_1;
    if (getChunkedTransferEncoding() && http11)
        return Framing::Chunked;
    setChunkedTransferEncoding(false);
    if (hasContentLength())
        return Framing::Length;
    // No length: chunks where the client reads them, else the close ends it.
    if (http11) {
        setChunkedTransferEncoding(true);
        return Framing::Chunked;
    }
    setKeepAlive(false);
    return Framing::UntilClose;
}

bool ServerResponse::writeHead() {
    if (m_sent)
        throw Poco::IllegalStateException("the answer was sent already");
    m_sent = true;
    PublicHeaders::apply(*this, m_request.secure());
    if (!has("Date"))
        setDate(Poco::Timestamp());
    set("Server", "orvane-host");
    std::ostringstream head;
    write(head);
    const std::string text = head.str();
    return m_io.write(text.data(), text.size());
}

std::ostream& ServerResponse::send() {
    const Framing framing = frame();
    writeHead();
    const std::uint64_t length =
        framing == Framing::Length ? static_cast<std::uint64_t>(getContentLength64()) : 0;
    m_output.reset(new ResponseOutput(m_io, framing, length));
    m_stream.reset(new std::ostream(m_output.get()));
    return *m_stream;
}

void ServerResponse::sendBuffer(const void* buffer, std::size_t length) {
    setContentLength64(static_cast<Poco::UInt64>(length));
    setChunkedTransferEncoding(false);
    const Framing framing = frame();
    if (writeHead() && framing != Framing::None)
        m_io.write(static_cast<const char*>(buffer), length);
}

void ServerResponse::sendFile(const std::string& path, const std::string& mediaType) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        throw Poco::FileNotFoundException(path);
    }
    setContentType(mediaType);
    setContentLength64(static_cast<Poco::UInt64>(info.st_size));
    set("Last-Modified",
        Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(info.st_mtime),
                                        Poco::DateTimeFormat::HTTP_FORMAT));
    send();
    sendFileRange(fd, 0, static_cast<std::uint64_t>(info.st_size));
    ::close(fd);
}

void ServerResponse::redirect(const std::string& uri, HTTPStatus status) {
    setContentLength(0);
    setChunkedTransferEncoding(false);
    setStatusAndReason(status);
    set("Location", uri);
    send();
}

void ServerResponse::requireAuthentication(const std::string& realm) {
    setStatusAndReason(HTTP_UNAUTHORIZED);
    set("WWW-Authenticate", "Basic realm=\"" + realm + "\"");
    setContentLength(0);
    setChunkedTransferEncoding(false);
    send();
}

bool ServerResponse::sendFileRange(int fileFd, std::uint64_t offset, std::uint64_t count) {
    if (!m_output)
        throw Poco::IllegalStateException("a file range is sent after send()");
    if (!m_output->drain())
        return false;
    if (m_output->framing() == Framing::None)
        return true;
    if (m_output->framing() == Framing::Chunked)
        throw Poco::IllegalStateException("a file range needs a Content-Length");
    if (!m_io.sendFile(fileFd, offset, count))
        return false;
    m_output->countSent(count);
    return true;
}

ServerResponse::Parked ServerResponse::park() {
    if (!m_parking || m_sent || m_parked)
        return Parked();
    m_parked = true;
    return m_parking();
}

bool ServerResponse::finish() {
    bool ok = m_sent;
    if (m_output) {
        m_stream->flush();
        ok = m_output->finish() && ok;
    }
    ok = m_io.flush() && ok;
    return ok && !m_io.connection().broken() && getKeepAlive();
}

}  // namespace Host
}  // namespace Orvane
