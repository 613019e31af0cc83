#include "tus/TusResource.h"

#include <Poco/Logger.h>
#include <Poco/String.h>

#include <cstring>

#include "http/HeaderText.h"
#include "http/RequestBody.h"
#include "tus/TusOwner.h"
#include "tus/TusPatch.h"
#include "tus/TusProtocol.h"
#include "tus/TusStore.h"

namespace Orvane {
namespace Host {

namespace {

const std::size_t kDrainBytes = 1024 * 1024;

bool isUploadId(const std::string& id) {
    if (id.size() != 32)
        return false;
    for (char c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

}  // namespace

TusResource::TusResource(FrontContext& context, const RequestParts& parts)
    : m_context(context), m_parts(parts) {}

bool TusResource::wants(const RequestParts& parts) {
    return parts.operation.compare(0, std::strlen(PREFIX), PREFIX) == 0;
}

std::string TusResource::addressOf(const std::string& plugin, const std::string& id) {
    return "/app/" + plugin + "/" + PREFIX + id;
}

void TusResource::refuse(Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response, int status,
                         const std::string& text) {
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
    if (status != 0)
        TusProtocol::answer(response, status, text);
}

void TusResource::handleRequest(Poco::Net::HTTPServerRequest& request,
                                Poco::Net::HTTPServerResponse& response) {
    const std::string method = TusProtocol::methodOf(request);
    try {
        if (method == "OPTIONS") {
            TusProtocol::describe(response);
            response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NO_CONTENT);
            response.send();
            return;
        }
        if (method != "HEAD" && method != "PATCH" && method != "DELETE") {
            response.set("Allow", "OPTIONS, HEAD, PATCH, DELETE");
            return refuse(request, response, 405, "Not a method of an upload.");
        }
        if (!TusProtocol::rightVersion(request)) {
            refuse(request, response, 0, "");  // the body only
            return TusProtocol::refuseVersion(response);
        }
        const Identity identity = m_context.authenticator.identify(request);
        TusEntryPtr entry = find(request, response, identity);
        if (!entry)
            return;
        if (method == "HEAD")
            return head(response, entry);
        if (method == "PATCH")
            return patch(request, response, entry, identity);
        TusStore::instance().remove(entry);
        refuse(request, response, 204, "");
    } catch (const std::exception& e) {
        Poco::Logger::get("Tus").error(method + " " + m_parts.rawPath + " failed: " + e.what());
        if (!response.sent()) {
            response.setKeepAlive(false);
            TusProtocol::answer(response, 500, "The upload failed.");
        }
    }
}

TusEntryPtr TusResource::find(Poco::Net::HTTPServerRequest& request,
                              Poco::Net::HTTPServerResponse& response, const Identity& identity) {
    const std::string id = m_parts.operation.substr(std::strlen(PREFIX));
    TusEntryPtr entry = isUploadId(id) ? TusStore::instance().find(id) : TusEntryPtr();
    if (entry) {
        std::lock_guard<std::mutex> lock(entry->mutex);
        const std::string address = request.clientAddress().host().toString();
        if (entry->record.plugin == m_parts.plugin &&
            TusOwner::same(entry->record.owner, TusOwner::keyOf(identity, address, id)))
            return entry;
    }
    refuse(request, response, 404, "There is no such upload.");
    return TusEntryPtr();
}

void TusResource::head(Poco::Net::HTTPServerResponse& response, const TusEntryPtr& entry) {
    {
        std::lock_guard<std::mutex> lock(entry->mutex);
        const TusRecord& record = entry->record;
        response.set("Upload-Offset", std::to_string(entry->offset));
        response.set("Upload-Length", std::to_string(record.length));
        if (!record.metadata.empty())
            response.set("Upload-Metadata", HeaderText::clean(record.metadata));
        if (!record.done)
            response.set("Upload-Expires", TusProtocol::date(record.expires));
    }
    TusProtocol::answer(response, 200);
}

void TusResource::patch(Poco::Net::HTTPServerRequest& request,
                        Poco::Net::HTTPServerResponse& response, const TusEntryPtr& entry,
                        const Identity& identity) {
    if (!TusProtocol::bringsBytes(request))
        return refuse(request, response, 415, "PATCH takes application/offset+octet-stream.");
    std::uint64_t offset = 0;
    if (!TusProtocol::number(request, "Upload-Offset", offset))
        return refuse(request, response, 400, "Upload-Offset is missing.");
    TusPatch(entry, identity).run(request, response, offset, 204);
}

}  // namespace Host
}  // namespace Orvane
