// A file written under a hidden temporary name in its final folder and put
// in place only once it is complete, so that nobody ever sees half a file
// and a failed or broken-off transfer leaves nothing behind. A host that
// dies mid-transfer cannot remove its own: each temporary name is written
// to a journal in the profile before the file exists, and the next start
// removes exactly those files. Given the write's SpaceReservation, every
// chunk is charged to it before it is written, so that a share's limit and
// the free-disk floor stop the transfer as soon as it would cross them. A
// request body is best copied with writeFrom: large aligned writes, read
// straight into the one buffer.
// One object per transfer, used from one thread; the journal is shared and
// guarded by a lock of its own.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "http/WriteFailure.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceReservation.h"

namespace Orvane {
namespace Host {

class TempFile {
public:
    // Names beginning with this are our own transfers in progress (which
    // the share size accounting leaves to the writes' reservations).
    static constexpr const char* PREFIX = Storage::ShareSpace::TRANSFER_PREFIX;

    // Creates the file in `folder`; throws WriteFailure when it cannot.
    // Writes are charged to `room` when one is given (it must outlive
    // this object).
    explicit TempFile(const std::string& folder, Storage::SpaceReservation* room = nullptr);
    // Removes the file unless it was put in place.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const char* data, std::size_t size);
    // Writes what `in` gives until its end, in whole buffers of kCopyBuffer
    // bytes at offsets that are multiples of it (one read and one write per
    // buffer, no other copy), each charged before it is written. False when
    // the stream failed (the client left, a broken framing); throws
    // WriteFailure as write() does.
    bool writeFrom(std::istream& in);
    static const std::size_t kCopyBuffer = 1024 * 1024;
    std::uint64_t size() const { return m_size; }
    // Closes the file and renames it to `path`, replacing what is there.
    void replace(const std::string& path);
    // Closes the file and gives it the first free name of `name`,
    // "name (1).ext", "name (2).ext", ... in its folder; never overwrites.
    // Returns the full path.
    std::string placeUnique(const std::string& name);
    // The same for a finished file made elsewhere (a resumable upload's
    // part): renames `from` into `folder` under the first free name of
    // `name`. Throws WriteFailure, with EXDEV when `from` lies on another
    // file system and must be copied instead.
    static std::string placeUniqueFrom(const std::string& from, const std::string& folder,
                                       const std::string& name);

    static bool isTempName(const std::string& name);
    // Charges `bytes` about to be written to `room` (none: nothing to
    // charge); throws WriteFailure with EDQUOT over the share's limit, with
    // ENOSPC at the free-disk floor.
    static void charge(Storage::SpaceReservation* room, std::uint64_t bytes);
    // The WriteFailure for a claim that failed.
    static WriteFailure refusal(const Storage::SpaceReservation& room);

    // Removes the temporary files that the journal at `path` names and that
    // are still there (a host killed mid-transfer), empties it and records
    // every later temporary file in it. Returns how many files it removed;
    // throws WriteFailure when the journal cannot be opened.
    static int recoverJournal(const std::string& path);
    // Stops recording; temporary files are not recorded without a journal.
    static void closeJournal();
    // "a.txt" -> "a (n).txt"; names without an extension, or beginning
    // with their only dot, get the number at the end.
    static std::string numbered(const std::string& name, int n);

private:
    void close();
    void discard();
    void forget();

    std::string m_folder;
    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    Storage::SpaceReservation* m_room = nullptr;
    bool m_placed = false;
    // The journal generation that recorded the file; 0 when none did.
    std::uint64_t m_journal = 0;
};

}  // namespace Host
}  // namespace Orvane
