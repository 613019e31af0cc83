// The body of a WebDAV answer sent while it is written, so that a long one
// (a PROPFIND of a folder of many members) never lies whole in memory. The
// caller appends to text(); each time it holds a piece, the piece leaves:
// with the status and the headers the first time, then as chunks on
// HTTP/1.1 or up to the closing of the connection on HTTP/1.0. An answer
// that never fills a piece leaves whole with its length, as a short answer
// always has. Once the first piece is out the status cannot change: every
// check that may refuse the request comes before it, and an exception
// after it must reach the front, which then cuts the connection so that no
// client takes a broken-off answer for a whole one. One instance per
// answer, used by the request's thread.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "webdav/WebDAVExchange.h"

namespace Orvane {
namespace Host {

class WebDAVStreamedBody {
public:
    static const std::size_t kPiece = 128 * 1024;

    // An XML answer with the status `code`.
    WebDAVStreamedBody(WebDAVExchange& x, int code);

    // What is written and not sent yet: append to it.
    std::string& text() { return m_text; }
    // Sends the text once it holds a piece; false when the client has gone
    // away, and nothing more need be written.
    bool pass();
    // Sends the rest: the answer is whole.
    void finish();

private:
    void start();
    bool write();

    WebDAVExchange& m_x;
    const int m_code;
    std::ostream* m_out = nullptr;
    std::string m_text;
};

}  // namespace Host
}  // namespace Orvane
