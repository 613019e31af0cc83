// The wire details of tus 1.0.0 that every tus handler shares: the version
// and extensions offered, the headers every answer carries, reading the
// numbers and the metadata a client sends, the expiry date's format and
// the short answers. Pure functions, thread-safe.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <cstdint>
#include <map>
#include <string>

namespace Orvane {
namespace Host {

class TusProtocol {
public:
    static constexpr const char* VERSION = "1.0.0";
    static constexpr const char* CONTENT_TYPE = "application/offset+octet-stream";
    // The most a single PATCH may bring in this host's own client's view;
    // any client may send more.
    static constexpr std::uint64_t CHUNK_BYTES = 32ull * 1024 * 1024;

    // The request speaks tus (it says Tus-Resumable).
    static bool speaks(const Poco::Net::HTTPServerRequest& request);
    // It speaks our version; else it is answered refuseVersion.
    static bool rightVersion(const Poco::Net::HTTPServerRequest& request);
    // 412 with the version this host speaks.
    static void refuseVersion(Poco::Net::HTTPServerResponse& response);
    // Tus-Resumable and no caching, on every tus answer but OPTIONS.
    static void commonHeaders(Poco::Net::HTTPServerResponse& response);
    // What OPTIONS tells: Tus-Version, Tus-Extension.
    static void describe(Poco::Net::HTTPServerResponse& response);
    // The request's Content-Type is application/offset+octet-stream.
    static bool bringsBytes(const Poco::Net::HTTPServerRequest& request);
    // The method meant: X-HTTP-Method-Override of a POST where the client
    // cannot send PATCH or DELETE itself.
    static std::string methodOf(const Poco::Net::HTTPServerRequest& request);
    // A header holding a whole non-negative number; false when it is
    // missing or holds anything else.
    static bool number(const Poco::Net::HTTPServerRequest& request, const std::string& name,
                       std::uint64_t& value);
    // Upload-Metadata ("key base64,key2 base64"); false when malformed.
    static bool metadata(const std::string& header, std::map<std::string, std::string>& values);
    // An HTTP date for Upload-Expires.
    static std::string date(std::int64_t epochSeconds);
    // The status with commonHeaders and, for an error, a line of text;
    // 204 and the like go without a body.
    static void answer(Poco::Net::HTTPServerResponse& response, int status,
                       const std::string& text = "");
};

}  // namespace Host
}  // namespace Orvane
