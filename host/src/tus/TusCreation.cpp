#include "tus/TusCreation.h"

#include <Poco/Logger.h>

#include "bridge/PluginCall.h"
#include "bridge/ReplyWriter.h"
#include "bridge/UploadHandler.h"
#include "http/RequestBody.h"
#include "orvane/Defs.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceFields.h"
#include "tus/TusFolders.h"
#include "tus/TusOwner.h"
#include "tus/TusPatch.h"
#include "tus/TusProtocol.h"
#include "tus/TusResource.h"
#include "tus/TusStore.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

const char* const SHARE_UPLOAD = "upload";
const char* const EXPLORER_UPLOAD = "START_GUEST_UPLOAD";
const std::size_t kDrainBytes = 1024 * 1024;

std::string replyField(const Data::Message& reply, const char* field) {
    const Data::VariantRow* resp = reply.findSection(HTTP::MS_HTTP_RESP);
    return resp ? resp->getString(field) : std::string();
}

std::int64_t replyBytes(const Data::Message& reply, const char* field) {
    const std::string text = replyField(reply, field);
    return text.empty() ? 0 : Data::VariantField(text).getInt64();
}

}  // namespace

TusCreation::TusCreation(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

bool TusCreation::wants(const Poco::Net::HTTPServerRequest& request, const RequestParts& parts) {
    if (parts.operation != SHARE_UPLOAD && parts.operation != EXPLORER_UPLOAD)
        return false;
    return request.getMethod() == "OPTIONS" ||
           (request.getMethod() == "POST" && TusProtocol::speaks(request));
}

bool TusCreation::isExplorer() const {
    return m_parts.operation == EXPLORER_UPLOAD;
}

void TusCreation::drop(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) {
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
}

void TusCreation::handleRequest(Poco::Net::HTTPServerRequest& request,
                                Poco::Net::HTTPServerResponse& response) {
    m_address = request.clientAddress().host().toString();
    try {
        if (request.getMethod() == "OPTIONS")
            options(request, response);
        else
            create(request, response);
    } catch (const std::exception& e) {
        Poco::Logger::get("Tus").error("Creating an upload at " + m_parts.rawPath +
                                       " failed: " + e.what());
        if (!response.sent()) {
            response.setKeepAlive(false);
            TusProtocol::answer(response, 500, "The upload could not be begun.");
        }
    }
}

void TusCreation::options(Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response) {
    m_identity = m_context.authenticator.identify(request);
    // Only a visitor who says who he is can be told a share's room.
    const bool known =
        m_identity.role != Data::AuthKey::ROLE_ANONYMOUS || m_identity.hasCredentials;
    MessagePtr reply = known ? ask(request, response, true) : MessagePtr();
    if (reply && replyField(*reply, HTTP::S_HTTP_RESP_ALLOW) == "1") {
        const std::string root = replyField(*reply, Space::S_SHARE_ROOT);
        const std::int64_t limit = replyBytes(*reply, Space::S_SIZE_LIMIT);
        if (!root.empty() && limit > 0) {
            const std::int64_t used = Storage::ShareSpace::instance().used(root);
            response.set("Tus-Max-Size", std::to_string(std::max<std::int64_t>(0, limit - used)));
        }
    }
    drop(request, response);
    TusProtocol::describe(response);
    response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NO_CONTENT);
    response.send();
}

void TusCreation::create(Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response) {
    if (int left = m_context.credentialThrottle.blockedFor(m_address)) {
        drop(request, response);
        TusProtocol::commonHeaders(response);
        PluginCall::refuseBlocked(response, left);
        return;
    }
    if (!TusProtocol::rightVersion(request)) {
        drop(request, response);
        return TusProtocol::refuseVersion(response);
    }
    TusRecord record;
    if (!describe(request, response, record))
        return;
    MessagePtr reply = ask(request, response, false);
    if (!reply)
        return;
    if (replyField(*reply, HTTP::S_HTTP_RESP_ALLOW) != "1")
        return refuse(request, response, *reply);
    start(request, response, record, *reply);
}

