// Pictures for the image cache suites, made with libvips: real JPEG and PNG
// files with a bright top-left quarter (so that a turn can be seen), the
// JPEGs the cache hands out read back, and a hold on a cache file's write
// lock. Plain functions, safe from any thread; a WriteLock is one thread's.
#pragma once

#include <Poco/Checksum.h>
#include <Poco/DeflatingStream.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <sqlite3.h>
#include <vips/vips.h>

#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ImageCacheSupport {

inline void startVips() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("image-cache-tests") != 0)
            throw std::runtime_error("libvips did not start");
    });
}

// width x height, RGB (RGBA with alpha: fully transparent), dark with a
// bright top-left quarter; the file type follows the extension. orientation
// is written as the EXIF orientation tag when not 0.
inline std::string writePicture(const std::string& path, int width, int height, int orientation = 0,
                                bool alpha = false) {
    startVips();
    const int bands = alpha ? 4 : 3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * bands, 20);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * bands];
            if (x < width / 2 && y < height / 2)
                p[0] = p[1] = p[2] = 235;
            if (alpha)
                p[3] = 0;
        }
    }
    VipsImage* image = vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height,
                                                       bands, VIPS_FORMAT_UCHAR);
    if (!image)
        throw std::runtime_error("cannot build a picture");
    if (orientation != 0)
        vips_image_set_int(image, "orientation", orientation);
    const int failed = vips_image_write_to_file(image, path.c_str(), nullptr);
    g_object_unref(image);
    if (failed)
        throw std::runtime_error("cannot write " + path + ": " + vips_error_buffer());
    return path;
}

// A PNG whose header claims width x height and whose data is a few bytes:
// only a reader that trusts the header would try to decode it.
inline std::string writeHugePNGHeader(const std::string& path, unsigned width, unsigned height) {
    auto be32 = [](unsigned v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        Poco::Checksum crc(Poco::Checksum::TYPE_CRC32);
        crc.update(type + data);
        return be32(static_cast<unsigned>(data.size())) + type + data + be32(crc.checksum());
    };
    std::ostringstream zipped;
    {
        Poco::DeflatingOutputStream deflate(zipped, Poco::DeflatingStreamBuf::STREAM_ZLIB);
        deflate << std::string(64, '\0');
        deflate.close();
    }
    const std::string header = be32(width) + be32(height) + std::string("\x08\x00\x00\x00\x00", 5);
    Poco::FileOutputStream out(path, std::ios::binary | std::ios::trunc);
    out << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header)
        << chunk("IDAT", zipped.str()) << chunk("IEND", "");
    return path;
}

struct Decoded {
    bool ok = false;
    std::string loader;
    int width = 0;
    int height = 0;
    int bands = 0;
    bool hasExif = false;
    double topLeft = 0;  // first band, two pixels in from the corner
    double topRight = 0;
};

inline double pixelAt(VipsImage* image, int x, int y) {
    double* values = nullptr;
    int n = 0;
    if (vips_getpoint(image, &values, &n, x, y, nullptr) != 0 || n < 1)
        return -1;
    const double first = values[0];
    g_free(values);
    return first;
}

inline Decoded decode(const std::string& bytes) {
    startVips();
    Decoded result;
    VipsImage* image = vips_image_new_from_buffer(bytes.data(), bytes.size(), "", nullptr);
    if (!image) {
        vips_error_clear();
        return result;
    }
    const char* loader = nullptr;
    if (vips_image_get_string(image, "vips-loader", &loader) == 0 && loader)
        result.loader = loader;
    result.width = vips_image_get_width(image);
    result.height = vips_image_get_height(image);
    result.bands = vips_image_get_bands(image);
    result.hasExif = vips_image_get_typeof(image, VIPS_META_EXIF_NAME) != 0;
    result.topLeft = pixelAt(image, 2, 2);
    result.topRight = pixelAt(image, result.width - 3, 2);
    result.ok = result.topLeft >= 0 && result.topRight >= 0;
    g_object_unref(image);
    return result;
}

// Holds the write lock of one cache file, so that a run writing there waits
// (up to the cache's busy timeout for each write) until release().
class WriteLock {
public:
    explicit WriteLock(const std::string& file) {
        sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        m_held = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() { release(); }
    bool held() const { return m_held; }
    void release() {
        if (m_held)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_held = false;
        sqlite3_close(m_db);
        m_db = nullptr;
    }

private:
    sqlite3* m_db = nullptr;
    bool m_held = false;
};

}  // namespace ImageCacheSupport
