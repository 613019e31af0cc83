// What the host keeps of one resumable upload in the profile, beside its
// part file: who may go on with it, how long it is, where it goes once
// complete and when it expires. Saved whole to a new file renamed over the
// old one, so that a crash leaves the old record or the new one, never half
// of one. A plain value without threads of its own.
#pragma once

#include <cstdint>
#include <string>

namespace Orvane {
namespace Host {

class TusRecord {
public:
    std::string id;
    std::string plugin;
    std::string owner;  // TusOwner's key of whoever created it
    std::uint64_t length = 0;
    std::string fileName;  // the name it is stored under, already checked
    std::string folders;   // below the target, "/"-separated; "" for none
    std::string metadata;  // Upload-Metadata as it came, given back by HEAD
    std::string query;     // of the upload address, for FINISH_UPLOAD
    std::string rawPath;   // of the upload address
    std::string target;    // the folder the plug-in named (DIRNAME)
    std::string shareRoot;
    std::int64_t sizeLimit = 0;
    bool explorer = false;     // asked through the explorer: no history line
    std::int64_t expires = 0;  // seconds since the epoch
    bool done = false;
    std::string placed;  // where the file went, once done

    // Writes the record to `path` by way of `path` + ".new"; throws
    // WriteFailure when it cannot.
    void save(const std::string& path) const;
    // False when there is no record at `path` or it is not one of ours.
    bool load(const std::string& path);
};

}  // namespace Host
}  // namespace Orvane
