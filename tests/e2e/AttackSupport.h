// Helpers of the traversal and injection suites: a raw HTTP/1.1 client that
// sends the request line and headers byte for byte (no normalising of the
// path, as a hostile client would), the generator of hostile path pieces, a
// field of folders around a share (a canary file, links leading out) with a
// snapshot of everything outside the share, multipart bodies, guest sign-in
// and checks of answers (headers free of line breaks, zips listed with
// unzip). Used from one test thread.
#pragma once

#include <Poco/Net/StreamSocket.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DavSupport.h"

namespace E2E {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RawAnswer {
    int status = 0;
    std::string head;  // the status line and header lines as received
    std::string body;
    HeaderList headers;  // names lower-cased, in order
    std::string header(const std::string& name) const;
};

// One keep-alive connection; reconnects when the host closed it. Counts
// every request it sends.
class RawClient {
public:
    explicit RawClient(int port) : m_port(port) {}

    RawAnswer send(const std::string& method, const std::string& target,
                   const HeaderList& headers = {}, const std::string& body = std::string());
    RawAnswer get(const std::string& target, const HeaderList& headers = {}) {
        return send("GET", target, headers);
    }
    RawAnswer postForm(const std::string& target, const std::string& body,
                       const HeaderList& headers = {});
    std::uint64_t count() const { return m_count; }

private:
    bool exchange(const std::string& request, bool head, RawAnswer& answer);
    bool readHead(RawAnswer& answer, bool& close);
    bool readBody(RawAnswer& answer, bool head, bool close);
    bool fill();

    int m_port;
    std::unique_ptr<Poco::Net::StreamSocket> m_socket;
    std::string m_buffer;
    std::uint64_t m_count = 0;
};

// Every concatenation of the pieces %, 25, 2e, 2f, 5c, ., /, \ and %00 that
// is at most `maxLength` characters long (the empty text excluded), shortest
// first. There are 332690 up to length 8.
std::vector<std::string> hostilePieces(std::size_t maxLength);

// A share folder with a secret beside it:
//   <base>/canary.txt, <base>/outside/deep.txt  (the canary text)
//   <base>/a/share/{hello.txt, sub/inner.txt, mv.txt}
//   <base>/a/share/out-dir  -> <base>/outside   (a folder link leading out)
//   <base>/a/share/out-file -> <base>/canary.txt
//   <base>/a/share/in-dir   -> <base>/a/share/sub (a link that stays inside)
// and <base>/a/pub the same for a second share. The snapshot covers
// everything below <base> except the two share folders.
class CanaryField {
public:
    explicit CanaryField(const std::string& base);

    std::string base, share, pub, canaryText;
    // name -> "size mtime" of everything outside the share, links included.
    std::map<std::string, std::string> snapshot() const;
    // Missing and changed entries, one per line; "" when nothing changed.
    std::string changesSince(const std::map<std::string, std::string>& before) const;
    // True when the text holds the canary, also once percent- or
    // entity-encoded would not hide it (it is plain letters and digits).
    bool leaks(const std::string& text) const { return text.find(canaryText) != std::string::npos; }
    bool leaks(const RawAnswer& a) const { return leaks(a.head) || leaks(a.body); }
};

// Paths of the regular files below `folder`, relative, without following
// symbolic links.
std::vector<std::string> plainFilesBelow(const std::string& folder);

// A multipart/form-data body with one file part; `boundary` is the text to
// put in the Content-Type.
std::string multipartBody(const std::string& boundary, const std::string& fileName,
                          const std::string& content);

// Signs a guest in through /ui/guest/login; returns the Cookie header value.
std::string guestCookie(int port, const std::string& name, const std::string& password);

// The header lines of an answer that carry CR, LF (other than as line ends),
// NUL or other control characters: "" when every line is clean.
std::string badHeaderLines(const RawAnswer& answer);

// Names listed by `unzip -Z1` for the zip bytes; throws when unzip fails.
std::vector<std::string> zipNames(const std::string& zipBytes, const std::string& scratchDir);
// Everything the zip holds, extracted with `unzip -p`.
std::string zipContent(const std::string& zipBytes, const std::string& scratchDir);

// Percent-encodes every byte outside A-Z a-z 0-9 - _ . ~ and "/".
std::string percentEncode(const std::string& text, bool keepSlash);

}  // namespace E2E
