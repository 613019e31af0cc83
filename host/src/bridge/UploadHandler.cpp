#include "bridge/UploadHandler.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/String.h>
#include <errno.h>

#include "bridge/PluginCall.h"
#include "bridge/ReplyWriter.h"
#include "front/HttpErrors.h"
#include "http/MultipartReader.h"
#include "http/RequestBody.h"
#include "http/TempFile.h"
#include "http/UrlPath.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/HTTPUtil.h"
#include "orvane/Util.h"
#include "orvane/storage/SpaceFields.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;
using Poco::Net::HTTPResponse;

namespace {

const std::size_t kChunk = 256 * 1024;
// A refused upload's body is read this far so that the client sees the
// answer; past it the connection is closed instead.
const std::size_t kDrainBytes = 16 * 1024 * 1024;
const char* const SHARE_UPLOAD = "upload";
const char* const EXPLORER_UPLOAD = "START_GUEST_UPLOAD";
// The refusal a visitor reads when the share has no room for the upload.
const char* const SIZE_LIMIT_TEXT = "Unable to upload file(s). Size Limit Exceeded";

Poco::Logger& log() {
    return Poco::Logger::get("Upload");
}

std::string replyField(const Data::Message& reply, const char* field) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    return resp ? resp->getString(field) : std::string();
}

std::int64_t replyBytes(const Data::Message& reply, const char* field) {
    const std::string text = replyField(reply, field);
    return text.empty() ? 0 : Data::VariantField(text).getInt64();
}

std::uint64_t declaredLength(const Poco::Net::HTTPServerRequest& request) {
    if (!request.hasContentLength() || request.getContentLength64() < 0)
        return 0;
    return static_cast<std::uint64_t>(request.getContentLength64());
}

}  // namespace

UploadHandler::UploadHandler(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

bool UploadHandler::wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts) {
    if (request.getMethod() != "POST")
        return false;
    if (parts.operation == EXPLORER_UPLOAD)
        return true;
    return parts.operation == SHARE_UPLOAD &&
           !MultipartReader::boundaryOf(request.getContentType()).empty();
}

bool UploadHandler::isExplorerUpload() const {
    return m_parts.operation == EXPLORER_UPLOAD;
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
            closeAfter(request, response);
            PluginCall::refuseBlocked(response, left);
            return;
        }
        if (MultipartReader::boundaryOf(request.getContentType()).empty()) {
            closeAfter(request, response);
            HttpErrors::send(response, HTTPResponse::HTTP_BAD_REQUEST,
                             "Files are uploaded as multipart/form-data.");
            return;
        }
        MessagePtr reply = ask(request, response);
        if (!reply)
            return;
        if (replyField(*reply, HTTP::S_HTTP_RESP_ALLOW) != "1") {
            refuse(request, response, *reply);
            return;
        }
        Storage::SpaceReservation room = reserve(request, *reply);
        if (!room.fits()) {
            refuseRoom(request, response, room);
            return;
        }
        const int stored =
            store(request, response, replyField(*reply, HTTP::S_HTTP_RESP_DIRNAME), room);
        if (!response.sent())
            answerStored(*reply, response, stored);
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
    // The explorer's own question goes by way of the plug-in, which checks
    // the folder against its shares and hands it to the explorer service.
    start.operation = isExplorerUpload() ? EXPLORER_UPLOAD : "START_UPLOAD";
    MessagePtr msg = RequestTranslator::build(request, start, m_identity);
    // The plug-in refuses at once an upload that says it will not fit.
    if (request.hasContentLength()) {
        (*msg)[HTTP::MS_HTTP_REQ][Defs::Space::S_UPLOAD_LENGTH] =
            static_cast<long long>(declaredLength(request));
    }
    PendingReplies::Outcome outcome = PluginCall::ask(m_context, m_parts.plugin, msg);
    if (outcome.hostStatus != 0) {
        closeAfter(request, response);
        HttpErrors::send(response, outcome.hostStatus);
        return MessagePtr();
    }
    if (PluginCall::asksCredentials(m_context, *outcome.reply, m_identity, m_address)) {
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
    ReplyWriter::sendRefusal(reply, response);
}

Storage::SpaceReservation UploadHandler::reserve(const Poco::Net::HTTPServerRequest& request,
                                                 const Data::Message& reply) {
    // The body's length is a little more than its files': the part headers
    // are claimed too until the end gives back what was not stored.
    return Storage::SpaceReservation(
        replyField(reply, Defs::Space::S_SHARE_ROOT), replyBytes(reply, Defs::Space::S_SIZE_LIMIT),
        replyField(reply, HTTP::S_HTTP_RESP_DIRNAME), declaredLength(request));
}

