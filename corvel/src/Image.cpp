// Picture scaling on libvips. Files are read through a libvips source rather
// than by name, because libvips would take a name ending in "[...]" as load
// options. Errors leave libvips as exceptions carrying its error text.
#include "orvane/Image.h"

#include <Poco/Logger.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

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
        // Pictures come from visitors: the loaders libvips itself does not
        // consider fit for hostile files (ImageMagick, FITS, Matlab...) stay off.
#if VIPS_MAJOR_VERSION > 8 || (VIPS_MAJOR_VERSION == 8 && VIPS_MINOR_VERSION >= 13)
        vips_block_untrusted_set(TRUE);
#else
#error "libvips 8.13 or later is needed to block its untrusted loaders"
#endif
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

// The picture's size as shown (upright).
Size shownSize(VipsImage* image) {
    Size size{vips_image_get_width(image), vips_image_get_height(image)};
    if (vips_image_get_orientation_swap(image))
        std::swap(size.width, size.height);
    return size;
}

// Refuses pictures too large to decode safely; scale is the shrink the
// loader applied to each side.
void checkPixels(VipsImage* image, int scale, const std::string& path) {
    const long long pixels = static_cast<long long>(vips_image_get_width(image)) * scale *
                             vips_image_get_height(image) * scale;
    if (pixels > Image::MAX_PIXELS) {
        throw Orvane::Exception("The picture " + path + " has more than 100 megapixels (" +
                                std::to_string(pixels) + " pixels)");
    }
}

// The loader's type name ("VipsForeignLoadJpegSource") begins with one of
// these for each content type.
const std::pair<const char*, const char*> kLoaderOfType[] = {
    {"image/jpeg", "VipsForeignLoadJpeg"}, {"image/png", "VipsForeignLoadPng"},
    {"image/gif", "VipsForeignLoadNsgif"}, {"image/gif", "VipsForeignLoadGif"},
    {"image/webp", "VipsForeignLoadWebp"}, {"image/tiff", "VipsForeignLoadTiff"},
    {"image/heif", "VipsForeignLoadHeif"}};

// The loader the content calls for; refused unless one of the allowed types
// (an empty list allows all).
std::string loaderFor(VipsSource* source, const std::vector<std::string>& allowed,
                      const std::string& path) {
    const char* found = vips_foreign_find_load_source(source);
    if (!found)
        throw Orvane::Exception(vipsError("Cannot read the picture", path));
    const std::string loader = found;
    if (allowed.empty())
        return loader;
    for (const auto& entry : kLoaderOfType) {
        if (loader.compare(0, std::strlen(entry.second), entry.second) == 0 &&
            std::find(allowed.begin(), allowed.end(), entry.first) != allowed.end())
            return loader;
    }
    throw Orvane::Exception("The picture " + path + " is of a type that is not shown (" + loader +
                            ")");
}

// The picture's size as shown, from its header alone.
Size readHeader(const std::string& path) {
    Ref<VipsSource> source;
    openSource(path, source);
    Ref<VipsImage> header(
        vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    if (!header.get())
        throw Orvane::Exception(vipsError("Cannot read the picture", path));
    checkPixels(header.get(), 1, path);
    return shownSize(header.get());
}

// The size the whole picture takes fitted inside the box; at most its own.
Size fittedSize(VipsImage* image, int width, int height) {
    const Size shown = shownSize(image);
    const double scale = std::min({1.0, static_cast<double>(width) / shown.width,
                                   static_cast<double>(height) / shown.height});
    return Size{std::max(1, static_cast<int>(std::lrint(shown.width * scale))),
                std::max(1, static_cast<int>(std::lrint(shown.height * scale)))};
}

// How much a JPEG may shrink while it is decoded (1, 2, 4 or 8) and still
// hold every pixel the box needs.
int jpegShrink(VipsImage* image, int width, int height) {
    const Size shown = shownSize(image);
    const double factor = std::max(static_cast<double>(shown.width) / width,
                                   static_cast<double>(shown.height) / height);
    for (int shrink : {8, 4, 2}) {
        if (factor >= shrink)
            return shrink;
    }
    return 1;
}

// The image to decode: the one already open, or for a JPEG the same file
// decoded at a fraction of its size (the fraction is returned). The smaller
// one must match the first one's size, or the file changed in between; its
// own size is checked too.
int openForDecode(VipsSource* source, const std::string& loader, Ref<VipsImage>& image, int width,
                  int height, const std::string& path) {
    const std::string jpeg = "VipsForeignLoadJpeg";
    const int shrink =
        loader.compare(0, jpeg.size(), jpeg) == 0 ? jpegShrink(image.get(), width, height) : 1;
    if (shrink == 1)
        return 1;
    Ref<VipsImage> smaller(vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL,
                                                      "shrink", shrink, nullptr));
    if (!smaller.get())
        throw Orvane::Exception(vipsError("Cannot read the picture", path));
    // The loader rounds a side's fraction either way.
    auto matches = [shrink](int full, int part) {
        return std::llabs(static_cast<long long>(part) * shrink - full) < shrink;
    };
    if (!matches(vips_image_get_width(image.get()), vips_image_get_width(smaller.get())) ||
        !matches(vips_image_get_height(image.get()), vips_image_get_height(smaller.get())))
        throw Orvane::Exception("The picture " + path + " changed while it was read");
    checkPixels(smaller.get(), shrink, path);
    *image.out() = smaller.release();
    return shrink;
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
    std::vector<std::string> allowedTypes;
};

Image::Image(const std::string& path, int flag) : m_path(path), m_flag(flag), m_impl(new Impl()) {}

Image::~Image() = default;

void Image::setAllowedTypes(const std::vector<std::string>& contentTypes) {
    m_impl->allowedTypes = contentTypes;
}

bool Image::resizeImage(int width, int height) {
    checkBox(width, height);
    Ref<VipsSource> source;
    openSource(m_path, source);
    const std::string loader = loaderFor(source.get(), m_impl->allowedTypes, m_path);
    Ref<VipsImage> image(
        vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    if (!image.get())
        throw Orvane::Exception(vipsError("Cannot read the picture", m_path));
    checkPixels(image.get(), 1, m_path);
    // A picture shrunk while it loads has lost the fraction of a pixel its
    // sides had: it is scaled to the size the whole one would have had.
    const Size fitted = fittedSize(image.get(), width, height);
    const bool shrunk = openForDecode(source.get(), loader, image, width, height, m_path) > 1;
    Ref<VipsImage> scaled;
    if (vips_thumbnail_image(image.get(), scaled.out(), shrunk ? fitted.width : width, "height",
                             shrunk ? fitted.height : height, "size",
                             shrunk ? VIPS_SIZE_FORCE : VIPS_SIZE_DOWN, nullptr) != 0) {
        throw Orvane::Exception(vipsError("Cannot scale the picture", m_path));
    }
    flattenOnWhite(scaled, m_path);
    // Decode now, so that a damaged file fails here and not while encoding.
    Ref<VipsImage> decoded(vips_image_copy_memory(scaled.get()));
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
