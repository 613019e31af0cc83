// Picture scaling on libvips. Files are read through a libvips source rather
// than by name, because libvips would take a name ending in "[...]" as load
// options. Errors leave libvips as exceptions carrying its error text.
#include "orvane/Image.h"

#include <Poco/Logger.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "orvane/Exception.h"

namespace Orvane {
namespace Data {
namespace {

// Larger boxes are no thumbnail or slide any page asks for.
const int MAX_BOX_SIDE = 10000;
const int JPEG_QUALITY = 85;
// Each scaling runs on this many libvips threads; the page handlers and the
// background run may scale several pictures at once.
const unsigned MAX_VIPS_THREADS = 4;

// The text libvips left for this failure (taken and cleared at once, as
// other threads use the same buffer).
std::string vipsError(const std::string& what, const std::string& path) {
    char* text = vips_error_buffer_copy();
    std::string detail = text ? text : "";
    g_free(text);
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' '))
        detail.pop_back();
    return what + " " + path + (detail.empty() ? "" : ": " + detail);
}

// libvips reports damaged files as warnings of its own; they belong in the
// host's log, not on its standard error.
void logVipsMessage(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    Poco::Logger& log = Poco::Logger::get("Image");
    const std::string text =
        std::string(domain ? domain : "VIPS") + ": " + (message ? message : "");
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL))
        log.error(text);
    else
        log.debug(text);
}

void startVips() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        if (VIPS_INIT("orvane") != 0)
            return;
        // Cached load operations would keep files open and could hand out a
        // stale picture after the file changed; every scaling reads afresh.
        vips_cache_set_max(0);
        g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK), logVipsMessage,
                          nullptr);
        if (std::getenv("VIPS_CONCURRENCY") == nullptr) {
            const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
            vips_concurrency_set(static_cast<int>(std::min(cores, MAX_VIPS_THREADS)));
        }
        started = true;
    });
    if (!started)
        throw Orvane::Exception("The image library could not be started");
}

// Owns one reference to a libvips object.
template <typename T>
class Ref {
public:
    explicit Ref(T* object = nullptr) : m_object(object) {}
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return m_object; }
    T** out() {
        reset();
        return &m_object;
    }
    T* release() {
        T* object = m_object;
        m_object = nullptr;
        return object;
    }
    void reset() {
        if (m_object)
            g_object_unref(m_object);
        m_object = nullptr;
    }

private:
    T* m_object;
};

void openSource(const std::string& path, Ref<VipsSource>& source) {
    startVips();
    if (path.empty() || path.find('\0') != std::string::npos)
        throw Orvane::Exception("Cannot open the picture " + path);
    *source.out() = vips_source_new_from_file(path.c_str());
    if (!source.get())
        throw Orvane::Exception(vipsError("Cannot open the picture", path));
}

struct Size {
    int width;
    int height;
};

// The picture's size as shown, from its header alone; refuses pictures too
// large to decode safely.
Size readHeader(const std::string& path) {
    Ref<VipsSource> source;
    openSource(path, source);
    Ref<VipsImage> header(
        vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    if (!header.get())
        throw Orvane::Exception(vipsError("Cannot read the picture", path));
    const long long pixels = static_cast<long long>(vips_image_get_width(header.get())) *
                             vips_image_get_height(header.get());
    if (pixels > Image::MAX_PIXELS) {
        throw Orvane::Exception("The picture " + path + " has more than 100 megapixels (" +
                                std::to_string(pixels) + " pixels)");
    }
    Size size{vips_image_get_width(header.get()), vips_image_get_height(header.get())};
    if (vips_image_get_orientation_swap(header.get()))
        std::swap(size.width, size.height);
    return size;
}

// JPEG has no transparency: lay it on white, as a page would show it.
void flattenOnWhite(Ref<VipsImage>& image, const std::string& path) {
    if (!vips_image_hasalpha(image.get()))
        return;
    double white[] = {255.0, 255.0, 255.0};
    VipsArrayDouble* background = vips_array_double_new(white, 3);
    Ref<VipsImage> flat;
    const int failed = vips_flatten(image.get(), flat.out(), "background", background, nullptr);
    vips_area_unref(VIPS_AREA(background));
    if (failed != 0)
        throw Orvane::Exception(vipsError("Cannot flatten the picture", path));
    *image.out() = flat.release();
}

void checkBox(int width, int height) {
    if (width < 1 || height < 1 || width > MAX_BOX_SIDE || height > MAX_BOX_SIDE) {
        throw Orvane::Exception("Cannot fit a picture into " + std::to_string(width) + " x " +
                                std::to_string(height));
    }
}

}  // namespace

