// One write's claim on room, held for as long as the write runs: in its
// share (ShareSpace, against the share's size limit) and on the disk (the
// free-disk floor min.free.mb). Made before the first byte with the
// declared length, it grows as bytes arrive past that length and looks at
// the disk again every MiB, so that a chunked body or one longer than it
// said is stopped at the limit too. Whatever was put in place is added to
// the share when it ends; the rest of the room is given back. One object
// per write, used from one thread.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Storage {

class SpaceReservation {
public:
    enum Verdict { FITS, OVER_LIMIT, NO_DISK };

    // Claims nothing; every question fits.
    SpaceReservation() = default;
    // Claims `bytes` for a write into `folder` of the share at `root` whose
    // size limit is `limit` bytes (0: none; an empty root: no share, the
    // disk floor alone). `replacing` is the size of what the write replaces
    // once it is in place, which the share gets back: only the growth
    // counts against the limit.
    SpaceReservation(const std::string& root, std::int64_t limit, const std::string& folder,
                     std::uint64_t bytes, std::uint64_t replacing = 0);
    // Gives back what was not kept.
    ~SpaceReservation();
    SpaceReservation(SpaceReservation&& other) noexcept;
    SpaceReservation& operator=(SpaceReservation&& other) noexcept;
    SpaceReservation(const SpaceReservation&) = delete;
    SpaceReservation& operator=(const SpaceReservation&) = delete;

    // The answer at the claim, or to the last question that failed.
    Verdict verdict() const { return m_verdict; }
    bool fits() const { return m_verdict == FITS; }

    // `bytes` more are about to be written. FITS, or why they may not be:
    // the write must then stop and remove what it wrote.
    Verdict add(std::uint64_t bytes);
    std::uint64_t written() const { return m_written; }
    // `bytes` more are now in place in the share (kept when the claim
    // ends). A replacing write calls it once its file is in place, also
    // with 0, so that the replaced bytes are given back.
    void keep(std::uint64_t bytes);

private:
    void end();
    bool diskHolds(std::uint64_t bytes) const;

    std::uint64_t m_id = 0;  // the share's reservation; 0 without one
    std::string m_folder;
    std::uint64_t m_declared = 0;
    std::uint64_t m_replacing = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_nextDiskCheck = 0;
    std::uint64_t m_kept = 0;
    bool m_placed = false;
    Verdict m_verdict = FITS;
};

}  // namespace Storage
}  // namespace Orvane
