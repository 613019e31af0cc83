#include "tus/TusProtocol.h"

#include <Poco/Base64Decoder.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Net/MediaType.h>
#include <Poco/String.h>
#include <Poco/StringTokenizer.h>
#include <Poco/Timestamp.h>

#include <sstream>

#include "http/ByteRange.h"
#include "http/ResponseBody.h"

namespace Orvane {
namespace Host {

namespace {

const char* const RESUMABLE = "Tus-Resumable";

bool decodeBase64(const std::string& text, std::string& out) {
    // Poco's decoder would skip what is no base64 at all.
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=')
            return false;
    }
    try {
        std::istringstream in(text);
        Poco::Base64Decoder decoder(in);
        std::ostringstream decoded;
        decoded << decoder.rdbuf();
        out = decoded.str();
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace

bool TusProtocol::speaks(const Poco::Net::HTTPServerRequest& request) {
    return request.has(RESUMABLE);
}

bool TusProtocol::rightVersion(const Poco::Net::HTTPServerRequest& request) {
    return Poco::trim(request.get(RESUMABLE, "")) == VERSION;
}

void TusProtocol::refuseVersion(Poco::Net::HTTPServerResponse& response) {
    response.set("Tus-Version", VERSION);
    answer(response, 412, "This server speaks tus 1.0.0.");
}

void TusProtocol::commonHeaders(Poco::Net::HTTPServerResponse& response) {
    response.set(RESUMABLE, VERSION);
    response.set("Cache-Control", "no-store");
}

void TusProtocol::describe(Poco::Net::HTTPServerResponse& response) {
    response.set(RESUMABLE, VERSION);
    response.set("Tus-Version", VERSION);
    response.set("Tus-Extension", "creation,creation-with-upload,termination,expiration");
}

bool TusProtocol::bringsBytes(const Poco::Net::HTTPServerRequest& request) {
    try {
        return Poco::Net::MediaType(request.getContentType())
            .matches("application", "offset+octet-stream");
    } catch (const Poco::Exception&) {
        return false;
    }
}

std::string TusProtocol::methodOf(const Poco::Net::HTTPServerRequest& request) {
    const std::string method = request.getMethod();
    if (method != "POST" || !request.has("X-HTTP-Method-Override"))
        return method;
    return Poco::toUpper(Poco::trim(request.get("X-HTTP-Method-Override")));
}

bool TusProtocol::number(const Poco::Net::HTTPServerRequest& request, const std::string& name,
                         std::uint64_t& value) {
    return ByteRange::toNumber(Poco::trim(request.get(name, "")), value);
}

bool TusProtocol::metadata(const std::string& header, std::map<std::string, std::string>& values) {
    Poco::StringTokenizer pairs(
        header, ",", Poco::StringTokenizer::TOK_TRIM | Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    for (const auto& pair : pairs) {
        const std::string::size_type space = pair.find(' ');
        const std::string key = pair.substr(0, space);
        std::string value;
        if (key.empty() || values.count(key))
            return false;
        if (space != std::string::npos && !decodeBase64(Poco::trim(pair.substr(space + 1)), value))
            return false;
        values[key] = value;
    }
    return true;
}

std::string TusProtocol::date(std::int64_t epochSeconds) {
    return Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(epochSeconds),
                                           Poco::DateTimeFormat::HTTP_FORMAT);
}

void TusProtocol::answer(Poco::Net::HTTPServerResponse& response, int status,
                         const std::string& text) {
    commonHeaders(response);
    if (status == 204 || text.empty()) {
        response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
        if (status != 204)
            response.setContentLength(0);
        response.send();
        return;
    }
    ResponseBody::send(response, status, "text/plain; charset=utf-8", "no-store", text + "\n");
}

}  // namespace Host
}  // namespace Orvane
