#include "webdav/WebDAVStreamedBody.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

// Room for one member's answer past a full piece, so that the text is
// allocated once.
const std::size_t kSlack = 16 * 1024;

}  // namespace

WebDAVStreamedBody::WebDAVStreamedBody(WebDAVExchange& x, int code) : m_x(x), m_code(code) {
    m_text.reserve(kPiece + kSlack);
}

bool WebDAVStreamedBody::pass() {
    if (m_text.size() < kPiece)
        return true;
    if (!m_out)
        start();
    return write();
}

void WebDAVStreamedBody::finish() {
    if (!m_out) {
        m_x.xml(m_code, m_text);
        return;
    }
    write();
}

// No length: the end of the body is told by the last chunk, or by the
// closing of the connection for a client that knows no chunks.
void WebDAVStreamedBody::start() {
    m_x.finishBody();
    Poco::Net::HTTPServerResponse& response = m_x.response;
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(m_code));
    response.setContentType("application/xml; charset=utf-8");
    if (m_x.request.getVersion() == HTTPResponse::HTTP_1_1)
        response.setChunkedTransferEncoding(true);
    else
        response.setKeepAlive(false);
    m_out = &response.send();
}

bool WebDAVStreamedBody::write() {
    m_out->write(m_text.data(), static_cast<std::streamsize>(m_text.size()));
    m_text.clear();
    if (*m_out)
        return true;
    m_x.response.setKeepAlive(false);
    return false;
}

}  // namespace Host
}  // namespace Orvane
