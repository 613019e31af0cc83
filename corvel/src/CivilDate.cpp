#include "orvane/CivilDate.h"

namespace Orvane {
namespace Util {

namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

}  // namespace

// Days to a date in eras of 400 years, counted from 0000-03-01 so that a
// leap day ends its year.
CivilDate CivilDate::fromDays(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate date;
    date.day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    date.year = yoe + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

void CivilDate::appendDigits(std::string& out, unsigned value, int width) {
    char buf[8];
    for (int i = width - 1; i >= 0; --i) {
        buf[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buf, static_cast<std::size_t>(width));
}

}  // namespace Util
}  // namespace Orvane
