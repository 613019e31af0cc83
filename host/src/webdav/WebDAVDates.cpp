#include "webdav/WebDAVDates.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>

#include "orvane/CivilDate.h"

namespace Orvane {
namespace Host {

namespace {

using Util::CivilDate;

struct Civil {
    CivilDate date;
    unsigned weekday = 0, secondOfDay = 0;
};

// The date of a time from 1970 to 9999; false outside.
bool civilTime(std::int64_t seconds, Civil& c) {
    if (seconds < 0 || seconds > 253402300799LL)
        return false;
    const std::int64_t days = seconds / 86400;
    c.secondOfDay = static_cast<unsigned>(seconds % 86400);
    c.weekday = static_cast<unsigned>((days + 4) % 7);  // 1970-01-01 was a Thursday
    c.date = CivilDate::fromDays(days);
    return true;
}

void appendDigits(std::string& out, unsigned value, int width) {
    CivilDate::appendDigits(out, value, width);
}

void appendClock(std::string& out, unsigned secondOfDay) {
    appendDigits(out, secondOfDay / 3600, 2);
    out += ':';
    appendDigits(out, secondOfDay / 60 % 60, 2);
    out += ':';
    appendDigits(out, secondOfDay % 60, 2);
}

}  // namespace

void WebDAVDates::appendHttp(std::string& out, std::int64_t seconds) {
    static const char* const WEEKDAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    Civil c;
    if (!civilTime(seconds, c)) {
        out += Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                               Poco::DateTimeFormat::HTTP_FORMAT);
        return;
    }
    out += WEEKDAYS[c.weekday];
    out += ", ";
    appendDigits(out, c.date.day, 2);
    out += ' ';
    out += MONTHS[c.date.month - 1];
    out += ' ';
    appendDigits(out, static_cast<unsigned>(c.date.year), 4);
    out += ' ';
    appendClock(out, c.secondOfDay);
    out += " GMT";
}

void WebDAVDates::appendIso(std::string& out, std::int64_t seconds) {
    Civil c;
    if (!civilTime(seconds, c)) {
        out += Poco::DateTimeFormatter::format(Poco::Timestamp::fromEpochTime(seconds),
                                               "%Y-%m-%dT%H:%M:%SZ");
        return;
    }
    appendDigits(out, static_cast<unsigned>(c.date.year), 4);
    out += '-';
    appendDigits(out, c.date.month, 2);
    out += '-';
    appendDigits(out, c.date.day, 2);
    out += 'T';
    appendClock(out, c.secondOfDay);
    out += 'Z';
}

}  // namespace Host
}  // namespace Orvane
