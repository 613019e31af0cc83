#include "UploadHandler.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/String.h>

#include "HttpErrors.h"
#include "MultipartReader.h"
#include "ReplyWriter.h"
#include "RequestBody.h"
#include "TempFile.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;
using Poco::Net::HTTPResponse;

namespace {

const std::size_t kChunk = 256 * 1024;
// A refused upload's body is read this far so that the client sees the
// answer; past it the connection is closed instead.
const std::size_t kDrainBytes = 16 * 1024 * 1024;

Poco::Logger& log() {
    return Poco::Logger::get("Upload");
}

std::string replyField(const Data::Message& reply, const char* field) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    return resp ? resp->getString(field) : std::string();
}

std::string queryValue(const std::string& query, const std::string& name) {
    try {
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + query);
        Poco::Net::HTMLForm form(request);
        return form.get(name, "");
    } catch (const Poco::Exception&) {
        return std::string();
    }
}

}  // namespace

UploadHandler::UploadHandler(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

bool UploadHandler::wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts) {
    return request.getMethod() == "POST" && parts.operation == "upload" &&
           !MultipartReader::boundaryOf(request.getContentType()).empty();
}

std::string UploadHandler::storedName(const std::string& fileName) {
    std::string name = fileName;
    // Old browsers send the whole path of the visitor's disk.
    const std::string::size_type slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    name = Util::trim(Util::sanitizeString(name, false));
    if (name == "." || name == ".." || TempFile::isTempName(name))
        return std::string();
    return name;
}

void UploadHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                  Poco::Net::HTTPServerResponse& response) {
    m_address = request.clientAddress().host().toString();
    m_request = &request;
    try {
        if (int left = m_context.credentialThrottle.blockedFor(m_address)) {
            response.set("Retry-After", std::to_string(left));
            closeAfter(request, response);
            HttpErrors::send(response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                             "Too many wrong credentials from your address. Try again later.");
            return;
        }
        MessagePtr reply = ask(request, response);
        if (!reply)
            return;
        if (replyField(*reply, HTTP::S_HTTP_RESP_ALLOW) != "1") {
            refuse(request, response, *reply);
            return;
        }
        store(request, response, replyField(*reply, HTTP::S_HTTP_RESP_DIRNAME));
        if (!response.sent())
            ReplyWriter::write(*reply, response);
    } catch (const std::exception& e) {
        log().error("Upload to " + m_parts.rawPath + " failed: " + e.what());
        if (!response.sent()) {
            response.setKeepAlive(false);
            HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        }
    }
}

UploadHandler::MessagePtr UploadHandler::ask(Poco::Net::HTTPServerRequest& request,
                                             Poco::Net::HTTPServerResponse& response) {
    m_identity = m_context.authenticator.identify(request);
    RequestParts start = m_parts;
    start.operation = "START_UPLOAD";
    MessagePtr msg = RequestTranslator::build(request, start, m_identity);
    const std::string token = (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN].getString();
    auto slot = m_context.pending.open(token, m_parts.plugin);
    if (!slot || !Orvane::Dispatcher()->postMessage(msg)) {
        if (slot)
            m_context.pending.close(slot);
        closeAfter(request, response);
        HttpErrors::send(response, HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
        return MessagePtr();
    }
    PendingReplies::Outcome outcome = m_context.pending.wait(slot, m_context.replyTimeout);
    if (outcome.hostStatus != 0) {
        closeAfter(request, response);
        HttpErrors::send(response, outcome.hostStatus);
        return MessagePtr();
    }
    if (ReplyWriter::hasRealm(*outcome.reply)) {
        if (m_identity.hasCredentials)
            m_context.credentialThrottle.recordFailure(m_address);
        closeAfter(request, response);
        ReplyWriter::write(*outcome.reply, response);
        return MessagePtr();
    }
    return outcome.reply;
}

void UploadHandler::refuse(Poco::Net::HTTPServerRequest& request,
                           Poco::Net::HTTPServerResponse& response, const Data::Message& reply) {
    closeAfter(request, response);
    ReplyWriter::applyHeaders(reply, response);
    response.setStatusAndReason(HTTPResponse::HTTP_FORBIDDEN);
    const auto& raw = reply.getRawData();
    const std::size_t length = raw ? raw->getTotalBytes() : 0;
    response.setContentLength64(static_cast<Poco::UInt64>(length));
    response.sendBuffer(raw ? raw->getRawData() : "", length);
}

void UploadHandler::closeAfter(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    // The body stays unread: read a little of it so that the client gets to
    // see the answer, and do not reuse the connection unless it all went.
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
}

void UploadHandler::store(Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response, const std::string& folder) {
    MultipartReader reader(request.stream(), MultipartReader::boundaryOf(request.getContentType()));
    try {
        PartHeader part;
        while (reader.nextPart(part)) {
            if (part.hasFileName)
                storePart(reader, part, folder);
        }
    } catch (const WriteFailure& e) {
        log().error("Upload into " + folder + " failed: " + e.what());
        response.setKeepAlive(false);
        if (e.noSpace()) {
            HttpErrors::send(response, HTTPResponse::HTTP_INSUFFICIENT_STORAGE,
                             "There is no room left for the file.");
        } else {
            HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR,
                             "The file could not be stored.");
        }
    } catch (const MultipartError& e) {
        // Most often the client went away; if not, it sent a broken body.
        log().warning("Upload into " + folder + " broken off: " + e.what());
        response.setKeepAlive(false);
        HttpErrors::send(response, HTTPResponse::HTTP_BAD_REQUEST,
                         "The upload ended before its last part.");
    }
}

void UploadHandler::storePart(MultipartReader& reader, const PartHeader& part,
                              const std::string& folder) {
    const std::string name = storedName(part.fileName);
    if (name.empty())
        return;  // an empty file input, or nothing usable
    TempFile file(folder);
    std::vector<char> chunk(kChunk);
    for (;;) {
        const std::size_t n = reader.read(chunk.data(), chunk.size());
        if (n == 0)
            break;
        file.write(chunk.data(), n);
    }
    const std::uint64_t size = file.size();
    const std::string path = file.placeUnique(name);
    finished(path, size);
}

void UploadHandler::finished(const std::string& path, std::uint64_t size) {
    RequestParts finish = m_parts;
    finish.operation = "FINISH_UPLOAD";
    // A fresh token: nobody waits for an answer to this one.
    MessagePtr msg = RequestTranslator::build(*m_request, finish, m_identity);
    Data::VariantRow& req = (*msg)[HTTP::MS_HTTP_REQ];
    req[HTTP::S_HTTP_REQ_UPLOADFILEPATH] = path;
    req[HTTP::S_HTTP_REQ_UPLOADFILESIZE] = static_cast<long long>(size);
    req[HTTP::S_HTTP_REQ_SHARENAME] = queryValue(m_parts.query, "sharename");
    if (!Orvane::Dispatcher()->postMessage(msg))
        log().warning("Nobody took FINISH_UPLOAD for " + path);
}

}  // namespace Host
}  // namespace Orvane