struct Image::Impl {
    Ref<VipsImage> scaled;
    bool haveHeader = false;
    Size header{0, 0};
};

Image::Image(const std::string& path, int flag) : m_path(path), m_flag(flag), m_impl(new Impl()) {}

Image::~Image() = default;

bool Image::resizeImage(int width, int height) {
    checkBox(width, height);
    readHeader(m_path);
    Ref<VipsSource> source;
    openSource(m_path, source);
    Ref<VipsImage> image;
    if (vips_thumbnail_source(source.get(), image.out(), width, "height", height, "size",
                              VIPS_SIZE_DOWN, nullptr) != 0) {
        throw Orvane::Exception(vipsError("Cannot scale the picture", m_path));
    }
    flattenOnWhite(image, m_path);
    // Decode now, so that a damaged file fails here and not while encoding.
    Ref<VipsImage> decoded(vips_image_copy_memory(image.get()));
    if (!decoded.get())
        throw Orvane::Exception(vipsError("Cannot decode the picture", m_path));
    *m_impl->scaled.out() = decoded.release();
    return true;
}

bool Image::resizeFrom(const Image& larger, int width, int height) {
    checkBox(width, height);
    if (!larger.m_impl->scaled.get())
        throw Orvane::Exception("The picture " + larger.m_path + " has not been scaled");
    // Already upright: its orientation was applied when it was resized.
    Ref<VipsImage> image;
    if (vips_thumbnail_image(larger.m_impl->scaled.get(), image.out(), width, "height", height,
                             "size", VIPS_SIZE_DOWN, "no_rotate", TRUE, nullptr) != 0) {
        throw Orvane::Exception(vipsError("Cannot scale the picture", m_path));
    }
    Ref<VipsImage> decoded(vips_image_copy_memory(image.get()));
    if (!decoded.get())
        throw Orvane::Exception(vipsError("Cannot scale the picture", m_path));
    *m_impl->scaled.out() = decoded.release();
    return true;
}

bool Image::saveToRawData(int type, std::string& data) {
    if (type != 0)
        throw Orvane::Exception("Unknown picture type " + std::to_string(type));
    if (!m_impl->scaled.get())
        throw Orvane::Exception("The picture " + m_path + " has not been scaled");
    void* buffer = nullptr;
    size_t length = 0;
    if (vips_jpegsave_buffer(m_impl->scaled.get(), &buffer, &length, "Q", JPEG_QUALITY, "strip",
                             TRUE, nullptr) != 0) {
        throw Orvane::Exception(vipsError("Cannot encode the picture", m_path));
    }
    data.assign(static_cast<const char*>(buffer), length);
    g_free(buffer);
    return true;
}

int Image::width() const {
    if (m_impl->scaled.get())
        return vips_image_get_width(m_impl->scaled.get());
    if (!m_impl->haveHeader) {
        m_impl->header = readHeader(m_path);
        m_impl->haveHeader = true;
    }
    return m_impl->header.width;
}

int Image::height() const {
    if (m_impl->scaled.get())
        return vips_image_get_height(m_impl->scaled.get());
    width();
    return m_impl->header.height;
}

}  // namespace Data
}  // namespace Orvane
