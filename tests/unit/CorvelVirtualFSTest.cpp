// The resource archive reader on real zip files, made with the zip tool and
// with Poco's own compressor.
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Zip/Compress.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "orvane/Exception.h"
#include "orvane/VirtualFS.h"

using Orvane::Util::VirtualFS;
using TestSupport::TempDir;

namespace {

std::string allBytes() {
    std::string s;
    for (int round = 0; round < 64; ++round) {
        for (int i = 0; i < 256; ++i)
            s += static_cast<char>(i);
    }
    return s;
}

// Zips the contents of `folder` with the zip tool into `zipPath`.
void zipFolder(const std::string& folder, const std::string& zipPath) {
    const std::string cmd = "cd '" + folder + "' && zip -q -r '" + zipPath + "' .";
    ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
}

void writeZip(const std::string& zipPath,
              const std::vector<std::pair<std::string, std::string>>& files) {
    Poco::FileOutputStream out(zipPath, std::ios::out | std::ios::trunc | std::ios::binary);
    Poco::Zip::Compress zip(out, true);
    for (const auto& f : files) {
        std::istringstream in(f.second);
        zip.addFile(in, Poco::DateTime(), Poco::Path(f.first, Poco::Path::PATH_UNIX));
    }
    zip.close();
}

std::string read(VirtualFS& vfs, const std::string& name, std::size_t& size) {
    std::string out = "stale";
    size = 12345;
    vfs.readFile(name, out, size);
    return out;
}

}  // namespace

TEST(CorvelVirtualFS, ReadsFilesOfAZipToolArchive) {
    TempDir temp;
    const std::string css = "body { color: #333; }\n";
    temp.write("res/dapplinepro.css", css);
    temp.write("res/images/force_auth.gif", allBytes());
    temp.write("res/empty.txt", "");
    const std::string zip = temp.path() + "/resource.zip";
    zipFolder(temp.path() + "/res", zip);

    VirtualFS vfs;
    EXPECT_EQ("", vfs.getArchive());
    vfs.setArchive(zip);
    EXPECT_EQ(zip, vfs.getArchive());
    std::size_t size = 0;
    EXPECT_EQ(css, read(vfs, "dapplinepro.css", size));
    EXPECT_EQ(css.size(), size);
    EXPECT_EQ(allBytes(), read(vfs, "images/force_auth.gif", size));
    EXPECT_EQ(allBytes().size(), size);
    EXPECT_EQ(allBytes(), read(vfs, "/images/force_auth.gif", size));
    EXPECT_EQ("", read(vfs, "missing.js", size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ("", read(vfs, "images/", size)) << "folders are not files";
    EXPECT_EQ(0u, size);
    EXPECT_EQ("", read(vfs, "empty.txt", size));
    EXPECT_EQ(0u, size);
}

TEST(CorvelVirtualFS, DirectoryIsReadOncePerSetArchive) {
    TempDir temp;
    const std::string zip = temp.path() + "/r.zip";
    writeZip(zip, {{"a.txt", "first"}});
    VirtualFS vfs;
    vfs.setArchive(zip);
    std::size_t size = 0;
    EXPECT_EQ("first", read(vfs, "a.txt", size));

    writeZip(zip, {{"a.txt", "second"}, {"b.txt", "new"}});
    EXPECT_EQ("first", read(vfs, "a.txt", size));
    EXPECT_EQ("", read(vfs, "b.txt", size));

    vfs.setArchive(zip);
    EXPECT_EQ("second", read(vfs, "a.txt", size));
    EXPECT_EQ("new", read(vfs, "b.txt", size));
}

TEST(CorvelVirtualFS, UnreadableArchivesThrow) {
    TempDir temp;
    VirtualFS vfs;
    std::string out;
    std::size_t size = 0;
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception) << "no archive set";

    vfs.setArchive(temp.path() + "/missing.zip");
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception);
    vfs.setArchive(temp.write("garbage.zip", "this is not a zip archive at all"));
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception);
    vfs.setArchive(temp.path());
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception) << "a folder";
    const std::string cut = temp.path() + "/cut.zip";
    writeZip(cut, {{"x", std::string(4096, 'x')}});
    const std::string whole = TestSupport::readFile(cut);
    temp.write("cut.zip", whole.substr(0, whole.size() - 30));
    vfs.setArchive(cut);
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception) << "cut short";

    // A failed read keeps nothing: once the archive is there, it is read.
    const std::string late = temp.path() + "/late.zip";
    vfs.setArchive(late);
    EXPECT_THROW(vfs.readFile("x", out, size), Orvane::Exception);
    writeZip(late, {{"x", "now"}});
    vfs.readFile("x", out, size);
    EXPECT_EQ("now", out);
}

TEST(CorvelVirtualFS, ConcurrentReaders) {
    TempDir temp;
    const std::string zip = temp.path() + "/r.zip";
    writeZip(zip, {{"a.bin", allBytes()}, {"b.txt", "b"}});
    VirtualFS vfs;
    vfs.setArchive(zip);
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::string out;
                std::size_t size = 0;
                vfs.readFile(i % 2 ? "a.bin" : "b.txt", out, size);
                if (out == (i % 2 ? allBytes() : std::string("b")))
                    ++good[t];
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (int g : good)
        EXPECT_EQ(50, g);
}
