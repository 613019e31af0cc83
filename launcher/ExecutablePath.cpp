#include "ExecutablePath.h"

#include <unistd.h>

#include <vector>

namespace {

// A path cut short by a small buffer would still end in an existing ancestor
// folder and the update would be applied there, so the buffer grows until the
// whole link target fits.
constexpr size_t kInitialBuffer = 2048;
constexpr size_t kLargestBuffer = 1 << 16;

std::string readLinkTarget(const std::string& link) {
    for (size_t size = kInitialBuffer; size <= kLargestBuffer; size *= 2) {
        std::vector<char> buffer(size);
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), size - 1);
        if (length < 0) {
            return "";
        }
        if (static_cast<size_t>(length) < size - 1) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
    }
    return "";
}

}  // namespace

std::string getCurrentExecutablePath() {
    const std::string target = readLinkTarget("/proc/" + std::to_string(::getpid()) + "/exe");
    const std::string::size_type slash = target.rfind('/');
    if (slash == std::string::npos) {
        return target;
    }
    // A program in the file system root still has a folder to work in.
    return slash == 0 ? "/" : target.substr(0, slash);
}
