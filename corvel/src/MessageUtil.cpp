#include "orvane/MessageUtil.h"

#include <cstdlib>

#include "orvane/Defs.h"

namespace Orvane {
namespace Util {

using namespace Orvane::Defs;

MessageUtil::MessagePtr MessageUtil::createNewMessage(const std::string& service,
                                                      const std::string& operation) {
    MessagePtr msg(new Data::Message());
    msg->target = service;
    msg->operation = operation;
    return msg;
}

void MessageUtil::addHTTPResponse(MessagePtr& msg, int status, const std::string& contentType) {
    Data::VariantRow& resp = (*msg)[HTTP::MS_HTTP_RESP];
    resp[HTTP::S_HTTP_RESP_STATUS] = status;
    resp[HTTP::S_HTTP_RESP_TYPE] = contentType;
}

MessageUtil::MessagePtr MessageUtil::createNewTimerStartMessage(const std::string& service,
                                                                const std::string& tag,
                                                                long intervalMs, int repeats) {
    MessagePtr msg = createNewMessage(Service::TIMERSERVICE, Timer::MO_TIMER_START);
    msg->sender = service;
    Data::VariantRow& timer = (*msg)[Timer::MS_TIMER];
    timer[Timer::S_TIMER_SERVICE] = service;
    timer[Timer::S_TIMER_TAG] = tag;
    timer[Timer::S_TIMER_INTERVAL] = intervalMs;
    timer[Timer::S_TIMER_REPEATS] = repeats;
    return msg;
}

MessageUtil::MessagePtr MessageUtil::createNewTimerStopMessage(const std::string& service,
                                                               const std::string& tag) {
    MessagePtr msg = createNewMessage(Service::TIMERSERVICE, Timer::MO_TIMER_STOP);
    msg->sender = service;
    Data::VariantRow& timer = (*msg)[Timer::MS_TIMER];
    timer[Timer::S_TIMER_SERVICE] = service;
    timer[Timer::S_TIMER_TAG] = tag;
    return msg;
}

int MessageUtil::getHTTPStatus(const Data::Message& msg) {
    const Data::VariantRow* resp = msg.findSection(HTTP::MS_HTTP_RESP);
    if (!resp || !resp->hasField(HTTP::S_HTTP_RESP_STATUS)) return 200;
    long status = std::strtol(resp->getString(HTTP::S_HTTP_RESP_STATUS).c_str(), nullptr, 10);
    return status > 0 ? static_cast<int>(status) : 200;
}

}  // namespace Util
}  // namespace Orvane
