#include "front/QuickShare.h"

#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/URI.h>

#include "bridge/RequestTranslator.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/MessageUtil.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

std::string xmlUnescape(const std::string& text) {
    static const std::pair<const char*, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        bool replaced = false;
        for (const auto& entity : entities) {
            const std::string name = entity.first;
            if (text.compare(i, name.size(), name) == 0) {
                out += entity.second;
                i += name.size() - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

}  // namespace

QuickShare::QuickShare(PendingReplies& pending, const std::string& plugin,
                       std::chrono::milliseconds timeout)
    : m_pending(pending), m_plugin(plugin), m_timeout(timeout) {}

std::string QuickShare::formBody(const std::string& path) {
    std::string once, twice;
    Poco::URI::encode(path, "", once);
    Poco::URI::encode(once, "+&=;#?", twice);
    return "sharelocation=" + twice;
}

std::string QuickShare::shareName(const std::string& xml) {
    const std::string open = "<sharename>", close = "</sharename>";
    std::string::size_type start = xml.find(open);
    if (start == std::string::npos)
        return std::string();
    start += open.size();
    std::string::size_type end = xml.find(close, start);
    if (end == std::string::npos)
        return std::string();
    return xmlUnescape(xml.substr(start, end - start));
}

QuickShare::Result QuickShare::share(const std::string& path) {
    const std::string absolute = Poco::Path(path).absolute().toString();
    if (!Poco::File(absolute).exists())
        throw Orvane::Exception("there is no " + absolute);
    const std::string xml = ask(formBody(absolute));
    const std::string name = shareName(xml);
    if (name.empty())
        throw Orvane::Exception("the plug-in did not share " + absolute);
    std::string encoded;
    Poco::URI::encode(name, "/?#&+;=", encoded);
    Result result;
    result.address = Util::getPublicBaseURL() + "/app/" + m_plugin + "/share/" + encoded + "/";
    result.existed = xml.find("<duplicate>1</duplicate>") != std::string::npos;
    return result;
}

std::string QuickShare::ask(const std::string& body) {
    auto msg = Util::MessageUtil::createNewMessage(m_plugin, "quickshare");
    msg->sender = Service::SYNCPROXYSERVICE;
    msg->setAuthKey(Data::AuthKey(Data::AuthKey::SOURCE_WEB, Data::AuthKey::ROLE_OWNER,
                                  Data::AuthKey::LOCATION_HOST, ""));
    (*msg)[HTTP::MS_HTTP_REQ][HTTP::S_HTTP_REQ_METHOD] = "POST";
    const std::string token = RequestTranslator::newToken();
    (*msg)[Sync::MS_SYNC][Sync::S_SYNC_TOKEN] = token;
    msg->setRawData(body);
    auto slot = m_pending.open(token, m_plugin);
    if (!slot)
        throw Orvane::Exception("the host is shutting down");
    if (!Orvane::Dispatcher()->postMessage(msg)) {
        m_pending.close(slot);
        throw Orvane::Exception("the plug-in " + m_plugin + " is not running");
    }
    PendingReplies::Outcome outcome = m_pending.wait(slot, m_timeout);
    if (!outcome.reply) {
        throw Orvane::Exception("the plug-in gave no answer (" +
                                std::to_string(outcome.hostStatus) + ")");
    }
    const auto& raw = outcome.reply->getRawData();
    return raw ? raw->toString() : std::string();
}

}  // namespace Host
}  // namespace Orvane
