#include "pages/LocalTimes.h"

#include <Poco/Timestamp.h>
#include <Poco/Timezone.h>

#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {
namespace Page {

namespace {

const std::int64_t DAY = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

void appendDigits(std::string& out, unsigned value, int width) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buf, static_cast<std::size_t>(width));
}

}  // namespace

// The host's display time is Poco's local time: the zone's standard offset
// plus one hour while summer time is in force.
long LocalTimes::offsetAt(std::time_t utc) {
    std::tm broken;
    if (!::localtime_r(&utc, &broken))
        return MIXED;
    return static_cast<long>(Poco::Timezone::utcOffset()) + (broken.tm_isdst == 1 ? 3600 : 0);
}

void LocalTimes::append(std::string& out, std::time_t utc) {
    const std::int64_t day = floorDiv(static_cast<std::int64_t>(utc), DAY);
    auto found = m_days.find(day);
    if (found == m_days.end()) {
        const long first = offsetAt(static_cast<std::time_t>(day * DAY));
        const long last = offsetAt(static_cast<std::time_t>(day * DAY + DAY - 1));
        found = m_days.emplace(day, first == last ? first : MIXED).first;
    }
    // Local times from 1900-01-01 to 9999-12-31 here; the host's own
    // calendar for anything else.
    const std::int64_t local = static_cast<std::int64_t>(utc) + found->second;
    if (found->second == MIXED || local < -2208988800LL || local > 253402300799LL) {
        out += Util::localNiceTimeStrFromUTCTime(Poco::Timestamp::fromEpochTime(utc));
        return;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const std::int64_t days = floorDiv(local, DAY);
    const std::int64_t seconds = local - days * DAY;
    const std::int64_t z = days + 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const unsigned dayOfMonth = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    const unsigned year = static_cast<unsigned>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    appendDigits(out, year, 4);
    out += '-';
    appendDigits(out, month, 2);
    out += '-';
    appendDigits(out, dayOfMonth, 2);
    out += ' ';
    appendDigits(out, static_cast<unsigned>(seconds / 3600), 2);
    out += ':';
    appendDigits(out, static_cast<unsigned>(seconds % 3600 / 60), 2);
}

}  // namespace Page
}  // namespace Dappline
}  // namespace Orvane
