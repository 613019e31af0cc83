// Removing and copying whole file trees for the explorer without ever
// following a symbolic link: every step below the named entry works on
// open folder descriptors (openat, fstatat without following, unlinkat), so
// a link inside a shared folder cannot lead the work out of it, not even
// when it is put in place while the work runs. Stateless; any thread.
#pragma once

#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

// A file-system call failed; error() is its errno.
class TreeError : public std::runtime_error {
public:
    TreeError(const std::string& what, int error) : std::runtime_error(what), m_error(error) {}
    int error() const { return m_error; }
    // Disk full or quota: nothing more fits.
    bool noSpace() const;

private:
    int m_error;
};

class ExplorerTree {
public:
    // Removes the entry at `path`: a folder with everything in it, a link as
    // the link itself. Throws TreeError; what was removed before stays removed.
    static void remove(const std::string& path);

    // Copies the file or folder `source` into `folder` under `name`, or, when
    // that name is taken, the first free "name (1)", "name (2)"...; returns
    // the path of the copy. Links, devices, fifos and sockets inside a copied
    // folder are left out (a link copied elsewhere could point somewhere
    // else, outside the share), and `skipped` counts them. On failure the
    // partial copy is removed and TreeError thrown.
    static std::string copyUnique(const std::string& source, const std::string& folder,
                                  const std::string& name, int& skipped);
    // The same under exactly `target`; TreeError with EEXIST when it is taken.
    static void copyTo(const std::string& source, const std::string& target, int& skipped);
};

}  // namespace Host
}  // namespace Orvane
