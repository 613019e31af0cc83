#include "tus/TusPatch.h"

#include <Poco/Logger.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <istream>
#include <vector>

#include "http/RequestBody.h"
#include "http/WriteFailure.h"
#include "orvane/Util.h"
#include "tus/TusCompletion.h"
#include "tus/TusProtocol.h"
#include "tus/TusStore.h"

namespace Orvane {
namespace Host {

namespace {

// A read waits for a whole chunk: what a stalled client sent last waits
// with it in memory until more comes or the connection ends, no longer.
const std::size_t kChunk = 256 * 1024;
const std::uint64_t kDiskStep = 16 * 1024 * 1024;
// A refused body is read this far so that the client sees the answer.
const std::size_t kDrainBytes = 1024 * 1024;

Poco::Logger& log() {
    return Poco::Logger::get("Tus");
}

// Fills buffer with up to want bytes, stopping at the body's end or break.
// istream::read would drop what it had copied when the stream breaks in the
// middle of it (its count stays 0), and those bytes arrived: the client
// resumes after them. So only what the stream already holds is read, and
// peek waits for more.
std::size_t fill(std::istream& body, char* buffer, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
        std::streamsize ready = body.rdbuf()->in_avail();
        if (ready <= 0) {
            if (body.peek() == std::char_traits<char>::eof())
                break;
            ready = body.rdbuf()->in_avail();
            if (ready <= 0)
                ready = 1;
        }
        body.read(buffer + got, std::min<std::streamsize>(ready, want - got));
        got += static_cast<std::size_t>(body.gcount());
        if (!body)
            break;
    }
    return got;
}

}  // namespace

TusPatch::TusPatch(const TusEntryPtr& entry, const Identity& identity)
    : m_entry(entry), m_identity(identity) {}

std::uint64_t TusPatch::offsetNow() {
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    return m_entry->offset;
}

void TusPatch::run(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                   std::uint64_t offset, int status) {
    std::uint64_t length = 0;
    const bool declared = TusProtocol::number(request, "Content-Length", length);
    Outcome outcome = take(offset, declared, length);
    if (outcome == STORED) {
        outcome = copy(request.stream(), declared, length);
        prolong();
    }
    if (outcome != STORED) {
        fail(request, response, outcome);
        return;
    }
    bool done;
    {
        std::lock_guard<std::mutex> lock(m_entry->mutex);
        done = m_entry->offset == m_entry->record.length && !m_entry->record.done;
    }
    if (done && !complete(request, response))
        return;
    {
        std::lock_guard<std::mutex> lock(m_entry->mutex);
        response.set("Upload-Offset", std::to_string(m_entry->offset));
        if (!m_entry->record.done)
            response.set("Upload-Expires", TusProtocol::date(m_entry->record.expires));
    }
    TusProtocol::answer(response, status);
}

void TusPatch::prolong() {
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    if (!m_wrote || m_entry->gone || m_entry->record.done)
        return;
    try {
        // An upload that makes progress does not expire under way.
        TusStore::instance().touch(*m_entry);
    } catch (const WriteFailure& e) {
        log().warning("Upload " + m_entry->record.id + " keeps its old expiry: " + e.what());
    }
}

TusPatch::Outcome TusPatch::take(std::uint64_t offset, bool declared, std::uint64_t length) {
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    if (m_entry->gone)
        return TAKEN_OVER;
    if (offset != m_entry->offset)
        return WRONG_OFFSET;
    if (declared && length > m_entry->record.length - m_entry->offset)
        return TOO_LONG;
    m_writer = ++m_entry->writer;
    return STORED;
}

TusPatch::Outcome TusPatch::copy(std::istream& body, bool declared, std::uint64_t length) {
    const std::string part = TusStore::instance().partPath(m_entry->record.id);
    const int fd = ::open(part.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        m_error = errno;
        return FAILED;
    }
    std::vector<char> buffer(kChunk);
    std::uint64_t received = 0;
    Outcome outcome = STORED;
    while (outcome == STORED && (!declared || received < length)) {
        const std::size_t want =
            declared ? static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - received))
                     : kChunk;
        const std::size_t n = fill(body, buffer.data(), want);
        if (n > 0)
            outcome = write(fd, buffer.data(), n);
        received += n;
        if (n < want)
            break;  // the end of a chunked body, or a break
    }
    ::close(fd);
    if (outcome == STORED && (body.bad() || (declared && received < length)))
        outcome = BROKEN;  // what came before the break stays
    return outcome;
}

