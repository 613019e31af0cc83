#include "http/UrlPath.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>

#include <cstring>

#include "http/PercentEncoding.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

bool isUrlChar(unsigned char c) {
    if (c >= 'a' && c <= 'z')
        return true;
    if (c >= 'A' && c <= 'Z')
        return true;
    if (c >= '0' && c <= '9')
        return true;
    return c != 0 && std::strchr("-._~!$&'()*+,;=:@/%", c) != nullptr;
}

}  // namespace

void UrlPath::split(const std::string& target, std::string& path, std::string& query) {
    std::string rest = target;
    std::string::size_type scheme = rest.find("://");
    if (scheme != std::string::npos && scheme < rest.find('/')) {
        std::string::size_type slash = rest.find('/', scheme + 3);
        rest = slash == std::string::npos ? "/" : rest.substr(slash);
    }
    std::string::size_type hash = rest.find('#');
    if (hash != std::string::npos)
        rest.erase(hash);
    std::string::size_type mark = rest.find('?');
    path = rest.substr(0, mark);
    query = mark == std::string::npos ? std::string() : rest.substr(mark + 1);
}

std::string UrlPath::decode(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::string::size_type i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '%') {
            if (i + 2 >= raw.size())
                throw BadPath("broken percent-encoding");
            int hi = Util::hexValue(raw[i + 1]);
            int lo = Util::hexValue(raw[i + 2]);
            if (hi < 0 || lo < 0)
                throw BadPath("broken percent-encoding");
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (c == '\0')
            throw BadPath("NUL byte in path");
        out += c;
    }
    return out;
}

std::string UrlPath::normalize(const std::string& raw, const std::string& keep) {
    std::string out;
    out.reserve(raw.size());
    for (unsigned char c : raw) {
        if (isUrlChar(c) || (c != 0 && keep.find(static_cast<char>(c)) != std::string::npos))
            out += static_cast<char>(c);
        else
            PercentEncoding::appendEscaped(out, c);
    }
    return out;
}

std::string UrlPath::queryValue(const std::string& query, const std::string& name) {
    try {
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + query);
        Poco::Net::HTMLForm form(request);
        return form.get(name, "");
    } catch (const Poco::Exception&) {
        return std::string();
    }
}

}  // namespace Host
}  // namespace Orvane
