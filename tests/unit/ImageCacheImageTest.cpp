// The host's picture scaling: boxes, turns by EXIF orientation, the JPEG it
// writes, and the pictures it refuses.
#include <gtest/gtest.h>

#include "ImageCacheSupport.h"
#include "TestSupport.h"
#include "orvane/Exception.h"
#include "orvane/Image.h"

using namespace Orvane;
using ImageCacheSupport::decode;
using ImageCacheSupport::Decoded;
using ImageCacheSupport::writePicture;
using TestSupport::TempDir;

namespace {

Decoded scaled(const std::string& path, int width, int height) {
    Data::Image image(path, 0);
    EXPECT_TRUE(image.resizeImage(width, height));
    std::string jpeg;
    EXPECT_TRUE(image.saveToRawData(0, jpeg));
    Decoded out = decode(jpeg);
    EXPECT_EQ(out.width, image.width());
    EXPECT_EQ(out.height, image.height());
    return out;
}

std::string errorOf(const std::string& path) {
    try {
        Data::Image image(path, 0);
        image.resizeImage(128, 128);
    } catch (const Orvane::Exception& e) {
        return e.message();
    }
    return "";
}

}  // namespace

TEST(ImageCacheImage, FitsInsideTheBoxKeepingTheAspectRatio) {
    TempDir temp;
    const Decoded wide = scaled(writePicture(temp.path() + "/wide.jpg", 400, 200), 128, 128);
    ASSERT_TRUE(wide.ok);
    EXPECT_EQ("jpegload_buffer", wide.loader);
    EXPECT_EQ(128, wide.width);
    EXPECT_EQ(64, wide.height);

    const Decoded tall = scaled(writePicture(temp.path() + "/tall.png", 300, 900), 256, 256);
    EXPECT_EQ("jpegload_buffer", tall.loader);
    EXPECT_EQ(85, tall.width);
    EXPECT_EQ(256, tall.height);

    // A slide box is not square: the narrower side limits.
    const Decoded slide = scaled(writePicture(temp.path() + "/slide.jpg", 1600, 900), 800, 600);
    EXPECT_EQ(800, slide.width);
    EXPECT_EQ(450, slide.height);
    const Decoded portrait = scaled(writePicture(temp.path() + "/p.jpg", 900, 1600), 1024, 768);
    EXPECT_EQ(432, portrait.width);
    EXPECT_EQ(768, portrait.height);
}

TEST(ImageCacheImage, SmallPicturesAreNotEnlarged) {
    TempDir temp;
    const Decoded small = scaled(writePicture(temp.path() + "/small.png", 50, 40), 128, 128);
    EXPECT_EQ(50, small.width);
    EXPECT_EQ(40, small.height);
}

TEST(ImageCacheImage, AnExifTurnedJpegComesOutUprightWithoutMetadata) {
    TempDir temp;
    // Stored 300 x 200 with the bright quarter top left; orientation 6 shows
    // it turned a quarter clockwise: 200 x 300, bright quarter top right.
    const std::string path = writePicture(temp.path() + "/turned.jpg", 300, 200, 6);
    Data::Image header(path, 0);
    EXPECT_EQ(200, header.width());
    EXPECT_EQ(300, header.height());

    const Decoded out = scaled(path, 128, 128);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(85, out.width);
    EXPECT_EQ(128, out.height);
    EXPECT_GT(out.topRight, 200);
    EXPECT_LT(out.topLeft, 60);
    EXPECT_FALSE(out.hasExif);

    const Decoded plain = scaled(writePicture(temp.path() + "/plain.jpg", 300, 200), 128, 128);
    EXPECT_GT(plain.topLeft, 200);
    EXPECT_LT(plain.topRight, 60);
}

TEST(ImageCacheImage, TransparencyIsLaidOnWhite) {
    TempDir temp;
    const Decoded out = scaled(writePicture(temp.path() + "/clear.png", 64, 64, 0, true), 32, 32);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(3, out.bands);
    EXPECT_GT(out.topLeft, 245);
    EXPECT_GT(out.topRight, 245);
}