TusPatch::Outcome TusPatch::write(int fd, const char* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(m_entry->mutex);
    TusEntry& entry = *m_entry;
    if (entry.gone || entry.writer != m_writer)
        return TAKEN_OVER;
    if (size > entry.record.length - entry.offset)
        return TOO_LONG;
    if (entry.room.add(size) != Storage::SpaceReservation::FITS)
        return entry.room.verdict() == Storage::SpaceReservation::OVER_LIMIT ? OVER_LIMIT : NO_DISK;
    m_sinceDiskCheck += size;
    if (m_sinceDiskCheck >= kDiskStep) {
        m_sinceDiskCheck = 0;
        if (!Util::hasFreeSpace(TusStore::instance().partPath(entry.record.id),
                                entry.record.length - entry.offset))
            return NO_DISK;
    }
    std::uint64_t at = entry.offset;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? errno : ENOSPC;
            // The part stays as long as what was counted.
            if (::ftruncate(fd, static_cast<off_t>(entry.offset)) != 0)
                log().warning("cannot cut back the part of upload " + entry.record.id);
            return FAILED;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    entry.offset = at;
    m_wrote = true;
    return STORED;
}

bool TusPatch::complete(Poco::Net::HTTPServerRequest& request,
                        Poco::Net::HTTPServerResponse& response) {
    TusRecord record;
    try {
        std::lock_guard<std::mutex> lock(m_entry->mutex);
        if (m_entry->gone || m_entry->record.done)
            return true;  // ended by another request meanwhile
        TusCompletion::place(*m_entry);
        record = m_entry->record;
    } catch (const WriteFailure& e) {
        log().error("Upload " + m_entry->record.id + " could not be put in place: " + e.what());
        TusStore::instance().remove(m_entry);
        m_error = e.error();
        fail(request, response, FAILED);
        return false;
    }
    TusCompletion::announce(request, m_identity, record);
    return true;
}

void TusPatch::fail(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response,
                    Outcome outcome) {
    if (!RequestBody::discard(request, kDrainBytes))
        response.setKeepAlive(false);
    switch (outcome) {
        case WRONG_OFFSET:
            response.set("Upload-Offset", std::to_string(offsetNow()));
            return TusProtocol::answer(response, 409, "Upload-Offset is not where the upload is.");
        case TOO_LONG:
            return TusProtocol::answer(response, 413, "The body goes past Upload-Length.");
        case TAKEN_OVER:
            return TusProtocol::answer(response, 409, "Another request took the upload over.");
        case OVER_LIMIT:
            return TusProtocol::answer(response, 413,
                                       "Unable to upload file(s). Size Limit Exceeded");
        case NO_DISK:
            return TusProtocol::answer(response, 507, "There is no room left for the file.");
        case BROKEN:
            response.setKeepAlive(false);
            return TusProtocol::answer(response, 400, "The body ended before its length.");
        default:
            break;
    }
    const WriteFailure failure("", m_error);
    if (failure.noSpace())
        return TusProtocol::answer(response, 507, "There is no room left for the file.");
    if (m_error == EACCES || m_error == ENOENT || m_error == ENOTDIR)
        return TusProtocol::answer(response, 403, "The upload's folder cannot take the file.");
    if (m_error == ENAMETOOLONG)
        return TusProtocol::answer(response, 400, "The file name is too long to be stored.");
    TusProtocol::answer(response, 500, "The file could not be stored.");
}

}  // namespace Host
}  // namespace Orvane
