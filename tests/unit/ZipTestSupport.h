// Helpers of the zip suites: processes (unzip, Python's zipfile) that check
// a zip's listing, the zips lying in a folder, sparse files, a replaceable
// clock for the jobs' idle test, and files and folders that nobody may read
// or write. Used from the test thread only.
#pragma once

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Path.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timespan.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "transfers/CompressFolderActivity.h"

namespace ZipTestSupport {

using Orvane::Dappline::CompressFolderActivity;
typedef std::set<std::string> Names;

struct Output {
    int code = -1;
    std::string text;
};

inline Output runProcess(const std::string& command, const std::vector<std::string>& args) {
    Poco::Pipe outPipe;
    Poco::ProcessHandle handle = Poco::Process::launch(command, args, nullptr, &outPipe, nullptr);
    Poco::PipeInputStream in(outPipe);
    Output out;
    Poco::StreamCopier::copyToString(in, out.text);
    out.code = handle.wait();
    return out;
}

inline Names lines(const std::string& text) {
    Names names;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        names.insert(line);
    return names;
}

constexpr const char* PYTHON_LISTING =
    "import sys, zipfile\n"
    "z = zipfile.ZipFile(sys.argv[1])\n"
    "if z.testzip() is not None: sys.exit(3)\n"
    "for n in z.namelist(): sys.stdout.buffer.write(n.encode('utf-8') + b'\\n')\n";

// The zip passes both readers' tests and both list exactly these names.
inline void expectZipHolds(const std::string& zip, const Names& expected) {
    const Output test = runProcess("unzip", {"-tqq", zip});
    EXPECT_EQ(0, test.code) << test.text;
    const Output listing = runProcess("unzip", {"-Z1", zip});
    EXPECT_EQ(0, listing.code);
    EXPECT_EQ(expected, lines(listing.text)) << "unzip -Z1 " << zip;
    const Output python = runProcess("python3", {"-c", PYTHON_LISTING, zip});
    EXPECT_EQ(0, python.code);
    EXPECT_EQ(expected, lines(python.text)) << "zipfile " << zip;
}

inline std::string unzipFile(const std::string& zip, const std::string& entry) {
    return runProcess("unzip", {"-p", zip, entry}).text;
}

// The zip files lying in a folder: all, or only those a listing shows.
inline Names zipsIn(const std::string& folder, bool visibleOnly = false) {
    std::vector<std::string> names;
    Poco::File(folder).list(names);
    Names zips;
    for (const std::string& name : names) {
        const std::size_t at = name.find(CompressFolderActivity::ZIP_PREFIX);
        if (at == 0 || (at != std::string::npos && !visibleOnly))
            zips.insert(name);
    }
    return zips;
}

inline void sparseFile(const std::string& path, std::int64_t size) {
    Poco::File(Poco::Path(path).parent()).createDirectories();
    Poco::FileOutputStream(path).close();
    Poco::File(path).setSize(static_cast<Poco::File::FileSize>(size));
}

// Replaces the jobs' clock for one test.
class FakeClock {
public:
    FakeClock() {
        CompressFolderActivity::setClock([this] { return m_now; });
    }
    ~FakeClock() { CompressFolderActivity::setClock(CompressFolderActivity::Clock()); }
    void advanceSeconds(int seconds) { m_now += Poco::Timespan(seconds, 0); }

private:
    Poco::Timestamp m_now;
};

// Files nobody may read (and folders of the given mode). Root reads
// everything, so for root the job runs with the effective user "nobody" while
// this object lives (glibc changes it for every thread, the pool's included).
class Unreadable {
public:
    Unreadable(const TestSupport::TempDir& temp, const std::vector<std::string>& files,
               const std::vector<std::string>& folders, mode_t folderMode = 0777) {
        for (const std::string& file : files)
            chmod(file.c_str(), 0);
        for (const std::string& folder : folders)
            chmod(folder.c_str(), folderMode);
        chmod(temp.path().c_str(), 0755);
        m_switched = geteuid() == 0 && seteuid(65534) == 0;
        m_usable = geteuid() != 0;
    }
    ~Unreadable() {
        if (m_switched && seteuid(0) != 0)
            std::abort();
    }
    bool usable() const { return m_usable; }

private:
    bool m_switched = false;
    bool m_usable = false;
};

}  // namespace ZipTestSupport
