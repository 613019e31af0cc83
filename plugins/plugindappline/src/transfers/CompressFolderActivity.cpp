// The folder zip job: walks the folder, hands its entries to the stored-zip
// writer (ZipWriter.h) and gives the zip its visible name when complete.
#include "transfers/CompressFolderActivity.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Logger.h>
#include <errno.h>
#include <sys/random.h>
#include <tinyxml.h>

#include <vector>

#include "orvane/Exception.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {

const char* const CompressFolderActivity::ZIP_PREFIX = "Orvane_Zip_";

namespace {

const char* const PART_SUFFIX = ".part";
const std::size_t JOB_ID_DIGITS = 32;
const char* const DISK_FULL = "Not enough free disk space for the zip";

Poco::Logger& log() {
    return Poco::Logger::get("CompressActivity");
}

Poco::FastMutex& clockMutex() {
    static Poco::FastMutex mutex;
    return mutex;
}

CompressFolderActivity::Clock& currentClock() {
    static CompressFolderActivity::Clock current;
    return current;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void removeIfExists(const std::string& path) {
    Poco::File file(path);
    if (file.exists())
        file.remove(true);
}

}  // namespace

CompressFolderActivity::CompressFolderActivity(const std::string& folder,
                                               const std::string& zipName)
    : m_activity(this, &CompressFolderActivity::run),
      m_folder(folder),
      m_zipName(zipName),
      m_lastAccess(now()) {}

// The build uses the members below the activity, so it must have ended
// before they go.
CompressFolderActivity::~CompressFolderActivity() {
    m_activity.stop();
    waitEnded();
}

CompressFolderActivity::Task::Task(CompressFolderActivity* owner, Callback method)
    : Poco::Activity<CompressFolderActivity>(owner, method),
      ended(Poco::Event::EVENT_MANUALRESET) {}

void CompressFolderActivity::Task::run() {
    try {
        Poco::Activity<CompressFolderActivity>::run();
    } catch (...) {
        // The build reports its own errors; nothing is left to tell here.
    }
    ended.set();
}

void CompressFolderActivity::start(Poco::ThreadPool& pool) {
    m_started = true;
    try {
        m_activity.start(pool);
    } catch (...) {
        m_started = false;
        throw;
    }
}

void CompressFolderActivity::waitEnded() {
    if (m_started)
        m_activity.ended.wait();
}

void CompressFolderActivity::waitEnded(long milliseconds) {
    if (m_started)
        m_activity.ended.wait(milliseconds);
}

void CompressFolderActivity::run() {
    doActivity();
}

void CompressFolderActivity::doActivity() {
    log().trace("CompressActivity Starting.... " + m_folder + " file " + m_zipName);
    std::string error;
    const std::int64_t result = compressFolderToZip(m_folder, m_zipName, error);
    if (result < 0) {
        try {
            removeIfExists(m_folder + "/" + partNameFor(m_zipName));
        } catch (const Poco::Exception& e) {
            log().error(e.displayText());
        }
    }
    m_error = error;
    m_result.store(result, std::memory_order_release);
    m_finished.store(true, std::memory_order_release);
    log().trace("CompressActivity Completed. ");
}

std::int64_t CompressFolderActivity::compressFolderToZip(std::string folder, std::string zipName,
                                                         std::string& error) {
    try {
        const std::string partPath = folder + "/" + partNameFor(zipName);
        std::uint64_t size = 0;
        {
            Poco::FileOutputStream out(partPath,
                                       std::ios::out | std::ios::binary | std::ios::trunc);
            Util::setCustomPermissions(partPath, false);
            ZipWriter zip(out, [this] { return stopRequested(); });
            std::uint64_t total = 0;
            if (addTopLevel(folder, zip, total, error) < 0 || !roomFor(0, zip, error))
                return -1;
            size = zip.close();
            out.close();
            if (!out.good())
                throw Poco::WriteFileException("Cannot write the zip file", partPath);
        }
        Poco::File part(partPath);
        if (part.getSize() > size)
            part.setSize(size);
        Util::setCustomPermissions(partPath, false);
        part.renameTo(folder + "/" + zipName);
        return static_cast<std::int64_t>(size);
    } catch (const Poco::Exception& e) {
        log().error(e.displayText());
        error = "Error when creating Zip File: " + e.displayText();
    } catch (...) {
        error = "Unknown Error when creating Zip File";
    }
    return -1;
}

// A file at the top that cannot be read is skipped rather than failing the
// whole zip; below the top it fails the job.
std::int64_t CompressFolderActivity::addTopLevel(const std::string& folder, ZipWriter& zip,
                                                 std::uint64_t& total, std::string& error) {
    std::vector<std::string> names;
    Poco::File(folder).list(names);
    for (const std::string& name : names) {
        if (stopRequested())
            return -1;
        const std::string full = folder + "/" + name;
        if (isLeftOut(name, full))
            continue;
        if (Poco::File(full).isDirectory()) {
            Poco::Path relative;
            relative.pushDirectory(name);
            if (recursiveZipFolder(Poco::Path::forDirectory(full), zip, total, relative, error) < 0)
                return -1;
            continue;
        }
        const std::uint64_t before = total;
        try {
            if (addFileEntry(full, name, zip, total, error) <= 0)
                return -1;
        } catch (const Poco::Exception& e) {
            if (zip.broken())
                throw;
            total = before;
            log().error("Zip Exception Ignoring processing file " + name);
        }
    }
    return static_cast<std::int64_t>(total);
}

// Folder links are not followed, so a link to a parent cannot make the zip
// endless.
std::int64_t CompressFolderActivity::recursiveZipFolder(const Poco::Path& dir, ZipWriter& zip,
                                                        std::uint64_t& total,
                                                        const Poco::Path& relative,
                                                        std::string& error) {
    if (stopRequested())
        return -1;
    const std::string dirPath = dir.toString();
    Poco::File folder(dirPath);
    if (!folder.isDirectory())
        throw Orvane::Exception("Not a directory: " + dirPath);
    Poco::Path entryPath = relative;
    if (entryPath.depth() == 0) {
        const Poco::Path absolute = Poco::Path(dir).makeAbsolute();
        if (absolute.depth() > 0)
            entryPath.pushDirectory(absolute.directory(absolute.depth() - 1));
    }
    const std::string entryName = entryPath.toString(Poco::Path::PATH_UNIX);
    const std::string directoryName = entryName.substr(0, entryName.size() - 1);
    if (!roomFor(zip.entryBytes(directoryName, 0), zip, error))
        return -1;
    zip.addDirectory(directoryName, folder.getLastModified());
    std::vector<std::string> names;
    folder.list(names);
    for (const std::string& name : names) {
        if (stopRequested())
            return -1;
        const std::string full = dirPath + name;
        if (isLeftOut(name, full))
            continue;
        if (Poco::File(full).isDirectory()) {
            Poco::Path below = entryPath;
            below.pushDirectory(name);
            if (recursiveZipFolder(Poco::Path::forDirectory(full), zip, total, below, error) < 0)
                return -1;
        } else if (addFileEntry(full, entryName + name, zip, total, error) <= 0) {
            return -1;
        }
    }
    return static_cast<std::int64_t>(total);
}

// Hidden entries stay private at every depth: a shared photo folder may hold
// .git or .ssh.
bool CompressFolderActivity::isLeftOut(const std::string& name, const std::string& path) {
    if (name.empty() || name[0] == '.' || isReservedName(name) || !Util::isAllowedFile(path))
        return true;
    Poco::File entry(path);
    return entry.isLink() && entry.isDirectory();
}

int CompressFolderActivity::addFileEntry(const std::string& path, const std::string& entryName,
                                         ZipWriter& zip, std::uint64_t& total, std::string& error) {
    // A link may lead into the profile (the owner's token); the file
    // download refuses those paths, and so does the zip.
    if (!Util::isAllowedPath(path, false, true))
        return 1;
    // Nor does a link that leads out of the zipped folder bring its target in.
    if (!Util::isPathWithinResolved(path, m_folder))
        return 1;
    Poco::File file(path);
    const std::uint64_t size = file.getSize();
    total += size;
    if (total > static_cast<std::uint64_t>(CONTENT_LIMIT)) {
        error =
            "Zip File Download Size of " + Util::readableFileSize(CONTENT_LIMIT, 2) + " Exceeded";
        return -1;
    }
    if (!roomFor(zip.entryBytes(entryName, size), zip, error))
        return -1;
    setProgress(path.substr(path.rfind('/') + 1));
    return zip.addFile(path, entryName, file.getLastModified(), size) ? 1 : 0;
}

bool CompressFolderActivity::roomFor(std::uint64_t bytes, const ZipWriter& zip,
                                     std::string& error) const {
    if (Util::hasFreeSpace(m_folder, bytes + zip.closingBytes()))
        return true;
    error = DISK_FULL;
    return false;
}

// Stop requests only count while the build runs: the activity reads as
// stopped before it was ever started.
bool CompressFolderActivity::stopRequested() const {
    return m_activity.isRunning() && m_activity.isStopped();
}

void CompressFolderActivity::setProgress(const std::string& fileName) {
    std::string encoded;
    TiXmlBase::EncodeString(fileName, &encoded);
    Poco::Mutex::ScopedLock lock(m_mutex);
    m_message = "<message>Adding " + encoded + "</message>";
}

std::string CompressFolderActivity::getMessage() {
    Poco::Mutex::ScopedLock lock(m_mutex);
    std::string message;
    message.swap(m_message);
    m_lastAccess = now();
    return message;
}

bool CompressFolderActivity::isAbandoned() {
    Poco::Mutex::ScopedLock lock(m_mutex);
    return now() - m_lastAccess > IDLE_SECONDS * Poco::Timestamp::resolution();
}

void CompressFolderActivity::abandonZip() {
    log().error("CompressActivity: AbandonZip: Deleting File " + m_folder + " file " + m_zipName);
    m_activity.stop();
    waitEnded(ABANDON_WAIT_MS);
    removeZipFiles();
}

void CompressFolderActivity::discardZip() {
    m_activity.stop();
    waitEnded();
    removeZipFiles();
}

void CompressFolderActivity::removeZipFiles() {
    removeIfExists(m_folder + "/" + partNameFor(m_zipName));
    removeIfExists(getZipPath());
}

std::string CompressFolderActivity::getZipPath() const {
    return m_folder + "/" + m_zipName;
}

// Digits, because the status window takes ids as numbers; each comes from an
// unbiased random byte.
std::string CompressFolderActivity::makeJobId() {
    std::string id;
    unsigned char bytes[64];
    while (id.size() < JOB_ID_DIGITS) {
        const ssize_t got = ::getrandom(bytes, sizeof(bytes), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw Poco::SystemException("No random bytes for a zip id");
        for (ssize_t i = 0; i < got && id.size() < JOB_ID_DIGITS; ++i) {
            if (bytes[i] < 250)
                id += static_cast<char>('0' + bytes[i] % 10);
        }
    }
    return id;
}

std::string CompressFolderActivity::zipNameForId(const std::string& id) {
    return std::string(ZIP_PREFIX) + id + ".zip";
}

std::string CompressFolderActivity::partNameFor(const std::string& zipName) {
    return "." + zipName + PART_SUFFIX;
}

bool CompressFolderActivity::isReservedName(const std::string& name) {
    return startsWith(name, ZIP_PREFIX) || startsWith(name, std::string(".") + ZIP_PREFIX);
}

void CompressFolderActivity::setClock(Clock clock) {
    Poco::FastMutex::ScopedLock lock(clockMutex());
    currentClock().swap(clock);
}

Poco::Timestamp CompressFolderActivity::now() {
    Poco::FastMutex::ScopedLock lock(clockMutex());
    const CompressFolderActivity::Clock& clock = currentClock();
    return clock ? clock() : Poco::Timestamp();
}

}  // namespace Dappline
}  // namespace Orvane
