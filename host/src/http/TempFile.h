// A file written under a hidden temporary name in its final folder and put
// in place only once it is complete, so that nobody ever sees half a file
// and a failed or broken-off transfer leaves nothing behind. A host that
// dies mid-transfer cannot remove its own: each temporary name is written
// to a journal in the profile before the file exists, and the next start
// removes exactly those files. One object per transfer, used from one
// thread; the journal is shared and guarded by a lock of its own.
#pragma once

#include <cstdint>
#include <string>

#include "http/WriteFailure.h"

namespace Orvane {
namespace Host {

class TempFile {
public:
    // Names beginning with this are our own transfers in progress.
    static constexpr const char* PREFIX = ".orvane-part-";

    // Creates the file in `folder`; throws WriteFailure when it cannot.
    explicit TempFile(const std::string& folder);
    // Removes the file unless it was put in place.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const char* data, std::size_t size);
    std::uint64_t size() const { return m_size; }
    // Closes the file and renames it to `path`, replacing what is there.
    void replace(const std::string& path);
    // Closes the file and gives it the first free name of `name`,
    // "name (1).ext", "name (2).ext", ... in its folder; never overwrites.
    // Returns the full path.
    std::string placeUnique(const std::string& name);

    static bool isTempName(const std::string& name);

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
    bool m_placed = false;
    // The journal generation that recorded the file; 0 when none did.
    std::uint64_t m_journal = 0;
};

}  // namespace Host
}  // namespace Orvane
