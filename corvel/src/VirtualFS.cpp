// The resource archive: its directory and contents are read once per
// setArchive, then served from memory.
#include "orvane/VirtualFS.h"

#include <Poco/Exception.h>
#include <Poco/StreamCopier.h>
#include <Poco/Zip/ZipArchive.h>
#include <Poco/Zip/ZipStream.h>

#include <algorithm>
#include <fstream>

#include "orvane/Exception.h"

namespace Orvane {
namespace Util {
namespace {

// Poco's reader takes any bytes for an empty archive; a zip file always ends
// with its end-of-directory record (22 bytes, then a comment of at most 64 KiB).
bool hasEndRecord(std::istream& in) {
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    const std::streamoff tail = std::min<std::streamoff>(length, 22 + 65535);
    if (length < 22)
        return false;
    std::string bytes(static_cast<std::size_t>(tail), '\0');
    in.seekg(length - tail);
    in.read(&bytes[0], tail);
    in.clear();
    in.seekg(0);
    return in && bytes.rfind(std::string("PK\x05\x06", 4)) != std::string::npos;
}

}  // namespace

void VirtualFS::setArchive(const std::string& zipPath) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_archive = zipPath;
    m_loaded = false;
    m_files.clear();
}

std::string VirtualFS::getArchive() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_archive;
}

void VirtualFS::readFile(const std::string& name, std::string& out, std::size_t& size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_loaded)
        loadDirectory();
    // Requests may name a resource as "/x.css" or "x.css"; the archive holds "x.css".
    std::string key = name;
    while (!key.empty() && key[0] == '/')
        key.erase(0, 1);
    auto it = m_files.find(key);
    if (it == m_files.end()) {
        out.clear();
        size = 0;
        return;
    }
    out = it->second;
    size = out.size();
}

// Called with m_mutex held. On failure nothing is kept, so the next call tries again.
void VirtualFS::loadDirectory() {
    if (m_archive.empty())
        throw Orvane::Exception("No resource archive is set");
    std::ifstream in(m_archive, std::ios::in | std::ios::binary);
    if (!in)
        throw Orvane::Exception("Cannot open archive " + m_archive);
    if (!hasEndRecord(in))
        throw Orvane::Exception("Not a zip archive: " + m_archive);
    std::map<std::string, std::string> files;
    try {
        Poco::Zip::ZipArchive archive(in);
        for (auto it = archive.headerBegin(); it != archive.headerEnd(); ++it) {
            if (!it->second.isFile())
                continue;
            in.clear();  // the directory parse or the last entry may have hit the end
            Poco::Zip::ZipInputStream zin(in, it->second, true);
            std::string bytes;
            Poco::StreamCopier::copyToString(zin, bytes);
            files[it->first] = bytes;
        }
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("Cannot read archive " + m_archive + ": " + e.displayText());
    } catch (const std::exception& e) {
        throw Orvane::Exception("Cannot read archive " + m_archive + ": " + e.what());
    }
    m_files.swap(files);
    m_loaded = true;
}

}  // namespace Util
}  // namespace Orvane
