// The modification times of one page's rows in the local zone, written as
// the host's Util::localNiceTimeStrFromUTCTime writes them, without asking
// the zone for every row: that function reads the zone again on each call
// (one stat of the zone file each), which cost a folder of 100,000 files
// more than its own lstat calls. One instance per page build, used by one
// thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <unordered_map>

namespace Orvane {
namespace Dappline {
namespace Page {

class LocalTimes {
public:
    // Appends "YYYY-MM-DD HH:MM" for the UTC time `utc` (seconds).
    void append(std::string& out, std::time_t utc);

private:
    // The seconds the zone adds at `utc`, as the host's display time finds it.
    static long offsetAt(std::time_t utc);

    // Per UTC day: the zone's offset when it is the same at the day's first
    // and last second, else MIXED (a day on which summer time begins or
    // ends; its times are asked of the host one by one).
    static constexpr long MIXED = -1000000;
    std::unordered_map<std::int64_t, long> m_days;
};

}  // namespace Page
}  // namespace Dappline
}  // namespace Orvane
