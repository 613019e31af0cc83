// The stored-zip writer. Poco's Compress marks its entries as made on
// MS-DOS, which makes unzip re-code non-ASCII names, and it offers no way to
// mark them as UTF-8 made elsewhere; entries are stored because the usual
// content, pictures and music, does not shrink.
#include "transfers/ZipWriter.h"

#include <Poco/Checksum.h>
#include <Poco/DateTime.h>
#include <Poco/Exception.h>
#include <Poco/FileStream.h>
#include <Poco/LocalDateTime.h>

#include <vector>

namespace Orvane {
namespace Dappline {

namespace {

const std::uint32_t MAX32 = 0xFFFFFFFFu;
const std::uint16_t MAX16 = 0xFFFFu;
const std::uint16_t FLAG_UTF8 = 0x0800;
const std::uint16_t MADE_BY_UNIX = (3 << 8) | 45;
const std::size_t COPY_BUFFER = 256 * 1024;
// Fixed parts of the records, without names and extra fields.
const std::uint64_t LOCAL_HEADER = 30;
const std::uint64_t CENTRAL_HEADER = 46;
// The largest extra fields: ZIP64 sizes and offset, and the time field.
const std::uint64_t LOCAL_EXTRA = 20 + 9;
const std::uint64_t CENTRAL_EXTRA = 28 + 9;
// ZIP64 end record, its locator and the classic end record.
const std::uint64_t END_RECORDS = 56 + 20 + 22;

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

}  // namespace

// Each local header is written with zero CRC and sizes and patched once the
// data is through.
class ZipWriter::Impl {
public:
    Impl(std::ostream& out, std::function<bool()> stopped)
        : m_out(out), m_stopped(stopped), m_buffer(COPY_BUFFER) {}

    void addDirectory(const std::string& name, const Poco::Timestamp& modified) {
        Entry entry = newEntry(name, modified, true);
        writeLocalHeader(entry, false);
        keep(entry);
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
        keep(entry);
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

    std::uint64_t closingBytes() const { return m_centralBytes + END_RECORDS; }

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

    void keep(const Entry& entry) {
        m_entries.push_back(entry);
        m_centralBytes += CENTRAL_HEADER + entry.name.size() + CENTRAL_EXTRA;
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
    std::uint64_t m_centralBytes = 0;
    bool m_broken = false;
};

ZipWriter::ZipWriter(std::ostream& out, std::function<bool()> stopped)
    : m_impl(new Impl(out, stopped)) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::addDirectory(const std::string& name, const Poco::Timestamp& modified) {
    m_impl->addDirectory(name, modified);
}

bool ZipWriter::addFile(const std::string& path, const std::string& name,
                        const Poco::Timestamp& modified, std::uint64_t maxBytes) {
    return m_impl->addFile(path, name, modified, maxBytes);
}

std::uint64_t ZipWriter::close() {
    return m_impl->close();
}

bool ZipWriter::broken() const {
    return m_impl->broken();
}

std::uint64_t ZipWriter::entryBytes(const std::string& name, std::uint64_t size) const {
    return LOCAL_HEADER + name.size() + 1 + LOCAL_EXTRA + size;
}

std::uint64_t ZipWriter::closingBytes() const {
    return m_impl->closingBytes();
}

}  // namespace Dappline
}  // namespace Orvane
