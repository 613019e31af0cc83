#include "webdav/WebDAVCopyMove.h"

#include <Poco/File.h>
#include <Poco/Logger.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "http/FileDescriptor.h"
#include "http/TempFile.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceReservation.h"
#include "webdav/WebDAVWriter.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

const std::size_t kChunk = 1024 * 1024;

Poco::Logger& log() {
    return Poco::Logger::get("WebDAV");
}

using Storage::ShareSpace;
using Storage::SpaceReservation;

void copyFile(const std::string& from, const std::string& to, SpaceReservation* room) {
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        throw WriteFailure("cannot read " + from, errno);
    TempFile out(WebDAVWriter::parentOf(to), room);
    std::vector<char> chunk(kChunk);
    for (;;) {
        const ssize_t n = ::read(in.get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw WriteFailure("cannot read " + from, errno);
        if (n == 0)
            break;
        out.write(chunk.data(), static_cast<std::size_t>(n));
    }
    out.replace(to);
}

// Links, devices and the like are not copied, nor anything that a
// download would refuse (the profile, the system's own folders): a share
// that holds the profile must not let its secrets be copied to where they
// can be read.
void copyTree(const std::string& from, const std::string& to, bool deep, SpaceReservation* room) {
    if (!Util::isAllowedPath(from, false, true))
        return;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        throw WriteFailure("cannot read " + from, errno);
    if (S_ISREG(st.st_mode)) {
        copyFile(from, to, room);
        return;
    }
    if (!S_ISDIR(st.st_mode))
        return;
    if (::mkdir(to.c_str(), 0755) != 0 && errno != EEXIST)
        throw WriteFailure("cannot make " + to, errno);
    if (!deep)
        return;
    DIR* dir = ::opendir(from.c_str());
    if (!dir)
        throw WriteFailure("cannot read " + from, errno);
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && !TempFile::isTempName(name))
            names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names)
        copyTree(from + "/" + name, to + "/" + name, true, room);
}

// What a copy writes: a shallow copy of a folder makes the folder alone.
std::uint64_t copySize(const std::string& from, bool deep) {
    if (!deep && WebDAVFileInfo::of(from).folder)
        return 0;
    return static_cast<std::uint64_t>(ShareSpace::sizeOf(from));
}

void removeQuietly(const std::string& path) {
    try {
        WebDAVWriter::removeTree(path);
    } catch (const Poco::Exception& e) {
        log().warning("cannot remove the broken copy " + path + ": " + e.displayText());
    }
}

// The checks COPY and MOVE share; false once answered.
bool prepare(WebDAVExchange& x, bool isMove, bool& replaced) {
    if (!x.mayWrite())
        return false;
    const std::string& from = x.target.path;
    const std::string& to = x.target.destination;
    if (!x.request.has("Destination")) {
        x.status(HTTPResponse::HTTP_BAD_REQUEST);
        return false;
    }
    if (to.empty()) {
        // Another share, host or address space: not ours to write.
        x.status(HTTPResponse::HTTP_BAD_GATEWAY);
        return false;
    }
    const WebDAVFileInfo source = WebDAVFileInfo::of(from);
    if (!source.exists) {
        x.status(HTTPResponse::HTTP_NOT_FOUND);
        return false;
    }
    const int depth = x.depth(-1);
    if (depth == -2 || depth == 1 || (isMove && depth != -1)) {
        x.status(HTTPResponse::HTTP_BAD_REQUEST);
        return false;
    }
    if (Util::isPathWithin(to, from) || (isMove && x.target.isShareRoot(from))) {
        x.status(HTTPResponse::HTTP_FORBIDDEN);
        return false;
    }
    if (!WebDAVFileInfo::of(WebDAVWriter::parentOf(to)).folder) {
        x.status(HTTPResponse::HTTP_CONFLICT);
        return false;
    }
    replaced = WebDAVFileInfo::of(to).exists;
    const std::string overwrite = x.request.get("Overwrite", "T");
    if (replaced && (overwrite == "F" || overwrite == "f")) {
        x.status(HTTPResponse::HTTP_PRECONDITION_FAILED);
        return false;
    }
    if (replaced && x.target.isShareRoot(to)) {
        x.status(HTTPResponse::HTTP_FORBIDDEN);
        return false;
    }
    // A false If header is told before a missing lock token.
    if (!x.ifHolds())
        return false;
    WebDAVLocks& locks = WebDAVLocks::instance();
    if (isMove && !x.ownsLocks(locks.protecting(from, true, true)))
        return false;
    return x.ownsLocks(locks.protecting(to, true, true));
}

