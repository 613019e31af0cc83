#include "tus/TusRecord.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "http/PercentEncoding.h"
#include "http/WriteFailure.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

const char* const FORMAT = "orvane-tus 1";

// Values may hold any byte a client sent (line breaks too): every byte
// that could end or bend a line is written as %XX.
bool plain(unsigned char c) {
    return c >= 0x20 && c != 0x7f && c != '%' && c != '=';
}

std::string escaped(const std::string& text) {
    return PercentEncoding::encode(text, plain);
}

std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() ? Util::hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? Util::hexValue(text[i + 2]) : -1;
        if (text[i] == '%' && low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void writeAll(int fd, const std::string& text, const std::string& path) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            throw WriteFailure("cannot write " + path + ": " + ::strerror(error), error);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void TusRecord::save(const std::string& path) const {
    std::ostringstream out;
    out << FORMAT << "\n";
    auto line = [&](const char* key, const std::string& value) {
        out << key << "=" << escaped(value) << "\n";
    };
    line("id", id);
    line("plugin", plugin);
    line("owner", owner);
    line("length", std::to_string(length));
    line("name", fileName);
    line("folders", folders);
    line("metadata", metadata);
    line("query", query);
    line("path", rawPath);
    line("target", target);
    line("root", shareRoot);
    line("limit", std::to_string(sizeLimit));
    line("explorer", explorer ? "1" : "0");
    line("expires", std::to_string(expires));
    line("done", done ? "1" : "0");
    line("placed", placed);
    out << "end\n";  // a record cut short has none
    const std::string fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw WriteFailure("cannot write " + fresh + ": " + ::strerror(errno), errno);
    try {
        writeAll(fd, out.str(), fresh);
    } catch (...) {
        ::close(fd);
        ::unlink(fresh.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(fresh.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        throw WriteFailure("cannot write " + path + ": " + ::strerror(error), error);
    }
}

bool TusRecord::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != FORMAT)
        return false;
    std::map<std::string, std::string> values;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line == "end") {
            ended = true;
            break;
        }
        const std::string::size_type eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = unescaped(line.substr(eq + 1));
    }
    if (!ended || values["id"].empty())
        return false;
    try {
        id = values["id"];
        plugin = values["plugin"];
        owner = values["owner"];
        length = std::stoull(values["length"]);
        fileName = values["name"];
        folders = values["folders"];
        metadata = values["metadata"];
        query = values["query"];
        rawPath = values["path"];
        target = values["target"];
        shareRoot = values["root"];
        sizeLimit = std::stoll(values["limit"]);
        explorer = values["explorer"] == "1";
        expires = std::stoll(values["expires"]);
        done = values["done"] == "1";
        placed = values["placed"];
    } catch (const std::exception&) {
        return false;
    }
    return !fileName.empty() && !target.empty();
}

}  // namespace Host
}  // namespace Orvane
