// The folder zip job. Entries are stored (the usual content, pictures and
// music, does not shrink) by a small writer of its own: Poco's Compress marks
// its entries as made on MS-DOS, which makes unzip re-code non-ASCII names,
// and it offers no way to mark them as UTF-8 made elsewhere. The writer
// streams each file through a fixed buffer, so memory stays flat whatever the
// folder's size, and writes ZIP64 records when the entry count or an offset
// needs them.
#include "transfers/CompressFolderActivity.h"

#include <Poco/Checksum.h>
#include <Poco/DateTime.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/LocalDateTime.h>
#include <Poco/Logger.h>
#include <tinyxml.h>

#include <vector>

#include "orvane/Exception.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Dappline {

const char* const CompressFolderActivity::ZIP_PREFIX = "Orvane_Zip_";

namespace {

const char* const PART_SUFFIX = ".part";
const std::uint32_t MAX32 = 0xFFFFFFFFu;
const std::uint16_t MAX16 = 0xFFFFu;
const std::uint16_t FLAG_UTF8 = 0x0800;
const std::uint16_t MADE_BY_UNIX = (3 << 8) | 45;
const std::size_t COPY_BUFFER = 256 * 1024;

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

bool isAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

// Linux names are bytes; only well-formed UTF-8 may carry the UTF-8 flag, or
// readers that trust it refuse the whole archive.
std::size_t utf8Length(unsigned char c) {
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c < 0xE0)
        return 2;
    if (c >= 0xE0 && c < 0xF0)
        return 3;
    return c >= 0xF0 && c < 0xF5 ? 4 : 0;
}

// The second byte rules out overlong forms, surrogates and code points
// beyond U+10FFFF.
bool validSecondByte(unsigned char lead, unsigned char second) {
    switch (lead) {
        case 0xE0:
            return second >= 0xA0;
        case 0xED:
            return second < 0xA0;
        case 0xF0:
            return second >= 0x90;
        case 0xF4:
            return second < 0x90;
        default:
            return true;
    }
}

bool isUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8Length(lead);
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        if (length > 1 && !validSecondByte(lead, static_cast<unsigned char>(text[i + 1])))
            return false;
        i += length;
    }
    return true;
}

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

void put64(std::string& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v & MAX32));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

std::uint32_t clamp32(std::uint64_t v) {
    return v >= MAX32 ? MAX32 : static_cast<std::uint32_t>(v);
}

void removeIfExists(const std::string& path) {
    Poco::File file(path);
    if (file.exists())
        file.remove(true);
}

}  // namespace

// Each local header is written with zero CRC and sizes and patched once the
// data is through.
class CompressFolderActivity::ZipWriter::Impl {
public:
    Impl(std::ostream& out, std::function<bool()> stopped)
        : m_out(out), m_stopped(stopped), m_buffer(COPY_BUFFER) {}

    void addDirectory(const std::string& name, const Poco::Timestamp& modified) {
        Entry entry = newEntry(name, modified, true);
        writeLocalHeader(entry, false);
        m_entries.push_back(entry);
    }

    // At most maxBytes: the file may grow while it is read, and the content
    // limit was counted with its size.
    bool addFile(const std::string& path, const std::string& name, const Poco::Timestamp& modified,
                 std::uint64_t maxBytes) {
        Poco::FileInputStream in(path, std::ios::in | std::ios::binary);
        Entry entry = newEntry(name, modified, false);
        entry.zip64Sizes = maxBytes >= MAX32;
        writeLocalHeader(entry, entry.zip64Sizes);
        try {
            if (!copyData(in, path, maxBytes, entry)) {
                rewind(entry.offset);
                return false;
            }
        } catch (...) {
            rewind(entry.offset);
            throw;
        }
        patchLocalHeader(entry);
        m_entries.push_back(entry);
        return true;
    }

    std::uint64_t close() {
        const std::uint64_t cdOffset = m_pos;
        for (const Entry& entry : m_entries)
            writeCentralHeader(entry);
        writeEnd(cdOffset, m_pos - cdOffset);
        m_out.flush();
        check();
        return m_pos;
    }

    bool broken() const { return m_broken; }

private:
    struct Entry {
        std::string name;
        bool directory = false;
        bool zip64Sizes = false;
        std::uint16_t flags = 0;
        std::uint16_t dosTime = 0, dosDate = 0;
        std::int64_t unixTime = -1;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        std::uint64_t offset = 0;
    };

    Entry newEntry(const std::string& name, const Poco::Timestamp& modified, bool directory) {
        Entry entry;
        entry.name = directory ? name + "/" : name;
        if (entry.name.size() > MAX16)
            throw Poco::InvalidArgumentException("Name too long for a zip entry", name);
        entry.directory = directory;
        entry.flags = !isAscii(name) && isUtf8(name) ? FLAG_UTF8 : 0;
        setTimes(entry, modified);
        entry.offset = m_pos;
        return entry;
    }