TEST(ImageCacheImage, RefusesWhatItCannotOrMustNotDecode) {
    TempDir temp;
    EXPECT_NE("", errorOf(temp.write("broken.jpg", std::string("\xff\xd8\xff\xe0", 4) + "junk")));
    EXPECT_NE("", errorOf(temp.write("empty.png", "")));
    EXPECT_NE("", errorOf(temp.path() + "/missing.jpg"));

    const std::string huge =
        ImageCacheSupport::writeHugePNGHeader(temp.path() + "/huge.png", 20000, 20000);
    EXPECT_NE(std::string::npos, errorOf(huge).find("100 megapixels")) << errorOf(huge);
    // Just at the limit it is a picture like any other (its data is
    // missing, so decoding it still fails, but not for its size).
    const std::string limit =
        ImageCacheSupport::writeHugePNGHeader(temp.path() + "/limit.png", 10000, 10000);
    EXPECT_EQ(std::string::npos, errorOf(limit).find("megapixels"));
}

// The content decides the type, whatever the name; and a JPEG is measured
// on the very image that is then decoded (shrunk while it loads).
TEST(ImageCacheImage, OnlyAllowedTypesAndSizesAreDecoded) {
    TempDir temp;
    Data::Image png(writePicture(temp.path() + "/a.png", 40, 30), 0);
    png.setAllowedTypes({"image/jpeg"});
    EXPECT_THROW(png.resizeImage(20, 20), Orvane::Exception);
    png.setAllowedTypes({"image/jpeg", "image/png"});
    EXPECT_TRUE(png.resizeImage(20, 20));

    std::string jpeg = TestSupport::readFile(writePicture(temp.path() + "/b.jpg", 40, 30));
    const std::size_t sof = jpeg.find("\xff\xc0");
    ASSERT_NE(std::string::npos, sof);
    jpeg.replace(sof + 5, 4, "\x4e\x20\x4e\x20");  // 20000 x 20000
    const std::string huge = temp.write("huge.jpg", jpeg);
    EXPECT_NE(std::string::npos, errorOf(huge).find("100 megapixels")) << errorOf(huge);
    // A large JPEG shrunk while it loads still comes out at its size.
    EXPECT_EQ(100, scaled(writePicture(temp.path() + "/big.jpg", 2000, 1000), 100, 100).width);
}

TEST(ImageCacheImage, EncodingNeedsAScaledPictureAndAKnownType) {
    TempDir temp;
    const std::string path = writePicture(temp.path() + "/a.jpg", 40, 30);
    Data::Image image(path, 0);
    std::string data;
    EXPECT_THROW(image.saveToRawData(0, data), Orvane::Exception);
    EXPECT_THROW(image.resizeImage(0, 100), Orvane::Exception);
    ASSERT_TRUE(image.resizeImage(20, 20));
    EXPECT_THROW(image.saveToRawData(7, data), Orvane::Exception);
    EXPECT_TRUE(data.empty());
}

// Folders may hold brackets; libvips must not read them as load options.
TEST(ImageCacheImage, NamesWithBracketsAreFileNames) {
    TempDir temp;
    Poco::File(temp.path() + "/[2010]").createDirectories();
    const std::string path = writePicture(temp.path() + "/[2010]/x.jpg", 100, 50);
    Poco::File(path).renameTo(temp.path() + "/[2010]/x.jpg[shrink=8]");
    const Decoded out = scaled(temp.path() + "/[2010]/x.jpg[shrink=8]", 100, 100);
    EXPECT_EQ(100, out.width);
    EXPECT_EQ(50, out.height);
}

// The background run makes the thumbnail from the slide it has just made; it
// must come out as the file itself would give it, and not turned twice.
TEST(ImageCacheImage, AThumbnailFromTheSlideMatchesOneFromTheFile) {
    TempDir temp;
    const std::string path = writePicture(temp.path() + "/turned.jpg", 1500, 1000, 6);
    Data::Image slide(path, 0);
    ASSERT_TRUE(slide.resizeImage(800, 600));
    EXPECT_EQ(400, slide.width());
    EXPECT_EQ(600, slide.height());

    Data::Image thumb(path, 0);
    EXPECT_THROW(thumb.resizeFrom(thumb, 128, 128), Orvane::Exception);
    EXPECT_THROW(thumb.resizeFrom(slide, 0, 128), Orvane::Exception);
    ASSERT_TRUE(thumb.resizeFrom(slide, 128, 128));
    std::string jpeg;
    ASSERT_TRUE(thumb.saveToRawData(0, jpeg));
    const Decoded derived = decode(jpeg);
    const Decoded direct = scaled(path, 128, 128);
    ASSERT_TRUE(derived.ok);
    EXPECT_EQ(direct.width, derived.width);
    EXPECT_EQ(direct.height, derived.height);
    EXPECT_GT(derived.topRight, 200);
    EXPECT_LT(derived.topLeft, 60);
    EXPECT_FALSE(derived.hasExif);
    // The slide is left as it was.
    EXPECT_EQ(400, slide.width());
}
