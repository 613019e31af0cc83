// Appending a request's body to a resumable upload (a PATCH, or the body of
// a creation): the offset checked and this request made the upload's one
// writer (taking over from one stuck on a dead connection), then the bytes
// written as they come at the upload's offset, each chunk charged to the
// share's room and the disk asked every 16 MiB, so that whatever arrived
// before a break is kept. On the last byte the file is put in place and the
// plug-in told. Answers with the new Upload-Offset, or the error. One
// object per request, on its thread.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>

#include <cstdint>
#include <string>

#include "auth/Authenticator.h"
#include "tus/TusEntry.h"

namespace Orvane {
namespace Host {

class TusPatch {
public:
    TusPatch(const TusEntryPtr& entry, const Identity& identity);

    // Appends the body at `offset` and answers `status` (204, or 201 for a
    // creation) with Upload-Offset.
    void run(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
             std::uint64_t offset, int status);

private:
    enum Outcome {
        STORED,
        WRONG_OFFSET,
        TOO_LONG,
        TAKEN_OVER,
        OVER_LIMIT,
        NO_DISK,
        BROKEN,
        FAILED
    };

    // A new expiry once bytes arrived.
    void prolong();
    Outcome take(std::uint64_t offset, bool declared, std::uint64_t length);
    Outcome copy(std::istream& body, bool declared, std::uint64_t length);
    Outcome write(int fd, const char* data, std::size_t size);
    // After the last byte: true when the file is in place.
    bool complete(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    void fail(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
              Outcome outcome);
    std::uint64_t offsetNow();

    TusEntryPtr m_entry;
    Identity m_identity;
    std::uint64_t m_writer = 0;
    std::uint64_t m_sinceDiskCheck = 0;
    bool m_wrote = false;
    int m_error = 0;
};

}  // namespace Host
}  // namespace Orvane
