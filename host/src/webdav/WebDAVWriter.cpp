#include "webdav/WebDAVWriter.h"

#include <Poco/File.h>
#include <Poco/Logger.h>
#include <sys/stat.h>

#include <cerrno>

#include "http/TempFile.h"
#include "orvane/Util.h"
#include "orvane/storage/ShareSpace.h"
#include "orvane/storage/SpaceReservation.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

Poco::Logger& log() {
    return Poco::Logger::get("WebDAV");
}

// The locks that guard adding or removing `path`: its own, those below it,
// and those on the folder whose members change.
bool ownsLocksFor(WebDAVExchange& x, const std::string& path, bool tree, bool membership) {
    return x.ownsLocks(WebDAVLocks::instance().protecting(path, tree, membership));
}

// False (with the client gone or the body short) when the body did not
// arrive whole.
bool copyBody(WebDAVExchange& x, TempFile& file) {
    if (!file.writeFrom(x.request.stream()))
        return false;
    return !x.request.hasContentLength() ||
           static_cast<Poco::Int64>(file.size()) == x.request.getContentLength64();
}

// What the body says it brings; a chunked body claims its room as it comes.
std::uint64_t declaredLength(const WebDAVExchange& x) {
    const Poco::Int64 length = x.request.hasContentLength() ? x.request.getContentLength64() : 0;
    return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

void put(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    const std::string& path = x.target.path;
    const WebDAVFileInfo info = WebDAVFileInfo::of(path);
    if (info.folder) {
        x.status(HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
        return;
    }
    if (!WebDAVFileInfo::of(WebDAVWriter::parentOf(path)).folder) {
        x.status(HTTPResponse::HTTP_CONFLICT);
        return;
    }
    if (!x.ifHolds() || !ownsLocksFor(x, path, false, !info.exists))
        return;
    const std::string parent = WebDAVWriter::parentOf(path);
    // A replaced file gives its bytes back: only the growth must fit.
    Storage::SpaceReservation room(x.target.shareRoot, x.target.sizeLimit, parent,
                                   declaredLength(x), info.exists ? info.size : 0);
    if (!room.fits()) {
        x.status(HTTPResponse::HTTP_INSUFFICIENT_STORAGE);
        return;
    }
    try {
        TempFile file(parent, &room);
        if (!copyBody(x, file)) {
            // The client went away mid-body: nobody is left to answer.
            log().warning("PUT of " + path + " broken off");
            x.response.setKeepAlive(false);
            x.status(HTTPResponse::HTTP_BAD_REQUEST);
            return;
        }
        file.replace(path);
        room.keep(file.size());
    } catch (const WriteFailure& e) {
        log().error("PUT of " + path + " failed: " + e.what());
        x.response.setKeepAlive(false);
        if (e.noSpace())
            x.status(HTTPResponse::HTTP_INSUFFICIENT_STORAGE);
        else if (e.error() == ENAMETOOLONG)
            x.status(HTTPResponse::HTTP_BAD_REQUEST);  // the client's name, not our fault
        else
            x.status(HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        return;
    }
    x.response.set("ETag", WebDAVFileInfo::of(path).etag());
    x.status(info.exists ? HTTPResponse::HTTP_NO_CONTENT : HTTPResponse::HTTP_CREATED);
}

void mkcol(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    const std::string& path = x.target.path;
    if (x.hasBody()) {
        x.status(HTTPResponse::HTTP_UNSUPPORTEDMEDIATYPE);
        return;
    }
    if (WebDAVFileInfo::of(path).exists) {
        x.status(HTTPResponse::HTTP_METHOD_NOT_ALLOWED);
        return;
    }
    if (!WebDAVFileInfo::of(WebDAVWriter::parentOf(path)).folder) {
        x.status(HTTPResponse::HTTP_CONFLICT);
        return;
    }
    if (!x.ifHolds() || !ownsLocksFor(x, path, false, true))
        return;
    if (::mkdir(path.c_str(), 0755) != 0) {
        x.status(errno == ENOSPC ? HTTPResponse::HTTP_INSUFFICIENT_STORAGE
                                 : HTTPResponse::HTTP_FORBIDDEN);
        return;
    }
    x.status(HTTPResponse::HTTP_CREATED);
}

void remove(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    const std::string& path = x.target.path;
    if (!WebDAVFileInfo::of(path).exists) {
        x.status(HTTPResponse::HTTP_NOT_FOUND);
        return;
    }
    // The share's own folder is the owner's to remove, not a visitor's.
    if (x.target.isShareRoot(path)) {
        x.status(HTTPResponse::HTTP_FORBIDDEN);
        return;
    }
    if (!x.ifHolds() || !ownsLocksFor(x, path, true, true))
        return;
    const std::int64_t size = Storage::ShareSpace::sizeOf(path);
    try {
        WebDAVWriter::removeTree(path);
    } catch (const Poco::Exception& e) {
        // What went stays counted until the share is walked again.
        log().error("DELETE of " + path + " failed: " + e.displayText());
        x.status(HTTPResponse::HTTP_FORBIDDEN);
        return;
    }
    Storage::ShareSpace::instance().changed(x.target.shareRoot, -size);
    x.status(HTTPResponse::HTTP_NO_CONTENT);
}

}  // namespace

std::string WebDAVWriter::parentOf(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return folder;
}

void WebDAVWriter::removeTree(const std::string& path) {
    Poco::File(path).remove(true);
    WebDAVPropertyStore::instance().removeTree(path);
    WebDAVLocks::instance().removeTree(path);
}

WebDAVMethods WebDAVWriter::methods() {
    return {{"PUT", put}, {"MKCOL", mkcol}, {"DELETE", remove}};
}

}  // namespace Host
}  // namespace Orvane
