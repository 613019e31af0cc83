// Image scaling is not built yet: every call that would decode or encode a
// picture says so instead of pretending to work.
#include "orvane/Image.h"

#include "orvane/Exception.h"

namespace Orvane {
namespace Data {
namespace {

const char* const kNotAvailable = "Image scaling is not available yet";

}  // namespace

struct Image::Impl {};

Image::Image(const std::string& path, int flag) : m_path(path), m_flag(flag) {}

Image::~Image() = default;

bool Image::resizeImage(int width, int height) {
    throw Orvane::Exception(kNotAvailable);
}

bool Image::saveToRawData(int type, std::string& data) {
    throw Orvane::Exception(kNotAvailable);
}

int Image::width() const {
    throw Orvane::Exception(kNotAvailable);
}

int Image::height() const {
    throw Orvane::Exception(kNotAvailable);
}

}  // namespace Data
}  // namespace Orvane
