#include "transfers/ZipJournal.h"

#include <Poco/Logger.h>
#include <Poco/Mutex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "transfers/CompressFolderActivity.h"

namespace Orvane {
namespace Dappline {

namespace {

// Rewritten without the entries whose zips are gone once it grows past this.
const std::streamoff COMPACT_BYTES = 1 << 20;

Poco::FastMutex& journalMutex() {
    static Poco::FastMutex mutex;
    return mutex;
}

std::string& journalPath() {
    static std::string path;
    return path;
}

// Entries are "folder/zipName", NUL-terminated: names may hold line breaks.
std::vector<std::string> readEntries(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> entries;
    std::string::size_type start = 0;
    for (std::string::size_type end; (end = text.find('\0', start)) != std::string::npos;
         start = end + 1)
        entries.push_back(text.substr(start, end - start));
    return entries;
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Only a plain file carrying the reserved zip name is ever touched, so a
// damaged journal cannot remove anything else.
bool recordedZip(const std::string& entry, std::string& zip, std::string& part) {
    const std::string::size_type slash = entry.rfind('/');
    if (slash == std::string::npos || entry[0] != '/')
        return false;
    const std::string name = entry.substr(slash + 1);
    if (name.compare(0, std::string(CompressFolderActivity::ZIP_PREFIX).size(),
                     CompressFolderActivity::ZIP_PREFIX) != 0 ||
        name.find("..") != std::string::npos)
        return false;
    zip = entry;
    part = entry.substr(0, slash + 1) + CompressFolderActivity::partNameFor(name);
    return true;
}

}  // namespace

int ZipJournal::removeRecorded(const std::string& path, bool keepExisting) {
    int removed = 0;
    std::string kept;
    for (const std::string& entry : readEntries(path)) {
        std::string zip, part;
        if (!recordedZip(entry, zip, part))
            continue;
        if (keepExisting) {
            if (isRegularFile(zip) || isRegularFile(part))
                kept += entry + '\0';
            continue;
        }
        for (const std::string& file : {zip, part}) {
            if (isRegularFile(file) && ::unlink(file.c_str()) == 0)
                ++removed;
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << kept;
    return removed;
}

int ZipJournal::recover(const std::string& path) {
    Poco::FastMutex::ScopedLock lock(journalMutex());
    const int removed = removeRecorded(path, false);
    if (removed > 0) {
        Poco::Logger::get("Dapplinepro")
            .information("Removed " + std::to_string(removed) + " zip(s) left by an earlier run");
    }
    journalPath() = path;
    return removed;
}

void ZipJournal::record(const std::string& folder, const std::string& zipName) {
    Poco::FastMutex::ScopedLock lock(journalMutex());
    const std::string& path = journalPath();
    if (path.empty())
        return;
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << folder << '/' << zipName << '\0';
        out.flush();
        if (!out) {
            Poco::Logger::get("Dapplinepro").error("Cannot record zip in " + path);
            return;
        }
        if (out.tellp() < COMPACT_BYTES)
            return;
    }
    removeRecorded(path, true);
}

void ZipJournal::close() {
    Poco::FastMutex::ScopedLock lock(journalMutex());
    journalPath().clear();
}

}  // namespace Dappline
}  // namespace Orvane
