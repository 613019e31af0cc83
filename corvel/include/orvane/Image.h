// One picture file, decoded and scaled on demand with libvips. An Image is not
// shared between threads (create one per use); any number of them may work in
// parallel, libvips is started once for the whole process.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Orvane {
namespace Data {

class Image {
public:
    // Pictures above this many pixels are refused before anything is decoded:
    // at four bytes a pixel they would need gigabytes.
    static const long long MAX_PIXELS = 100000000LL;

    // Only records the path; nothing is read yet. flag is kept for callers
    // and changes nothing.
    Image(const std::string& path, int flag = 0);
    // Content types ("image/jpeg", "image/png", "image/gif", "image/webp",
    // "image/tiff", "image/heif") that resizeImage will decode, judged by the
    // file's content whatever its name; others are refused as undecodable.
    // Without a call, every format libvips trusts is decoded (the loaders it
    // marks untrusted are blocked for the whole process).
    void setAllowedTypes(const std::vector<std::string>& contentTypes);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // Decodes with shrink-on-load and fits the picture inside width x height,
    // keeping its aspect ratio, turned upright by its EXIF orientation; a
    // picture that already fits is not enlarged, transparency is laid on
    // white. The file is opened once, and its size is checked on the very
    // image that is then decoded, so that a file changed in between cannot
    // slip past the check. Throws Orvane::Exception for a file that cannot
    // be decoded or is of a type not allowed, a picture above MAX_PIXELS or
    // a box that is not positive; true otherwise.
    bool resizeImage(int width, int height);
    // As resizeImage, but scales the picture another Image has already
    // resized instead of decoding the file again: a thumbnail made from a
    // slide costs a fraction of a decode. Only for boxes that fit inside the
    // one larger was fitted to, or the result is smaller than from the file.
    // Throws Orvane::Exception when larger has not been resized.
    bool resizeFrom(const Image& larger, int width, int height);
    // type 0: JPEG, quality 85, metadata stripped, of the resized picture.
    // Throws Orvane::Exception before resizeImage or for another type.
    bool saveToRawData(int type, std::string& data);

    // The resized picture's size; before resizeImage, the file's own size as
    // it is shown (upright), read from its header. Throws Orvane::Exception
    // when the header cannot be read.
    int width() const;
    int height() const;

private:
    struct Impl;
    std::string m_path;
    int m_flag;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace Data
}  // namespace Orvane
