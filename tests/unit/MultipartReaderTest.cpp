// The host's multipart reader and stored upload names: parts whose content
// nearly holds the delimiter, delimiters that straddle the reader's buffer,
// cut-off and malformed bodies, and the names given to uploaded files.
#include <gtest/gtest.h>

#include <sstream>

#include "bridge/UploadHandler.h"
#include "http/MultipartReader.h"
#include "http/TempFile.h"

using namespace Orvane::Host;

namespace {

std::string partOf(const std::string& name, const std::string& file, const std::string& content) {
    return "--b0undary\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
           (file.empty() ? "" : "; filename=\"" + file + "\"") +
           "\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
}

struct Part {
    PartHeader header;
    std::string content;
};

std::vector<Part> readAll(const std::string& body, std::size_t readSize = 4096) {
    std::istringstream in(body);
    MultipartReader reader(in, "b0undary");
    std::vector<Part> parts;
    PartHeader header;
    while (reader.nextPart(header)) {
        Part p;
        p.header = header;
        std::vector<char> buffer(readSize);
        for (std::size_t n; (n = reader.read(buffer.data(), buffer.size())) > 0;)
            p.content.append(buffer.data(), n);
        parts.push_back(p);
    }
    return parts;
}

}  // namespace

TEST(MultipartReader, PartsComeBackByteForByteWhereverTheDelimiterFalls) {
    const std::string tricky = "a\r\n--b0undar\r\n--b0undarx\r\n-b0undary--\r\n";
    // Each size moves the delimiter across the reader's 256 KiB buffer edge.
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(262000),
                             std::size_t(262100), std::size_t(262144), std::size_t(700001)}) {
        std::string content(size, 'x');
        content += tricky;
        const std::string body = "preamble\r\n" + partOf("field", "", "plain value") +
                                 partOf("f", "a.bin", content) + partOf("g", "b.bin", "") +
                                 "--b0undary--\r\nepilogue";
        const std::vector<Part> parts = readAll(body, size % 2 ? 7 : 65536);
        ASSERT_EQ(3u, parts.size()) << size;
        EXPECT_EQ("field", parts[0].header.name);
        EXPECT_FALSE(parts[0].header.hasFileName);
        EXPECT_EQ("plain value", parts[0].content);
        EXPECT_EQ("a.bin", parts[1].header.fileName);
        EXPECT_TRUE(parts[1].content == content) << size;
        EXPECT_TRUE(parts[2].header.hasFileName);
        EXPECT_EQ("", parts[2].content);
    }
}

TEST(MultipartReader, UnreadPartsAreSkipped) {
    std::istringstream in(partOf("a", "1", "one") + partOf("b", "2", "two") + "--b0undary--");
    MultipartReader reader(in, "b0undary");
    PartHeader header;
    ASSERT_TRUE(reader.nextPart(header));
    ASSERT_TRUE(reader.nextPart(header));
    char buffer[8];
    EXPECT_EQ(3u, reader.read(buffer, sizeof(buffer)));
    EXPECT_EQ("two", std::string(buffer, 3));
    EXPECT_FALSE(reader.nextPart(header));
}

TEST(MultipartReader, CutOffAndMalformedBodiesThrow) {
    const std::string whole = partOf("f", "a.bin", std::string(5000, 'y')) + "--b0undary--\r\n";
    for (std::size_t cut :
         {std::size_t(10), std::size_t(60), std::size_t(3000), whole.size() - 17}) {
        EXPECT_THROW(readAll(whole.substr(0, cut)), MultipartError) << cut;
    }
    EXPECT_THROW(readAll("no delimiter at all"), MultipartError);
    EXPECT_THROW(readAll("--b0undary\r\nno colon here\r\n\r\nx\r\n--b0undary--"), MultipartError);
    EXPECT_THROW(readAll("--b0undary\r\n" + std::string(20000, 'h') + "\r\n\r\n"), MultipartError);
}

TEST(MultipartReader, BoundaryComesFromTheContentType) {
    EXPECT_EQ("abc", MultipartReader::boundaryOf("multipart/form-data; boundary=abc"));
    EXPECT_EQ("a b", MultipartReader::boundaryOf("Multipart/Form-Data; boundary=\"a b\""));
    EXPECT_EQ("", MultipartReader::boundaryOf("multipart/form-data"));
    EXPECT_EQ("", MultipartReader::boundaryOf("application/x-www-form-urlencoded"));
    EXPECT_EQ("",
              MultipartReader::boundaryOf("multipart/form-data; boundary=" + std::string(71, 'b')));
}

TEST(UploadNames, StoredNamesAreBaseNamesAndNumberedOnCollision) {
    EXPECT_EQ("photo.jpg", UploadHandler::storedName("C:\\Users\\me\\photo.jpg"));
    EXPECT_EQ("passwd", UploadHandler::storedName("../../etc/passwd"));
    EXPECT_EQ("ab.txt", UploadHandler::storedName("a\r\nb.txt"));
    EXPECT_EQ("\xC3\xA9t\xC3\xA9.txt", UploadHandler::storedName("\xC3\xA9t\xC3\xA9.txt"));
    EXPECT_EQ("", UploadHandler::storedName(".."));
    EXPECT_EQ("", UploadHandler::storedName("dir/"));
    EXPECT_EQ("", UploadHandler::storedName(std::string(TempFile::PREFIX) + "x"));

    EXPECT_EQ("a (1).txt", TempFile::numbered("a.txt", 1));
    EXPECT_EQ("a.tar (2).gz", TempFile::numbered("a.tar.gz", 2));
    EXPECT_EQ("README (3)", TempFile::numbered("README", 3));
    EXPECT_EQ(".profile (1)", TempFile::numbered(".profile", 1));
}