bool TusCreation::describe(Poco::Net::HTTPServerRequest& request,
                           Poco::Net::HTTPServerResponse& response, TusRecord& record) {
    std::map<std::string, std::string> meta;
    std::string problem;
    if (!TusProtocol::number(request, "Upload-Length", record.length))
        problem = "Upload-Length is missing; this server does not take deferred lengths.";
    else if (!TusProtocol::metadata(request.get("Upload-Metadata", ""), meta))
        problem = "Upload-Metadata cannot be read.";
    const std::string given = meta.count("filename") ? meta["filename"] : meta["name"];
    record.fileName = UploadHandler::storedName(given);
    if (problem.empty() && record.fileName.empty())
        problem = "Upload-Metadata names no usable filename.";
    if (problem.empty() && !TusFolders::read(meta["relativePath"], given, record.folders))
        problem = "The relativePath names a folder that may not be made here.";
    if (!problem.empty()) {
        drop(request, response);
        TusProtocol::answer(response, 400, problem);
        return false;
    }
    if (RequestBody::announcesBody(request) && !TusProtocol::bringsBytes(request)) {
        drop(request, response);
        TusProtocol::answer(response, 415, "A body comes as application/offset+octet-stream.");
        return false;
    }
    record.metadata = request.get("Upload-Metadata", "");
    return true;
}

TusCreation::MessagePtr TusCreation::ask(Poco::Net::HTTPServerRequest& request,
                                         Poco::Net::HTTPServerResponse& response, bool quiet) {
    m_identity = m_context.authenticator.identify(request);
    RequestParts start = m_parts;
    start.operation = isExplorer() ? EXPLORER_UPLOAD : "START_UPLOAD";
    MessagePtr msg = RequestTranslator::build(request, start, m_identity);
    (*msg)[HTTP::MS_HTTP_REQ][HTTP::S_HTTP_REQ_METHOD] = std::string("POST");
    PendingReplies::Outcome outcome = PluginCall::ask(m_context, m_parts.plugin, msg);
    if (outcome.hostStatus != 0) {
        if (!quiet) {
            drop(request, response);
            TusProtocol::answer(response, outcome.hostStatus, "The upload cannot be begun now.");
        }
        return MessagePtr();
    }
    if (PluginCall::asksCredentials(m_context, *outcome.reply, m_identity, m_address)) {
        if (!quiet) {
            drop(request, response);
            TusProtocol::commonHeaders(response);
            ReplyWriter::write(*outcome.reply, response);
        }
        return MessagePtr();
    }
    return outcome.reply;
}

void TusCreation::refuse(Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response, const Data::Message& reply) {
    drop(request, response);
    TusProtocol::commonHeaders(response);
    ReplyWriter::applyHeaders(reply, response);
    response.set("Cache-Control", "no-store");
    ReplyWriter::sendRefusal(reply, response);
}

void TusCreation::start(Poco::Net::HTTPServerRequest& request,
                        Poco::Net::HTTPServerResponse& response, TusRecord& record,
                        const Data::Message& reply) {
    record.id = TusStore::newId();
    record.plugin = m_parts.plugin;
    record.owner = TusOwner::keyOf(m_identity, m_address, record.id);
    record.query = m_parts.query;
    record.rawPath = m_parts.rawPath;
    record.explorer = isExplorer();
    record.target = replyField(reply, HTTP::S_HTTP_RESP_DIRNAME);
    record.shareRoot = replyField(reply, Space::S_SHARE_ROOT);
    record.sizeLimit = replyBytes(reply, Space::S_SIZE_LIMIT);
    // The share's room for the whole length; the disk is asked as bytes come.
    Storage::SpaceReservation room(record.shareRoot, record.sizeLimit, "", record.length);
    TusStore& store = TusStore::instance();
    if (!room.fits()) {
        drop(request, response);
        return TusProtocol::answer(response, 413, "Unable to upload file(s). Size Limit Exceeded");
    }
    if (!Util::hasFreeSpace(record.target, record.length) ||
        !Util::hasFreeSpace(store.partPath(record.id), record.length)) {
        drop(request, response);
        return TusProtocol::answer(response, 507, "There is no room left for the file.");
    }
    TusEntryPtr entry = store.create(record, std::move(room));
    response.set("Location", TusResource::addressOf(record.plugin, record.id));
    // With a body (creation-with-upload), or with nothing to wait for.
    if (RequestBody::announcesBody(request) || record.length == 0)
        return TusPatch(entry, m_identity).run(request, response, 0, 201);
    response.set("Upload-Offset", "0");
    response.set("Upload-Expires", TusProtocol::date(entry->record.expires));
    TusProtocol::answer(response, 201);
}

}  // namespace Host
}  // namespace Orvane
