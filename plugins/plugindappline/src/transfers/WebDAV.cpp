// WebDAV decisions: the host serves the protocol itself and asks here which
// folder a share address maps to, whether the visitor may use it, whether
// writing is allowed and where a COPY or MOVE destination lies. Handlers run
// on the deferred workers and keep no state between calls.
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/URI.h>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceFields.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

const char* const TEXT_HTML_UTF8 = "text/html; charset=utf-8";
// Fields of the answer beyond the six the host must honour
// (orvane/storage/SpaceFields.h): the share's size limit in bytes, which the
// host's writers hold every PUT and COPY to and the quota properties show,
// and a mark telling a PUT refused for the limit (507) from one refused for
// rights.

MessagePtr webDAVAnswer(const MessagePtr& request, const std::string& sender, bool allow,
                        bool allowWrite, const std::string& dirName, const std::string& base,
                        const std::string& destination, const std::string& shareName) {
    MessagePtr answer = syncAnswer(request);
    answer->sender = sender;
    Data::VariantRow& resp = (*answer)[HTTP::MS_HTTP_RESP];
    resp[HTTP::S_HTTP_RESP_ALLOW] = allow ? 1 : 0;
    resp[HTTP::S_HTTP_RESP_ALLOW_WRITE] = allowWrite ? 1 : 0;
    resp[HTTP::S_HTTP_RESP_DIRNAME] = dirName;
    resp["BASE"] = base;
    resp[HTTP::S_HTTP_REQ_DESTINATION] = destination;
    resp[HTTP::S_HTTP_REQ_SHARENAME] = shareName;
    Util::MessageUtil::addHTTPResponse(answer, 200, TEXT_HTML_UTF8);
    return answer;
}

// The path of a Destination header, decoded; clients send an absolute URL,
// a few only the path.
std::string destinationPath(const std::string& header) {
    try {
        Poco::URI uri(header);
        return uri.getPath();
    } catch (const Poco::Exception&) {
        std::string decoded;
        try {
            Poco::URI::decode(header, decoded);
        } catch (const Poco::Exception&) {
            return std::string();
        }
        return decoded;
    }
}

enum DestinationKind { NO_DESTINATION, OTHER_SHARE, INSIDE, REFUSED };

// Where a COPY or MOVE goes. Only a destination below this share's own
// address is resolved; one that climbs with ".." or whose path leaves the
// share's folder is refused like an operation that does.
DestinationKind resolveDestination(const MessagePtr& msg, const Dappline& share,
                                   const std::string& shareBase, std::string& destination) {
    if (!hasRequestField(msg, HTTP::S_HTTP_REQ_DESTINATION))
        return NO_DESTINATION;
    const std::string path = destinationPath(requestField(msg, HTTP::S_HTTP_REQ_DESTINATION));
    const std::string::size_type at = path.find(shareBase);
    if (at == std::string::npos)
        return OTHER_SHARE;
    const std::string::size_type after = at + shareBase.size();
    // "share/ab/x" is not inside the share "a".
    if (after < path.size() && path[after] != '/')
        return OTHER_SHARE;
    const std::string inside = after < path.size() ? path.substr(after + 1) : std::string();
    if (inside.find("..") != std::string::npos)
        return REFUSED;
    destination = Util::convertPathToNative(share.shareLocation + "/" + inside);
    if (!Util::isPathWithinResolved(destination, share.shareLocation))
        return REFUSED;
    return INSIDE;
}

}  // namespace

void DapplinePlugin::sendWebDAVResponse(MessagePtr& request, bool allow, bool allowWrite,
                                        const std::string& dirName, const std::string& base,
                                        const std::string& destination,
                                        const std::string& shareName) {
    post(webDAVAnswer(request, m_name, allow, allowWrite, dirName, base, destination, shareName));
}

void DapplinePlugin::onStartWebDAVReq(const void*, MessagePtr& msg) {
    if (!passSourceGate(msg))
        return;
    const std::string& operation = msg->operation;
    auto refuse = [&](const std::string& shareName) {
        sendWebDAVResponse(msg, false, false, "", "", "", shareName);
    };
    if (operation == "share" || operation == "share/")
        return refuse("");
    if (operation.find("..") != std::string::npos)
        return refuse("");
    if (operation.find('/') != 5)
        return;
    const std::string rest = operation.size() >= 7 ? operation.substr(6) : std::string();
    std::string shareName, inside;
    splitIntoParts(rest, shareName, inside);
    if (shareName.empty())
        return refuse("");
    DapplinePtr share = m_db->getShareByName(shareName);
    if (!share)
        return refuse("");
    if (share->isExpired())
        return refuse(shareName);

    int userId = -1;
    bool write = false;
    if (share->allowPublicAccess == 0) {
        userId = getShareUserID(share, msg);
        if (userId == -1)
            return;
        write = m_db->hasWriteAccessForShare(userId, share->shareId);
    }
    const std::string target = Util::convertPathToNative(share->shareLocation + "/" + inside);
    // Neither a link leading out of the shared folder nor anything below it.
    if (!Util::isPathWithinResolved(target, share->shareLocation))
        return refuse(shareName);
    std::string base = getShareURL() + rest;
    const std::string url = requestField(msg, HTTP::S_HTTP_REQ_URL);
    Poco::File targetFile(target);
    if (targetFile.exists() && targetFile.isDirectory() && !url.empty() && url.back() != '/')
        base += "/";

    std::string destination;
    const std::string shareBase = getShareURL() + shareName;
    if (resolveDestination(msg, *share, shareBase, destination) == REFUSED)
        return refuse("");

    const std::int64_t limit = m_db->getShareSizeLimit(shareName) * 1024;
    bool overLimit = false;
    // A share already over its limit takes no PUT at all; whether this PUT
    // fits is the host's to judge while the body arrives.
    if (requestField(msg, HTTP::S_HTTP_REQ_METHOD) == "PUT" &&
        !Storage::ShareSpace::instance().fits(share->shareLocation, limit, 0)) {
        overLimit = write;
        write = false;
    }
    MessagePtr answer =
        webDAVAnswer(msg, m_name, true, write, target, base, destination, shareName);
    (*answer)[HTTP::MS_HTTP_RESP][Defs::Space::S_SIZE_LIMIT] = static_cast<long long>(limit);
    if (overLimit)
        (*answer)[HTTP::MS_HTTP_RESP][Defs::Space::S_SIZE_LIMIT_EXCEEDED] = 1;
    post(answer);
}

}  // namespace Dappline
}  // namespace Orvane
