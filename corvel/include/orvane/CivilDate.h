// Calendar dates written without Poco's calendar objects, for pages that
// print a date per entry of a folder of many thousands: the proleptic
// Gregorian date of a day count, and fixed-width digits. Pure functions,
// thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Util {

struct CivilDate {
    std::int64_t year = 0;
    unsigned month = 0;  // 1..12
    unsigned day = 0;    // 1..31

    // The date `days` after 1970-01-01; negative counts go before it.
    static CivilDate fromDays(std::int64_t days);
    // `value` in `width` digits, zero-padded (at most 8; higher digits dropped).
    static void appendDigits(std::string& out, unsigned value, int width);
};

}  // namespace Util
}  // namespace Orvane