    // DOS times are local and start in 1980; the extended field keeps UTC.
    static void setTimes(Entry& entry, const Poco::Timestamp& modified) {
        const Poco::LocalDateTime local{Poco::DateTime(modified)};
        const std::int64_t seconds = modified.epochTime();
        if (seconds >= 0 && seconds <= 0x7FFFFFFF)
            entry.unixTime = seconds;
        if (local.year() < 1980) {
            entry.dosDate = (1 << 5) | 1;
            return;
        }
        const int year = local.year() > 2107 ? 2107 : local.year();
        entry.dosDate =
            static_cast<std::uint16_t>(((year - 1980) << 9) | (local.month() << 5) | local.day());
        entry.dosTime = static_cast<std::uint16_t>((local.hour() << 11) | (local.minute() << 5) |
                                                   (local.second() / 2));
    }

    static std::string timeField(const Entry& entry) {
        std::string field;
        if (entry.unixTime < 0)
            return field;
        put16(field, 0x5455);
        put16(field, 5);
        field += '\x01';
        put32(field, static_cast<std::uint32_t>(entry.unixTime));
        return field;
    }

    static std::uint16_t versionNeeded(bool zip64) { return zip64 ? 45 : 20; }

    void writeLocalHeader(const Entry& entry, bool zip64) {
        std::string extra;
        if (zip64) {
            put16(extra, 0x0001);
            put16(extra, 16);
            put64(extra, 0);
            put64(extra, 0);
        }
        extra += timeField(entry);
        std::string h;
        put32(h, 0x04034b50);
        put16(h, versionNeeded(zip64));
        put16(h, entry.flags);
        put16(h, 0);  // stored
        put16(h, entry.dosTime);
        put16(h, entry.dosDate);
        put32(h, 0);
        put32(h, zip64 ? MAX32 : 0);
        put32(h, zip64 ? MAX32 : 0);
        put16(h, static_cast<std::uint16_t>(entry.name.size()));
        put16(h, static_cast<std::uint16_t>(extra.size()));
        write(h + entry.name + extra);
    }

    bool copyData(std::istream& in, const std::string& path, std::uint64_t maxBytes, Entry& entry) {
        Poco::Checksum crc(Poco::Checksum::TYPE_CRC32);
        std::uint64_t left = maxBytes;
        while (left > 0) {
            if (m_stopped())
                return false;
            const std::size_t want =
                left < m_buffer.size() ? static_cast<std::size_t>(left) : m_buffer.size();
            in.read(m_buffer.data(), static_cast<std::streamsize>(want));
            const std::size_t got = static_cast<std::size_t>(in.gcount());
            if (in.bad())
                throw Poco::ReadFileException("Cannot read", path);
            crc.update(m_buffer.data(), static_cast<unsigned>(got));
            write(m_buffer.data(), got);
            left -= got;
            if (got < want)
                break;  // the file shrank since it was measured
        }
        entry.crc = crc.checksum();
        entry.size = maxBytes - left;
        return true;
    }

    void patchLocalHeader(const Entry& entry) {
        std::string fields;
        put32(fields, entry.crc);
        put32(fields, entry.zip64Sizes ? MAX32 : static_cast<std::uint32_t>(entry.size));
        put32(fields, entry.zip64Sizes ? MAX32 : static_cast<std::uint32_t>(entry.size));
        seek(entry.offset + 14);
        m_out.write(fields.data(), static_cast<std::streamsize>(fields.size()));
        if (entry.zip64Sizes) {
            std::string sizes;
            put64(sizes, entry.size);
            put64(sizes, entry.size);
            seek(entry.offset + 30 + entry.name.size() + 4);
            m_out.write(sizes.data(), static_cast<std::streamsize>(sizes.size()));
        }
        seek(m_pos);
    }

    void writeCentralHeader(const Entry& entry) {
        const bool bigSizes = entry.zip64Sizes || entry.size >= MAX32;
        const bool bigOffset = entry.offset >= MAX32;
        std::string extra;
        if (bigSizes || bigOffset) {
            put16(extra, 0x0001);
            put16(extra, static_cast<std::uint16_t>((bigSizes ? 16 : 0) + (bigOffset ? 8 : 0)));
            if (bigSizes) {
                put64(extra, entry.size);
                put64(extra, entry.size);
            }
            if (bigOffset)
                put64(extra, entry.offset);
        }
        extra += timeField(entry);
        const std::uint32_t mode = entry.directory ? 040755 : 0100644;
        std::string h;
        put32(h, 0x02014b50);
        put16(h, MADE_BY_UNIX);
        put16(h, versionNeeded(bigSizes || bigOffset));
        put16(h, entry.flags);
        put16(h, 0);
        put16(h, entry.dosTime);
        put16(h, entry.dosDate);
        put32(h, entry.crc);
        put32(h, bigSizes ? MAX32 : static_cast<std::uint32_t>(entry.size));
        put32(h, bigSizes ? MAX32 : static_cast<std::uint32_t>(entry.size));
        put16(h, static_cast<std::uint16_t>(entry.name.size()));
        put16(h, static_cast<std::uint16_t>(extra.size()));
        put16(h, 0);  // comment
        put16(h, 0);  // disk
        put16(h, 0);  // internal attributes
        put32(h, (mode << 16) | (entry.directory ? 0x10 : 0));
        put32(h, bigOffset ? MAX32 : static_cast<std::uint32_t>(entry.offset));
        write(h + entry.name + extra);
    }

