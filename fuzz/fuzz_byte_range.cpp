// Range headers against files of every size: the range taken is within the
// file, and a plain first-last range is taken as it stands.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "http/ByteRange.h"

using Orvane::Host::ByteRange;

namespace {

void checkWithin(const ByteRange& r, std::uint64_t fileSize) {
    if (r.kind != ByteRange::SATISFIABLE)
        return;
    FUZZ_CHECK(fileSize > 0, "a range of an empty file");
    FUZZ_CHECK(r.first <= r.last, "a range that ends before it begins");
    FUZZ_CHECK(r.last < fileSize, "a range past the end of the file");
    FUZZ_CHECK(r.length() >= 1 && r.length() <= fileSize, "a range longer than the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // Small files are where the edge cases are; still try any size.
    const std::uint64_t fileSize = in.ConsumeBool()
                                       ? in.ConsumeIntegralInRange<std::uint64_t>(0, 64)
                                       : in.ConsumeIntegral<std::uint64_t>();
    const std::uint64_t a = in.ConsumeIntegral<std::uint64_t>() % 100000;
    const std::uint64_t b = in.ConsumeIntegral<std::uint64_t>() % 100000;
    const std::string header = in.ConsumeRemainingBytesAsString();

    checkWithin(ByteRange::parse(header, fileSize), fileSize);

    const ByteRange plain =
        ByteRange::parse("bytes=" + std::to_string(a) + "-" + std::to_string(b), fileSize);
    checkWithin(plain, fileSize);
    if (a <= b && b < fileSize) {
        FUZZ_CHECK(plain.kind == ByteRange::SATISFIABLE, "a range inside the file refused");
        FUZZ_CHECK(plain.first == a && plain.last == b, "a range inside the file changed");
    }
    const ByteRange suffix = ByteRange::parse("bytes=-" + std::to_string(a), fileSize);
    checkWithin(suffix, fileSize);
    if (a > 0 && fileSize > 0) {
        FUZZ_CHECK(suffix.kind == ByteRange::SATISFIABLE, "a suffix range refused");
        FUZZ_CHECK(suffix.length() == std::min(a, fileSize), "a suffix range of the wrong length");
    }
    return 0;
}