// Answers COPY or MOVE once `work` has moved or copied the resource (and
// removed what was at the destination when `replaced`): 201 or 204, 507
// for a full disk or share, 403 for any other failure.
void carryOut(WebDAVExchange& x, bool isMove,
              const std::function<void(const std::string& from, const std::string& to,
                                       bool replaced)>& work) {
    bool replaced = false;
    if (!prepare(x, isMove, replaced))
        return;
    const std::string& from = x.target.path;
    const std::string& to = x.target.destination;
    const std::string method = isMove ? "MOVE" : "COPY";
    try {
        work(from, to, replaced);
    } catch (const WriteFailure& e) {
        log().error(method + " to " + to + " failed: " + e.what());
        x.status(e.noSpace() ? HTTPResponse::HTTP_INSUFFICIENT_STORAGE
                             : HTTPResponse::HTTP_FORBIDDEN);
        return;
    } catch (const Poco::Exception& e) {
        log().error(method + " to " + to + " failed: " + e.displayText());
        x.status(HTTPResponse::HTTP_FORBIDDEN);
        return;
    }
    x.status(replaced ? HTTPResponse::HTTP_NO_CONTENT : HTTPResponse::HTTP_CREATED);
}

// The copy's room is reserved in the share before anything is removed or
// written; a copy that fails half-way leaves nothing of itself behind.
void copy(WebDAVExchange& x) {
    carryOut(x, false, [&x](const std::string& from, const std::string& to, bool replaced) {
        const bool deep = x.depth(-1) != 0;
        const std::uint64_t old = replaced ? static_cast<std::uint64_t>(ShareSpace::sizeOf(to)) : 0;
        SpaceReservation room(x.target.shareRoot, x.target.sizeLimit, WebDAVWriter::parentOf(to),
                              copySize(from, deep), old);
        if (!room.fits())
            throw TempFile::refusal(room);
        if (replaced) {
            WebDAVWriter::removeTree(to);
            room.keep(0);  // the old bytes are gone, whatever follows
        }
        try {
            copyTree(from, to, deep, &room);
        } catch (...) {
            removeQuietly(to);
            throw;
        }
        room.keep(room.written());
        WebDAVPropertyStore::instance().copyTree(from, to);
    });
}

// Within one share a move changes nothing but the bytes it replaces.
void move(WebDAVExchange& x) {
    carryOut(x, true, [&x](const std::string& from, const std::string& to, bool replaced) {
        if (replaced) {
            const std::int64_t old = ShareSpace::sizeOf(to);
            WebDAVWriter::removeTree(to);
            ShareSpace::instance().changed(x.target.shareRoot, -old);
        }
        if (::rename(from.c_str(), to.c_str()) != 0) {
            if (errno != EXDEV)
                throw WriteFailure("cannot move " + from, errno);
            copyTree(from, to, true, nullptr);
            Poco::File(from).remove(true);
        }
        WebDAVPropertyStore::instance().moveTree(from, to);
        WebDAVLocks::instance().removeTree(from);
    });
}

}  // namespace

WebDAVMethods WebDAVCopyMove::methods() {
    return {{"COPY", copy}, {"MOVE", move}};
}

}  // namespace Host
}  // namespace Orvane
