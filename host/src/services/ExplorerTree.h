// Removing and copying whole file trees for the explorer without ever
// following a symbolic link: every step below the named entry works on
// open folder descriptors (openat, fstatat without following, unlinkat), so
// a link inside a shared folder cannot lead the work out of it, not even
// when it is put in place while the work runs. A copy given a
// SpaceReservation charges every chunk to it before writing, and stops
// (removing what it made) once the share's limit or the disk's floor would
// be crossed. Stateless; any thread.
#pragma once

#include <string>

#include "http/WriteFailure.h"
#include "orvane/storage/SpaceReservation.h"

namespace Orvane {
namespace Host {

class ExplorerTree {
public:
    // Removes the entry at `path`: a folder with everything in it, a link as
    // the link itself. Throws WriteFailure; what was removed before stays removed.
    static void remove(const std::string& path);

    // Copies the file or folder `source` into `folder` under `name`, or, when
    // that name is taken, the first free "name (1)", "name (2)"...; returns
    // the path of the copy. Links, devices, fifos and sockets inside a copied
    // folder are left out (a link copied elsewhere could point somewhere
    // else, outside the share), and `skipped` counts them. On failure the
    // partial copy is removed and WriteFailure thrown.
    static std::string copyUnique(const std::string& source, const std::string& folder,
                                  const std::string& name, int& skipped,
                                  Storage::SpaceReservation* room = nullptr);
    // The same under exactly `target`; WriteFailure with EEXIST when it is taken.
    static void copyTo(const std::string& source, const std::string& target, int& skipped,
                       Storage::SpaceReservation* room = nullptr);
};

}  // namespace Host
}  // namespace Orvane
