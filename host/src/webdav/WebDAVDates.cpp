#include "webdav/WebDAVDates.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>

namespace Orvane {
namespace Host {

namespace {

struct Civil {
    int year = 0;
    unsigned month = 0, day = 0, weekday = 0, secondOfDay = 0;
};

// The proleptic Gregorian date of a time from 1970 to 9999; false outside.
bool civilTime(std::int64_t seconds, Civil& c) {
    if (seconds < 0 || seconds > 253402300799LL)
        return false;
    const std::int64_t days = seconds / 86400;
    c.secondOfDay = static_cast<unsigned>(seconds % 86400);
    c.weekday = static_cast<unsigned>((days + 4) % 7);  // 1970-01-01 was a Thursday
    const std::int64_t z = days + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    c.day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2 ? 1 : 0));
    return true;
}

void appendDigits(std::string& out, unsigned value, int width) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buf, static_cast<std::size_t>(width));
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
    appendDigits(out, c.day, 2);
    out += ' ';
    out += MONTHS[c.month - 1];
    out += ' ';
    appendDigits(out, static_cast<unsigned>(c.year), 4);
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
    appendDigits(out, static_cast<unsigned>(c.year), 4);
    out += '-';
    appendDigits(out, c.month, 2);
    out += '-';
    appendDigits(out, c.day, 2);
    out += 'T';
    appendClock(out, c.secondOfDay);
    out += 'Z';
}

}  // namespace Host
}  // namespace Orvane
