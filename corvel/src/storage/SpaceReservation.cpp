#include "orvane/storage/SpaceReservation.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"

namespace Orvane {
namespace Storage {

namespace {

// The disk is asked again after this many bytes: often enough that
// parallel writers stop close to the floor, rarely enough to cost nothing.
const std::uint64_t kDiskStep = 1024 * 1024;

std::int64_t signedBytes(std::uint64_t bytes) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(bytes, std::numeric_limits<std::int64_t>::max()));
}

std::uint64_t growth(std::uint64_t bytes, std::uint64_t replacing) {
    return bytes > replacing ? bytes - replacing : 0;
}

}  // namespace

SpaceReservation::SpaceReservation(const std::string& root, std::int64_t limit,
                                   const std::string& folder, std::uint64_t bytes,
                                   std::uint64_t replacing)
    : m_folder(folder), m_declared(bytes), m_replacing(replacing), m_nextDiskCheck(kDiskStep) {
    if (!root.empty()) {
        m_id = ShareSpace::instance().reserve(root, limit, signedBytes(growth(bytes, replacing)));
        if (m_id == 0) {
            m_verdict = OVER_LIMIT;
            return;
        }
    }
    if (!diskHolds(bytes)) {
        end();
        m_verdict = NO_DISK;
    }
}

SpaceReservation::~SpaceReservation() {
    end();
}

SpaceReservation::SpaceReservation(SpaceReservation&& other) noexcept {
    *this = std::move(other);
}

SpaceReservation& SpaceReservation::operator=(SpaceReservation&& other) noexcept {
    if (this != &other) {
        end();
        m_id = std::exchange(other.m_id, 0);
        m_folder = std::move(other.m_folder);
        m_declared = other.m_declared;
        m_replacing = other.m_replacing;
        m_written = other.m_written;
        m_nextDiskCheck = other.m_nextDiskCheck;
        m_kept = other.m_kept;
        m_placed = other.m_placed;
        m_verdict = other.m_verdict;
    }
    return *this;
}

SpaceReservation::Verdict SpaceReservation::add(std::uint64_t bytes) {
    if (m_verdict != FITS)
        return m_verdict;
    m_written += bytes;
    if (m_id != 0 &&
        !ShareSpace::instance().extend(m_id, signedBytes(growth(m_written, m_replacing))))
        return m_verdict = OVER_LIMIT;
    if (!m_folder.empty() && m_written >= m_nextDiskCheck) {
        // What is still to land: this chunk and the rest of the declared length.
        const std::uint64_t pending = std::max(m_declared, m_written) - (m_written - bytes);
        if (!diskHolds(pending))
            return m_verdict = NO_DISK;
        m_nextDiskCheck = m_written + kDiskStep;
    }
    return FITS;
}

void SpaceReservation::keep(std::uint64_t bytes) {
    m_kept += bytes;
    m_placed = true;
}

void SpaceReservation::end() {
    if (m_id == 0)
        return;
    const std::int64_t change = m_placed ? signedBytes(m_kept) - signedBytes(m_replacing) : 0;
    ShareSpace::instance().settle(m_id, change);
    m_id = 0;
}

bool SpaceReservation::diskHolds(std::uint64_t bytes) const {
    return m_folder.empty() || Util::hasFreeSpace(m_folder, bytes);
}

}  // namespace Storage
}  // namespace Orvane
