// A temporary folder laid out as an installation of the launcher: the program
// is copied into `folder()`, which sits inside a private `root()` so that tests
// can also place files beside the installation. Each object is used by one
// thread at a time; different objects may run in parallel.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct LauncherRun {
    int exitStatus = -1;  // -1 when the program did not exit normally
    std::vector<std::string> lines;
    bool endsWithLineEnd = true;
};

struct FileState {
    bool isFolder = false;
    mode_t mode = 0;
    std::string content;
    bool operator==(const FileState& other) const {
        return isFolder == other.isFolder && mode == other.mode && content == other.content;
    }
};

// Relative path (folders with a trailing "/") to what lies there.
typedef std::map<std::string, FileState> Snapshot;

class Installation {
public:
    explicit Installation(const std::string& program);
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const std::string& root() const { return m_root; }
    const std::string& folder() const { return m_folder; }

    // Paths are relative to folder(); parent folders are created as needed.
    void write(const std::string& path, const std::string& content, mode_t mode = 0644) const;
    void makeFolder(const std::string& path) const;
    std::string read(const std::string& path) const;
    mode_t mode(const std::string& path) const;
    bool exists(const std::string& path) const;

    Snapshot snapshot() const;
    LauncherRun run() const;

private:
    std::string m_root;
    std::string m_folder;
};

// The manifest text listing `paths` as file elements.
std::string manifestListing(const std::vector<std::string>& paths);