void UploadHandler::refuseRoom(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response,
                               const Storage::SpaceReservation& room) {
    closeAfter(request, response);
    if (room.verdict() == Storage::SpaceReservation::OVER_LIMIT)
        HttpErrors::send(response, HTTPResponse::HTTP_FORBIDDEN, SIZE_LIMIT_TEXT);
    else
        HttpErrors::send(response, HTTPResponse::HTTP_INSUFFICIENT_STORAGE,
                         "There is no room left for the file.");
}

void UploadHandler::closeAfter(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
    // The body stays unread: read a little of it so that the client gets to
    // see the answer, and do not reuse the connection unless it all went.
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
}

int UploadHandler::store(Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response, const std::string& folder,
                         Storage::SpaceReservation& room) {
    MultipartReader reader(request.stream(), MultipartReader::boundaryOf(request.getContentType()));
    int stored = 0;
    try {
        PartHeader part;
        while (reader.nextPart(part)) {
            if (part.hasFileName && storePart(reader, part, folder, room))
                ++stored;
        }
    } catch (const WriteFailure& e) {
        log().error("Upload into " + folder + " failed: " + e.what());
        response.setKeepAlive(false);
        if (!room.fits()) {
            // The files stored before this one stay: they fitted.
            refuseRoom(request, response, room);
        } else if (e.noSpace()) {
            HttpErrors::send(response, HTTPResponse::HTTP_INSUFFICIENT_STORAGE,
                             "There is no room left for the file.");
        } else if (e.error() == ENAMETOOLONG) {
            // A name at the length limit that is taken has no room for " (1)".
            HttpErrors::send(response, HTTPResponse::HTTP_BAD_REQUEST,
                             "The file name is too long to be stored beside one of that name.");
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
    return stored;
}

void UploadHandler::answerStored(const Data::Message& reply,
                                 Poco::Net::HTTPServerResponse& response, int stored) {
    if (!isExplorerUpload()) {
        ReplyWriter::write(reply, response);
        return;
    }
    const std::string body =
        Util::HTTP::getXMLResult("upload", true, std::to_string(stored) + " file(s) uploaded");
    response.setStatusAndReason(HTTPResponse::HTTP_OK);
    response.setContentType("text/xml; charset=utf-8");
    response.set("X-Content-Type-Options", "nosniff");
    response.setContentLength64(static_cast<Poco::UInt64>(body.size()));
    response.sendBuffer(body.data(), body.size());
}

bool UploadHandler::storePart(MultipartReader& reader, const PartHeader& part,
                              const std::string& folder, Storage::SpaceReservation& room) {
    const std::string name = storedName(part.fileName);
    if (name.empty())
        return false;  // an empty file input, or nothing usable
    TempFile file(folder, &room);
    std::vector<char> chunk(kChunk);
    for (;;) {
        const std::size_t n = reader.read(chunk.data(), chunk.size());
        if (n == 0)
            break;
        file.write(chunk.data(), n);
    }
    const std::uint64_t size = file.size();
    const std::string path = file.placeUnique(name);
    room.keep(size);
    // The history belongs to share uploads; an explorer upload names no
    // share, so the plug-in would have nothing to record it under.
    if (!isExplorerUpload())
        finished(path, size);
    return true;
}

void UploadHandler::finished(const std::string& path, std::uint64_t size) {
    RequestParts finish = m_parts;
    finish.operation = "FINISH_UPLOAD";
    // A fresh token: nobody waits for an answer to this one.
    MessagePtr msg = RequestTranslator::build(*m_request, finish, m_identity);
    Data::VariantRow& req = (*msg)[HTTP::MS_HTTP_REQ];
    req[HTTP::S_HTTP_REQ_UPLOADFILEPATH] = path;
    req[HTTP::S_HTTP_REQ_UPLOADFILESIZE] = static_cast<long long>(size);
    req[HTTP::S_HTTP_REQ_SHARENAME] = UrlPath::queryValue(m_parts.query, "sharename");
    if (!Orvane::Dispatcher()->postMessage(msg))
        log().warning("Nobody took FINISH_UPLOAD for " + path);
}

}  // namespace Host
}  // namespace Orvane
