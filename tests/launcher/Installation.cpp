#include "Installation.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string makeTemporaryRoot() {
    std::string pattern = (fs::temp_directory_path() / "launcher-test-XXXXXX").string();
    if (::mkdtemp(&pattern[0]) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

std::string readAll(int fd) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return data;
        }
        data.append(buffer, static_cast<size_t>(got));
    }
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Spawns `program` with its standard output on a pipe and returns what it
// printed. The pipe is close-on-exec so that programs started by other threads
// at the same time do not hold it open.
std::string runCapturing(const std::string& program, int& exitStatus) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create a pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char> path(program.begin(), program.end());
    path.push_back('\0');
    char* argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, path.data(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    const std::string output = spawned == 0 ? readAll(fds[0]) : std::string();
    ::close(fds[0]);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    exitStatus = waitForExit(pid);
    return output;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

Installation::Installation(const std::string& program)
    : m_root(makeTemporaryRoot()), m_folder(m_root + "/app") {
    fs::create_directory(m_folder);
    fs::copy_file(program, m_folder + "/launcher");
    fs::permissions(m_folder + "/launcher", static_cast<fs::perms>(0755));
}

Installation::~Installation() {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

void Installation::write(const std::string& path, const std::string& content, mode_t mode) const {
    const fs::path full = m_folder + "/" + path;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out || ::chmod(full.c_str(), mode) != 0) {
        throw std::runtime_error("cannot write " + full.string());
    }
}

void Installation::makeFolder(const std::string& path) const {
    fs::create_directories(m_folder + "/" + path);
}

std::string Installation::read(const std::string& path) const {
    std::ifstream in(m_folder + "/" + path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t Installation::mode(const std::string& path) const {
    struct stat info;
    if (::stat((m_folder + "/" + path).c_str(), &info) != 0) {
        throw std::runtime_error("cannot stat " + path);
    }
    return info.st_mode & 07777;
}

bool Installation::exists(const std::string& path) const {
    struct stat info;
    return ::lstat((m_folder + "/" + path).c_str(), &info) == 0;
}

Snapshot Installation::snapshot() const {
    Snapshot result;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(m_folder)) {
        const std::string path = fs::relative(entry.path(), m_folder).string();
        FileState state;
        state.isFolder = entry.is_directory();
        state.mode = mode(path);
        if (!state.isFolder) {
            state.content = read(path);
        }
        result[state.isFolder ? path + "/" : path] = state;
    }
    return result;
}

LauncherRun Installation::run() const {
    LauncherRun result;
    const std::string output = runCapturing(m_folder + "/launcher", result.exitStatus);
    result.lines = splitLines(output);
    result.endsWithLineEnd = output.empty() || output.back() == '\n';
    return result;
}

std::string manifestListing(const std::vector<std::string>& paths) {
    std::string text = "<?xml version=\"1.0\"?>\n<OrvaneManifest>\n  <Files>\n";
    for (const std::string& path : paths) {
        text += "    <File Path=\"" + path + "\"/>\n";
    }
    return text + "  </Files>\n</OrvaneManifest>\n";
}
