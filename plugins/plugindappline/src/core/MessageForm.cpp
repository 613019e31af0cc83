#include "core/MessageForm.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/URI.h>

#include <cstdlib>

#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Orvane {
namespace Dappline {

std::string requestField(const Data::MessagePtr& msg, const char* field) {
    const Data::VariantRow* req = msg->findSection(Defs::HTTP::MS_HTTP_REQ);
    return req ? req->getString(field) : std::string();
}

bool hasRequestField(const Data::MessagePtr& msg, const char* field) {
    const Data::VariantRow* req = msg->findSection(Defs::HTTP::MS_HTTP_REQ);
    return req && req->hasField(field);
}

std::string bodyText(const Data::MessagePtr& msg) {
    return msg->getRawData() ? msg->getRawData()->toString() : std::string();
}

void loadForm(const std::string& text, Poco::Net::HTMLForm& form) {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + text);
    form.load(request);
}

void loadQueryForm(const Data::MessagePtr& msg, Poco::Net::HTMLForm& form) {
    loadForm(requestField(msg, Defs::HTTP::S_HTTP_REQ_REQUEST), form);
}

void loadBodyForm(const Data::MessagePtr& msg, Poco::Net::HTMLForm& form) {
    loadForm(bodyText(msg), form);
}

std::string queryValue(const Data::MessagePtr& msg, const std::string& name) {
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    return form.get(name, "");
}

int intParam(const Poco::Net::HTMLForm& form, const std::string& name, int fallback) {
    return form.has(name) ? std::atoi(form.get(name).c_str()) : fallback;
}

std::int64_t int64Param(const Poco::Net::HTMLForm& form, const std::string& name,
                        std::int64_t fallback) {
    return form.has(name) ? std::atoll(form.get(name).c_str()) : fallback;
}

std::string decodedOrAsIs(const std::string& text) {
    try {
        std::string decoded;
        Poco::URI::decode(text, decoded);
        return decoded;
    } catch (const Poco::SyntaxException&) {
        return text;
    }
}

std::string syncToken(const Data::MessagePtr& request) {
    const Data::VariantRow* sync = request ? request->findSection(Defs::Sync::MS_SYNC) : nullptr;
    return sync ? sync->getString(Defs::Sync::S_SYNC_TOKEN) : std::string();
}

Data::MessagePtr syncAnswer(const Data::MessagePtr& request) {
    Data::MessagePtr answer =
        Util::MessageUtil::createNewMessage(Defs::Service::SYNCPROXYSERVICE, Defs::Sync::MO_SYNC);
    (*answer)[Defs::Sync::MS_SYNC][Defs::Sync::S_SYNC_TOKEN] = syncToken(request);
    return answer;
}

}  // namespace Dappline
}  // namespace Orvane