    void writeEnd(std::uint64_t cdOffset, std::uint64_t cdSize) {
        const std::uint64_t count = m_entries.size();
        std::string end;
        if (count >= MAX16 || cdOffset >= MAX32 || cdSize >= MAX32) {
            const std::uint64_t zip64End = m_pos;
            put32(end, 0x06064b50);
            put64(end, 44);
            put16(end, MADE_BY_UNIX);
            put16(end, 45);
            put32(end, 0);
            put32(end, 0);
            put64(end, count);
            put64(end, count);
            put64(end, cdSize);
            put64(end, cdOffset);
            put32(end, 0x07064b50);
            put32(end, 0);
            put64(end, zip64End);
            put32(end, 1);
        }
        const std::uint16_t shortCount = count >= MAX16 ? MAX16 : static_cast<std::uint16_t>(count);
        put32(end, 0x06054b50);
        put16(end, 0);
        put16(end, 0);
        put16(end, shortCount);
        put16(end, shortCount);
        put32(end, clamp32(cdSize));
        put32(end, clamp32(cdOffset));
        put16(end, 0);
        write(end);
    }

    void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }

    void write(const char* data, std::size_t size) {
        m_out.write(data, static_cast<std::streamsize>(size));
        check();
        m_pos += size;
    }

    void seek(std::uint64_t pos) {
        m_out.seekp(static_cast<std::streamoff>(pos));
        check();
    }

    void rewind(std::uint64_t pos) {
        m_pos = pos;
        seek(pos);
    }

    void check() {
        if (!m_out.good()) {
            m_broken = true;
            throw Poco::WriteFileException("Cannot write the zip file");
        }
    }

    std::ostream& m_out;
    std::function<bool()> m_stopped;
    std::vector<char> m_buffer;
    std::vector<Entry> m_entries;
    std::uint64_t m_pos = 0;
    bool m_broken = false;
};

CompressFolderActivity::ZipWriter::ZipWriter(std::ostream& out, std::function<bool()> stopped)
    : m_impl(new Impl(out, stopped)) {}

CompressFolderActivity::ZipWriter::~ZipWriter() = default;

void CompressFolderActivity::ZipWriter::addDirectory(const std::string& name,
                                                     const Poco::Timestamp& modified) {
    m_impl->addDirectory(name, modified);
}

bool CompressFolderActivity::ZipWriter::addFile(const std::string& path, const std::string& name,
                                                const Poco::Timestamp& modified,
                                                std::uint64_t maxBytes) {
    return m_impl->addFile(path, name, modified, maxBytes);
}

std::uint64_t CompressFolderActivity::ZipWriter::close() {
    return m_impl->close();
}

bool CompressFolderActivity::ZipWriter::broken() const {
    return m_impl->broken();
}

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
            if (addTopLevel(folder, zip, total, error) < 0)
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

// The top level leaves out hidden entries, and a file that cannot be read is
// skipped rather than failing the whole zip.
std::int64_t CompressFolderActivity::addTopLevel(const std::string& folder, ZipWriter& zip,
                                                 std::uint64_t& total, std::string& error) {
    std::vector<std::string> names;
    Poco::File(folder).list(names);
    for (const std::string& name : names) {
        if (stopRequested())
            return -1;
        const std::string full = folder + "/" + name;
        Poco::File entry(full);
        if (startsWith(name, ".") || isReservedName(name) || !Util::isAllowedFile(full) ||
            (entry.isLink() && entry.isDirectory()))
            continue;
        if (entry.isDirectory()) {
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

// Below the top level hidden entries belong to the content; only zips and
// what is not a plain file or folder stay out. Folder links are not followed,
// so a link to a parent cannot make the zip endless.
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
    zip.addDirectory(entryName.substr(0, entryName.size() - 1), folder.getLastModified());
    std::vector<std::string> names;
    folder.list(names);
    for (const std::string& name : names) {
        if (stopRequested())
            return -1;
        const std::string full = dirPath + name;
        Poco::File entry(full);
        if (isReservedName(name) || !Util::isAllowedFile(full) ||
            (entry.isLink() && entry.isDirectory()))
            continue;
        if (entry.isDirectory()) {
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
    setProgress(path.substr(path.rfind('/') + 1));
    return zip.addFile(path, entryName, file.getLastModified(), size) ? 1 : 0;
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

std::string CompressFolderActivity::makeJobId() {
    static Poco::FastMutex mutex;
    static Poco::Timestamp::UtcTimeVal last = 0;
    Poco::FastMutex::ScopedLock lock(mutex);
    Poco::Timestamp::UtcTimeVal id = Poco::Timestamp().utcTime();
    if (id <= last)
        id = last + 1;
    last = id;
    return std::to_string(id);
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
