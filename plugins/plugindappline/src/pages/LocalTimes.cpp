#include "pages/LocalTimes.h"

#include <Poco/Timestamp.h>
#include <Poco/Timezone.h>

#include "orvane/CivilDate.h"
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
    Util::CivilDate::appendDigits(out, value, width);
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
    const std::int64_t days = floorDiv(local, DAY);
    const std::int64_t seconds = local - days * DAY;
    const Util::CivilDate date = Util::CivilDate::fromDays(days);
    appendDigits(out, static_cast<unsigned>(date.year), 4);
    out += '-';
    appendDigits(out, date.month, 2);
    out += '-';
    appendDigits(out, date.day, 2);
    out += ' ';
    appendDigits(out, static_cast<unsigned>(seconds / 3600), 2);
    out += ':';
    appendDigits(out, static_cast<unsigned>(seconds % 3600 / 60), 2);
}

}  // namespace Page
}  // namespace Dappline
}  // namespace Orvane
