#include "StressChecks.h"

#include <Poco/Checksum.h>
#include <Poco/DOM/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/RecursiveDirectoryIterator.h>
#include <dirent.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace Stress {

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> out;
    if (!Poco::File(folder).exists())
        return out;
    Poco::SimpleRecursiveDirectoryIterator end;
    for (Poco::SimpleRecursiveDirectoryIterator it(folder); it != end; ++it) {
        try {
            if (it->isFile())
                out.push_back(it->path());
        } catch (const Poco::Exception&) {
            // Gone while we looked.
        }
    }
    return out;
}

std::string integrityOf(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string error = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return error;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* statement = nullptr;
    std::string answer;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) != SQLITE_OK) {
        answer = sqlite3_errmsg(db);
    } else {
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            answer += (answer.empty() ? "" : "; ") +
                      std::string(text ? reinterpret_cast<const char*>(text) : "");
        }
        if (rc != SQLITE_DONE)
            answer += (answer.empty() ? "" : "; ") + std::string(sqlite3_errmsg(db));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return answer;
}

std::uint32_t get16(const std::string& d, std::size_t at) {
    if (at + 2 > d.size())
        throw std::runtime_error("zip cut short");
    return static_cast<unsigned char>(d[at]) | (static_cast<unsigned char>(d[at + 1]) << 8);
}

std::uint32_t get32(const std::string& d, std::size_t at) {
    return get16(d, at) | (get16(d, at + 2) << 16);
}

}  // namespace

std::map<std::string, std::string> integrityOfDatabases(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const std::string& path : filesBelow(folder)) {
        if (endsWith(path, ".db"))
            out[path] = integrityOf(path);
    }
    return out;
}

std::vector<std::string> temporaryFilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    for (const std::string& path : filesBelow(folder)) {
        const std::string name = Poco::Path(path).getFileName();
        if (startsWith(name, ".orvane-part-") || startsWith(name, ".Orvane_Zip_"))
            out.push_back(path);
    }
    return out;
}

std::vector<std::string> zipFilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    for (const std::string& path : filesBelow(folder)) {
        const std::string name = Poco::Path(path).getFileName();
        if (startsWith(name, "Orvane_Zip_") && endsWith(name, ".zip"))
            out.push_back(path);
    }
    return out;
}

pid_t hostPid(const std::string& profile) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    pid_t found = -1;
    while (struct dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat("/proc/" + name + "/stat");
        std::string line;
        std::getline(stat, line);
        // "pid (comm) state ppid ...": the comm may hold spaces.
        const std::string::size_type close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent != ::getpid())
            continue;
        std::ifstream cmdline("/proc/" + name + "/cmdline");
        std::string args((std::istreambuf_iterator<char>(cmdline)),
                         std::istreambuf_iterator<char>());
        if (args.find(std::string(1, '\0') + profile + std::string(1, '\0')) != std::string::npos) {
            found = std::stoi(name);
            break;
        }
    }
    ::closedir(proc);
    return found;
}

namespace {

int entriesIn(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return -1;
    int n = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++n;
    }
    ::closedir(dir);
    return n;
}

}  // namespace

int threadCount(pid_t pid) {
    return entriesIn("/proc/" + std::to_string(pid) + "/task");
}

int descriptorCount(pid_t pid) {
    return entriesIn("/proc/" + std::to_string(pid) + "/fd");
}

SanitizerReports sanitizerReports(const std::string& errors) {
    SanitizerReports out;
    std::set<std::string> seen;
    const std::string start = "WARNING: ThreadSanitizer:";
    for (std::string::size_type at = errors.find(start); at != std::string::npos;
         at = errors.find(start, at + 1)) {
        ++out.count;
        if (out.count == 1) {
            std::string::size_type end = errors.find("\n==================", at);
            out.first = errors.substr(at, end == std::string::npos ? 8000 : end - at);
        }
    }
    std::istringstream lines(errors);
    std::string line;
    while (std::getline(lines, line)) {
        if (startsWith(line, "SUMMARY: ThreadSanitizer:") && seen.insert(line).second)
            out.summaries.push_back(line);
    }
    return out;
}

bool jpegSize(const std::string& data, int& width, int& height) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    if (data.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8 || byte(data.size() - 2) != 0xFF ||
        byte(data.size() - 1) != 0xD9)
        return false;
    std::size_t at = 2;
    while (at + 9 < data.size()) {
        if (byte(at) != 0xFF)
            return false;
        const unsigned marker = byte(at + 1);
        const std::size_t length = (byte(at + 2) << 8) | byte(at + 3);
        if (marker >= 0xC0 && marker <= 0xC3) {
            height = static_cast<int>((byte(at + 5) << 8) | byte(at + 6));
            width = static_cast<int>((byte(at + 7) << 8) | byte(at + 8));
            return true;
        }
        at += 2 + length;
    }
    return false;
}

std::map<std::string, std::string> zipEntries(const std::string& data) {
    std::size_t end = std::string::npos;
    for (std::size_t at = data.size() >= 22 ? data.size() - 22 : 0;; --at) {
        if (get32(data, at) == 0x06054b50) {
            end = at;
            break;
        }
        if (at == 0 || data.size() - at > 22 + 65535)
            break;
    }
    if (end == std::string::npos)
        throw std::runtime_error("zip without its end record");
    const std::uint32_t count = get16(data, end + 10);
    std::size_t at = get32(data, end + 16);
    std::map<std::string, std::string> out;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (get32(data, at) != 0x02014b50)
            throw std::runtime_error("zip directory entry out of place");
        const std::uint32_t method = get16(data, at + 10);
        const std::uint32_t crc = get32(data, at + 16);
        const std::uint32_t size = get32(data, at + 20);
        const std::uint32_t nameLength = get16(data, at + 28);
        const std::size_t local = get32(data, at + 42);
        const std::string name = data.substr(at + 46, nameLength);
        at += 46 + nameLength + get16(data, at + 30) + get16(data, at + 32);
        if (!name.empty() && name.back() == '/')
            continue;
        if (method != 0 || get32(data, local) != 0x04034b50)
            throw std::runtime_error("zip entry " + name + " is not a stored entry");
        const std::size_t start = local + 30 + get16(data, local + 26) + get16(data, local + 28);
        if (start + size > data.size())
            throw std::runtime_error("zip entry " + name + " cut short");
        std::string content = data.substr(start, size);
        Poco::Checksum sum(Poco::Checksum::TYPE_CRC32);
        sum.update(content.data(), static_cast<unsigned>(content.size()));
        if (sum.checksum() != crc)
            throw std::runtime_error("zip entry " + name + " has a wrong CRC");
        out[name] = content;
    }
    return out;
}

void parseXmlOrThrow(const std::string& text) {
    Poco::XML::DOMParser parser;
    try {
        Poco::XML::AutoPtr<Poco::XML::Document> doc = parser.parseMemory(text.data(), text.size());
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("not well-formed XML (" + e.displayText() +
                                 "): " + text.substr(0, 300));
    }
}

std::string uniqueContent(const std::string& label, std::size_t size, unsigned seed) {
    std::string out = label + "\n";
    out.reserve(size + out.size());
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        out += static_cast<char>(seed >> 16);
    }
    return out;
}

}  // namespace Stress
