#include "tus/TusCompletion.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "bridge/RequestTranslator.h"
#include "http/TempFile.h"
#include "http/UrlPath.h"
#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "tus/TusFolders.h"
#include "tus/TusStore.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

std::string TusCompletion::place(TusEntry& entry) {
    TusStore& store = TusStore::instance();
    const TusRecord& record = entry.record;
    const std::string part = store.partPath(record.id);
    const std::string folder = TusFolders::make(record.target, record.folders);
    std::string path;
    try {
        path = TempFile::placeUniqueFrom(part, folder, record.fileName);
    } catch (const WriteFailure& e) {
        if (e.error() != EXDEV)
            throw;
        path = copyInto(part, folder, record.fileName);
    }
    entry.room.keep(record.length);
    entry.room = Storage::SpaceReservation();  // the share now holds the file
    store.finish(entry, path);
    return path;
}

std::string TusCompletion::copyInto(const std::string& part, const std::string& folder,
                                    const std::string& name) {
    const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw WriteFailure("cannot read " + part + ": " + ::strerror(errno), errno);
    // Journalled like every file being written into a share; its room was
    // claimed as the part grew.
    TempFile file(folder);
    std::vector<char> buffer(1024 * 1024);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw WriteFailure("cannot read " + part + ": " + ::strerror(error), error);
        }
        if (n == 0)
            break;
        file.write(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return file.placeUnique(name);
}

void TusCompletion::announce(const Poco::Net::HTTPServerRequest& request, const Identity& identity,
                             const TusRecord& record) {
    if (record.explorer)
        return;  // the explorer's uploads name no share to record them under
    RequestParts finish;
    finish.plugin = record.plugin;
    finish.operation = "FINISH_UPLOAD";
    finish.rawPath = record.rawPath;
    finish.query = record.query;
    // A fresh token: nobody waits for an answer to this one.
    auto msg = RequestTranslator::build(request, finish, identity);
    Data::VariantRow& req = (*msg)[HTTP::MS_HTTP_REQ];
    // Told as the upload it is, not as the PATCH that ended it.
    req[HTTP::S_HTTP_REQ_METHOD] = std::string("POST");
    req.erase(HTTP::S_HTTP_REQ_WEBDAV_OPERATION);
    req.erase(HTTP::S_HTTP_REQ_DESTINATION);
    req[HTTP::S_HTTP_REQ_UPLOADFILEPATH] = record.placed;
    req[HTTP::S_HTTP_REQ_UPLOADFILESIZE] = static_cast<long long>(record.length);
    req[HTTP::S_HTTP_REQ_SHARENAME] = UrlPath::queryValue(record.query, "sharename");
    if (!Orvane::Dispatcher()->postMessage(msg))
        Poco::Logger::get("Tus").warning("Nobody took FINISH_UPLOAD for " + record.placed);
}

}  // namespace Host
}  // namespace Orvane
