// A writer of stored (uncompressed) zips to a seekable stream, streaming each
// file through a fixed buffer so that memory stays flat whatever the
// folder's size; ZIP64 records when the entry count or an offset needs them,
// and the UTF-8 flag on names that are UTF-8 beyond ASCII. One writer is used
// by one thread at a time; the stop test it is given is called on that thread.
#pragma once

#include <Poco/Timestamp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace Orvane {
namespace Dappline {

class ZipWriter {
public:
    // stopped is asked between blocks of a file; when it says yes the
    // file is left out and addFile returns false.
    ZipWriter(std::ostream& out, std::function<bool()> stopped);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // name without the trailing "/".
    void addDirectory(const std::string& name, const Poco::Timestamp& modified);
    // Copies at most maxBytes of the file. On a read error the archive is
    // set back to where the entry began and the error passed on.
    bool addFile(const std::string& path, const std::string& name, const Poco::Timestamp& modified,
                 std::uint64_t maxBytes);
    // Writes the central directory and returns the archive's length;
    // bytes beyond it (left by a file set back) are the caller's to cut.
    std::uint64_t close();
    // True once writing the archive itself failed.
    bool broken() const;
    // What an entry of that name and size adds to the archive now (its local
    // header and data), and what close() still has to write (the central
    // directory of the entries so far and the end records).
    std::uint64_t entryBytes(const std::string& name, std::uint64_t size) const;
    std::uint64_t closingBytes() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace Dappline
}  // namespace Orvane
