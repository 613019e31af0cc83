#include "http/TempFile.h"

#include <Poco/Logger.h>
#include <Poco/UUIDGenerator.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <new>

namespace Orvane {
namespace Host {

namespace {

std::string errorText(const std::string& what, int error) {
    return what + ": " + ::strerror(error);
}

// Renames without replacing; where the file system cannot do that, a hard
// link gives the same guarantee. False with errno set otherwise.
bool placeIfFree(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

// The journal: one record per temporary file, its full path ending in a NUL
// (names may hold line breaks, never a NUL), written in one call before the
// file is made, so that a kill at any moment leaves no file unrecorded. It
// is emptied whenever no temporary file is left, so it stays small.
struct Journal {
    std::mutex mutex;
    int fd = -1;
    std::uint64_t generation = 0;
    int live = 0;
};

Journal& journal() {
    static Journal j;
    return j;
}

const std::size_t kUuidLength = 36;

// Only what this class names and makes: a plain file (not a link) whose
// name is the prefix and a UUID. A damaged or edited journal can therefore
// remove nothing else.
bool isOurLeftover(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!TempFile::isTempName(name) || name.size() != ::strlen(TempFile::PREFIX) + kUuidLength)
        return false;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string readAll(int fd) {
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

int removeRecorded(const std::string& records) {
    int removed = 0;
    std::string::size_type start = 0;
    // A record without its NUL was cut short, and its file never made.
    for (std::string::size_type end; (end = records.find('\0', start)) != std::string::npos;
         start = end + 1) {
        const std::string path = records.substr(start, end - start);
        if (isOurLeftover(path) && ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool writeRecord(int fd, const std::string& record) {
    for (;;) {
        const ssize_t n = ::write(fd, record.data(), record.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n >= 0 && n != static_cast<ssize_t>(record.size()))
            errno = ENOSPC;
        return n == static_cast<ssize_t>(record.size());
    }
}

// Records `path`; the generation that holds it, or 0 without a journal.
std::uint64_t record(const std::string& path) {
    Journal& j = journal();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.fd < 0)
        return 0;
    if (!writeRecord(j.fd, path + std::string(1, '\0'))) {
        const int error = errno;
        throw WriteFailure(errorText("cannot record a transfer in the journal", error), error);
    }
    ++j.live;
    return j.generation;
}

void release(std::uint64_t generation) {
    Journal& j = journal();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (generation == 0 || generation != j.generation || j.fd < 0)
        return;
    if (--j.live == 0 && ::ftruncate(j.fd, 0) != 0)
        Poco::Logger::get("Host").warning(errorText("cannot empty the transfer journal", errno));
}

}  // namespace

TempFile::TempFile(const std::string& folder, Storage::SpaceReservation* room)
    : m_folder(folder), m_room(room) {
    const std::string id = Poco::UUIDGenerator::defaultGenerator().createRandom().toString();
    m_path = folder + "/" + PREFIX + id;
    m_journal = record(m_path);
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        const int error = errno;
        forget();
        throw WriteFailure(errorText("cannot create a file in " + folder, error), error);
    }
}

TempFile::~TempFile() {
    discard();
}

void TempFile::write(const char* data, std::size_t size) {
    charge(m_room, size);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw WriteFailure(errorText("cannot write " + m_path, errno), errno);
        }
        if (n == 0)
            throw WriteFailure("cannot write " + m_path, ENOSPC);
        data += n;
        size -= static_cast<std::size_t>(n);
        m_size += static_cast<std::uint64_t>(n);
    }
}

namespace {

// Page-aligned, so that the kernel copies whole pages into the page cache.
struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t size) {
        if (::posix_memalign(&data, 4096, size) != 0)
            throw std::bad_alloc();
    }
    ~AlignedBuffer() { ::free(data); }
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    void* data = nullptr;
};

}  // namespace

bool TempFile::writeFrom(std::istream& in) {
    AlignedBuffer buffer(kCopyBuffer);
    char* bytes = static_cast<char*>(buffer.data);
    while (in) {
        // One read fills the buffer whole unless the body ends first.
        in.read(bytes, static_cast<std::streamsize>(kCopyBuffer));
        const std::streamsize n = in.gcount();
        if (n <= 0)
            break;
        write(bytes, static_cast<std::size_t>(n));
    }
    return !in.bad();
}

void TempFile::close() {
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    // Delayed allocation may report a full disk only now.
    if (::close(fd) != 0)
        throw WriteFailure(errorText("cannot write " + m_path, errno), errno);
}

void TempFile::replace(const std::string& path) {
    close();
    if (::rename(m_path.c_str(), path.c_str()) != 0)
        throw WriteFailure(errorText("cannot put the file in place at " + path, errno), errno);
    m_placed = true;
    forget();
}

std::string TempFile::placeUnique(const std::string& name) {
    close();
    const std::string path = placeUniqueFrom(m_path, m_folder, name);
    m_placed = true;
    forget();
    return path;
}

std::string TempFile::placeUniqueFrom(const std::string& from, const std::string& folder,
                                      const std::string& name) {
    for (int n = 0; n < 10000; ++n) {
        const std::string path = folder + "/" + (n == 0 ? name : numbered(name, n));
        // Never a plain rename, which would replace the name: two uploads of
        // one name at once must both keep their file.
        if (placeIfFree(from, path))
            return path;
        if (errno != EEXIST)
            throw WriteFailure(errorText("cannot put the file in place at " + path, errno), errno);
    }
    throw WriteFailure("no free name for " + name, EEXIST);
}

void TempFile::discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_placed && !m_path.empty())
        ::unlink(m_path.c_str());
    m_placed = true;
    forget();
}

void TempFile::forget() {
    release(m_journal);
    m_journal = 0;
}

int TempFile::recoverJournal(const std::string& path) {
    Journal& j = journal();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.fd >= 0)
        ::close(j.fd);
    j.fd = -1;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        throw WriteFailure(errorText("cannot open the transfer journal " + path, errno), errno);
    const int removed = removeRecorded(readAll(fd));
    if (::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        throw WriteFailure(errorText("cannot empty the transfer journal " + path, error), error);
    }
    j.fd = fd;
    j.live = 0;
    ++j.generation;
    if (removed > 0) {
        Poco::Logger::get("Host").notice("Removed " + std::to_string(removed) +
                                         " unfinished transfer(s) of an earlier run");
    }
    return removed;
}

void TempFile::closeJournal() {
    Journal& j = journal();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.fd >= 0)
        ::close(j.fd);
    j.fd = -1;
    ++j.generation;
}

void TempFile::charge(Storage::SpaceReservation* room, std::uint64_t bytes) {
    if (room && room->add(bytes) != Storage::SpaceReservation::FITS)
        throw refusal(*room);
}

WriteFailure TempFile::refusal(const Storage::SpaceReservation& room) {
    if (room.verdict() == Storage::SpaceReservation::OVER_LIMIT)
        return WriteFailure("the share's size limit is reached", EDQUOT);
    return WriteFailure("the disk is at its floor of free space", ENOSPC);
}

bool TempFile::isTempName(const std::string& name) {
    return name.compare(0, ::strlen(PREFIX), PREFIX) == 0;
}

std::string TempFile::numbered(const std::string& name, int n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

}  // namespace Host
}  // namespace Orvane
