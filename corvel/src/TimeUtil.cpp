// Display times: stored UTC values shown in the local zone.
#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DateTimeParser.h>
#include <Poco/LocalDateTime.h>

#include "orvane/Util.h"

namespace Orvane {
namespace Util {
namespace {

const char* const kDisplayFormat = "%Y-%m-%d %H:%M";

// Strict YYYY-MM-DD HH:MM:SS; Poco's parser alone lets stray text through.
bool isSortableForm(const std::string& text) {
    static const std::string shape = "dddd-dd-dd dd:dd:dd";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i])
            return false;
    }
    return true;
}

}  // namespace

std::string localNiceTimeStrFromUTCTime(const Poco::Timestamp& utc) {
    return Poco::DateTimeFormatter::format(Poco::LocalDateTime(Poco::DateTime(utc)),
                                           kDisplayFormat);
}

std::string localTimeStrFromUTCStr(const std::string& utc) {
    if (!isSortableForm(utc))
        return "";
    Poco::DateTime parsed;
    int tzd = 0;
    if (!Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::SORTABLE_FORMAT, utc, parsed, tzd)) {
        return "";
    }
    // Whatever the parser accepts must read back unchanged (no wrapped dates).
    if (Poco::DateTimeFormatter::format(parsed, Poco::DateTimeFormat::SORTABLE_FORMAT) != utc) {
        return "";
    }
    return localNiceTimeStrFromUTCTime(parsed.timestamp());
}

}  // namespace Util
}  // namespace Orvane
