// The explorer's file operations on paths that a plug-in has checked against
// its shares: the path checks the host adds of its own (absolute, no "." or
// ".." component, no control character, nothing isAllowedPath refuses, never
// "/" itself), then the work. Writes that bring bytes into a share (a copy,
// a move from another share) reserve them in the share's size accounting
// first and are charged as they go; removals and moves out give the bytes
// back. Every refusal or failure is an ExplorerError with the status and
// the visitor's message. Stateless; any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Orvane {
namespace Host {

// status: 200 for an operation that could not be done (the answer says
// success 0), 400 for unusable input, 403 for a path the host refuses.
// Not OwnerError: that one's status is always the HTTP answer's own.
class ExplorerError : public std::runtime_error {
public:
    ExplorerError(int status, const std::string& message)
        : std::runtime_error(message), status(status) {}
    int status;
};

// The shares an operation touches, as the plug-in named them: the one
// written into (its folder and size limit in bytes, 0: none) and, for a
// move, the one left. Empty folders: no share is known.
struct ExplorerShares {
    std::string root;
    std::int64_t limit = 0;
    std::string sourceRoot;
};

class ExplorerOperations {
public:
    // The native form of a checked path; throws ExplorerError 403.
    static std::string checkedPath(const std::string& text);
    // Non-empty, not "." or "..", without "/" or control characters.
    static bool isPlainName(const std::string& name);

    // Each takes checked paths and returns the visitor's success message.
    static std::string createFolder(const std::string& path);
    // Renames `path` to `name` in the same folder.
    static std::string rename(const std::string& path, const std::string& name);
    static std::string remove(const std::string& path, const ExplorerShares& shares = {});
    // Copies into `folder` under the source's name, numbered when taken.
    static std::string copy(const std::string& source, const std::string& folder,
                            const ExplorerShares& shares = {});
    // Moves or renames `from` to the full path `to`.
    static std::string move(const std::string& from, const std::string& to,
                            const ExplorerShares& shares = {});
    static bool exists(const std::string& path);
    // Throws ExplorerError unless `path` is an existing folder.
    static void checkFolder(const std::string& path);
};

}  // namespace Host
}  // namespace Orvane
