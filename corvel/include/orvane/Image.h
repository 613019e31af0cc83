// One picture file, decoded and scaled on demand with libvips. Not shared
// between threads; create one per use.
#pragma once

#include <memory>
#include <string>

namespace Orvane {
namespace Data {

class Image {
public:
    // Only records the path; nothing is read yet.
    Image(const std::string& path, int flag = 0);
    ~Image();

    // Decodes with shrink-on-load and fits the picture inside width x height,
    // keeping its aspect ratio, turned upright by its EXIF orientation.
    bool resizeImage(int width, int height);
    // type 0: JPEG, quality 85, metadata stripped.
    bool saveToRawData(int type, std::string& data);

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
