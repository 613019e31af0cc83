// Read-only view of files inside one zip archive (the plug-in's resources).
// The archive's directory is read once per setArchive. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace Orvane {
namespace Util {

class VirtualFS {
public:
    void setArchive(const std::string& zipPath);
    std::string getArchive() const;  // "" until set
    // Fills out with the file's bytes and size with their count; size 0 when
    // the file is missing (or empty). Throws Orvane::Exception when the
    // archive itself cannot be read.
    void readFile(const std::string& name, std::string& out, std::size_t& size);

private:
    void loadDirectory();

    mutable std::mutex m_mutex;
    std::string m_archive;
    bool m_loaded = false;
    std::map<std::string, std::string> m_files;  // name -> bytes, read once
};

}  // namespace Util
}  // namespace Orvane
