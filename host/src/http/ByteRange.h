// One byte range of a "Range: bytes=..." header, resolved against a file
// size: first-last, open end (first-) or suffix (-count). Several ranges or
// a header of another unit are treated as no range (the whole file is
// sent). A value type; pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Host {

struct ByteRange {
    enum Kind { NONE, SATISFIABLE, UNSATISFIABLE };

    Kind kind = NONE;
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive

    std::uint64_t length() const { return last - first + 1; }

    static ByteRange parse(const std::string& header, std::uint64_t size);
    // A byte count of a header: digits only, without overflow; false
    // otherwise.
    static bool toNumber(const std::string& text, std::uint64_t& value);
};

}  // namespace Host
}  // namespace Orvane
