#include "AttackSupport.h"

#include <Poco/File.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/String.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace E2E {

namespace {

const char* const kPieces[] = {"%", "25", "2e", "2f", "5c", ".", "/", "\\", "%00"};

bool endsHead(const std::string& buffer, std::string::size_type& end) {
    end = buffer.find("\r\n\r\n");
    return end != std::string::npos;
}

void sendAll(Poco::Net::StreamSocket& socket, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const int n = socket.sendBytes(data.data() + done, static_cast<int>(data.size() - done));
        if (n <= 0)
            throw Poco::Net::NetException("send failed");
        done += static_cast<std::size_t>(n);
    }
}

void listInto(const std::string& folder, const std::vector<std::string>& skip,
              const std::string& prefix, std::map<std::string, std::string>& out) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const std::string full = folder + "/" + name;
        if (std::find(skip.begin(), skip.end(), full) != skip.end())
            continue;
        struct stat st;
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        std::ostringstream line;
        line << st.st_mode << " " << st.st_size << " " << st.st_mtim.tv_sec << "."
             << st.st_mtim.tv_nsec;
        out[prefix + name] = line.str();
        if (S_ISDIR(st.st_mode))
            listInto(full, skip, prefix + name + "/", out);
    }
}

std::string scratchZip(const std::string& zipBytes, const std::string& scratchDir) {
    Poco::File(scratchDir).createDirectories();
    const std::string path = scratchDir + "/answer.zip";
    writeFile(path, zipBytes);
    return path;
}

}  // namespace

std::string RawAnswer::header(const std::string& name) const {
    const std::string lower = Poco::toLower(name);
    for (const auto& h : headers) {
        if (h.first == lower)
            return h.second;
    }
    return std::string();
}

RawAnswer RawClient::postForm(const std::string& target, const std::string& body,
                              const HeaderList& headers) {
    HeaderList all = headers;
    all.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    return send("POST", target, all, body);
}

RawAnswer RawClient::send(const std::string& method, const std::string& target,
                          const HeaderList& headers, const std::string& body) {
    std::string request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\n";
    for (const auto& h : headers)
        request += h.first + ": " + h.second + "\r\n";
    if (!body.empty() || method == "POST" || method == "PUT")
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    ++m_count;
    RawAnswer answer;
    // A kept-alive connection the host has closed meanwhile fails at once;
    // the request is then sent once more on a fresh one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        answer = RawAnswer();
        if (exchange(request, method == "HEAD", answer))
            return answer;
    }
    throw std::runtime_error("no answer to " + method + " " + target);
}

bool RawClient::exchange(const std::string& request, bool head, RawAnswer& answer) {
    try {
        if (!m_socket) {
            m_socket.reset(new Poco::Net::StreamSocket());
            m_socket->connect(Poco::Net::SocketAddress("127.0.0.1", m_port), Poco::Timespan(10, 0));
            m_socket->setReceiveTimeout(Poco::Timespan(60, 0));
            m_socket->setNoDelay(true);
            m_buffer.clear();
        }
        sendAll(*m_socket, request);
        bool close = false;
        if (readHead(answer, close) && readBody(answer, head, close)) {
            if (close)
                m_socket.reset();
            return true;
        }
    } catch (const Poco::Exception&) {
    }
    m_socket.reset();
    return false;
}

bool RawClient::fill() {
    char chunk[16384];
    const int n = m_socket->receiveBytes(chunk, sizeof(chunk));
    if (n <= 0)
        return false;
    m_buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

bool RawClient::readHead(RawAnswer& answer, bool& close) {
    std::string::size_type end;
    while (!endsHead(m_buffer, end)) {
        if (!fill())
            return false;
    }
    answer.head = m_buffer.substr(0, end + 2);
    m_buffer.erase(0, end + 4);
    std::istringstream lines(answer.head);
    std::string line;
    std::getline(lines, line);
    if (line.compare(0, 5, "HTTP/") != 0 || line.size() < 12)
        throw std::runtime_error("not an HTTP answer: " + line);
    answer.status = std::stoi(line.substr(9, 3));
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string::size_type colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        answer.headers.emplace_back(Poco::toLower(line.substr(0, colon)),
                                    Poco::trim(line.substr(colon + 1)));
    }
    close = Poco::icompare(answer.header("connection"), "close") == 0;
    return true;
}

bool RawClient::readBody(RawAnswer& answer, bool head, bool close) {
    if (head || answer.status == 204 || answer.status == 304 || answer.status / 100 == 1)
        return true;
    if (Poco::icompare(answer.header("transfer-encoding"), "chunked") == 0) {
        for (;;) {
            std::string::size_type eol;
            while ((eol = m_buffer.find("\r\n")) == std::string::npos) {
                if (!fill())
                    return false;
            }
            const std::size_t size = std::stoul(m_buffer.substr(0, eol), nullptr, 16);
            while (m_buffer.size() < eol + 2 + size + 2) {
                if (!fill())
                    return false;
            }
            answer.body.append(m_buffer, eol + 2, size);
            m_buffer.erase(0, eol + 2 + size + 2);
            if (size == 0)
                return true;
        }
    }
    const std::string length = answer.header("content-length");
    if (length.empty()) {
        if (!close && answer.header("connection").empty())
            return true;  // no body announced
        while (fill()) {
        }
        answer.body = m_buffer;
        m_buffer.clear();
        m_socket.reset();
        return true;
    }
    const std::size_t size = std::stoull(length);
    while (m_buffer.size() < size) {
        if (!fill())
            return false;
    }
    answer.body = m_buffer.substr(0, size);
    m_buffer.erase(0, size);
    return true;
}

std::vector<std::string> hostilePieces(std::size_t maxLength) {
    std::vector<std::string> out;
    std::vector<std::string> level = {std::string()};
    while (!level.empty()) {
        std::vector<std::string> next;
        for (const std::string& prefix : level) {
            for (const char* piece : kPieces) {
                const std::string text = prefix + piece;
                if (text.size() <= maxLength)
                    next.push_back(text);
            }
        }
        level.swap(next);
        out.insert(out.end(), level.begin(), level.end());
    }
    // Each text comes from one sequence of pieces only (no piece is a
    // concatenation of others), so there are no duplicates to drop.
    std::stable_sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return a.size() < b.size();
    });
    return out;
}

CanaryField::CanaryField(const std::string& root)
    : base(root), share(root + "/a/share"), pub(root + "/a/pub") {
    canaryText = "CANARY" + std::to_string(::getpid()) + "x7Q2vZ9kSECRET";
    writeNew(base + "/zq-canary.txt", canaryText + "\n");
    writeNew(base + "/zq-outside/zq-deep.txt", "deep " + canaryText + "\n");
    writeNew(base + "/a/zq-beside.txt", canaryText + " beside\n");
    for (const std::string& folder : {share, pub}) {
        writeNew(folder + "/hello.txt", "hello from the share\n");
        writeNew(folder + "/sub/inner.txt", "inner text\n");
        writeNew(folder + "/mv.txt", "to be moved\n");
        if (::symlink((base + "/zq-outside").c_str(), (folder + "/out-dir").c_str()) != 0 ||
            ::symlink((base + "/zq-canary.txt").c_str(), (folder + "/out-file").c_str()) != 0 ||
            ::symlink((folder + "/sub").c_str(), (folder + "/in-dir").c_str()) != 0)
            throw std::runtime_error("symlink failed: " + std::string(std::strerror(errno)));
    }
}

std::map<std::string, std::string> CanaryField::snapshot() const {
    std::map<std::string, std::string> out;
    listInto(base, {share, pub}, "", out);
    return out;
}

std::string CanaryField::changesSince(const std::map<std::string, std::string>& before) const {
    const auto now = snapshot();
    std::string out;
    for (const auto& entry : before) {
        auto it = now.find(entry.first);
        if (it == now.end())
            out += "missing: " + entry.first + "\n";
        else if (it->second != entry.second)
            out += "changed: " + entry.first + " (" + entry.second + " -> " + it->second + ")\n";
    }
    for (const auto& entry : now) {
        if (!before.count(entry.first))
            out += "new: " + entry.first + "\n";
    }
    return out;
}

std::vector<std::string> plainFilesBelow(const std::string& folder) {
    std::map<std::string, std::string> all;
    listInto(folder, {}, "", all);
    std::vector<std::string> out;
    for (const auto& entry : all) {
        if (S_ISREG(std::stoul(entry.second)))
            out.push_back(entry.first);
    }
    return out;
}

std::string multipartBody(const std::string& boundary, const std::string& fileName,
                          const std::string& content) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
           fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" +
           boundary + "--\r\n";
}

std::string guestCookie(int port, const std::string& name, const std::string& password) {
    RawClient client(port);
    RawAnswer a =
        client.postForm("/ui/guest/login", "name=" + percentEncode(name, false) +
                                               "&password=" + percentEncode(password, false));
    for (const auto& h : a.headers) {
        if (h.first == "set-cookie" && h.second.compare(0, 13, "orvane_guest=") == 0) {
            const std::string value = cookieValue(h.second, "orvane_guest");
            if (!value.empty())
                return "orvane_guest=" + value;
        }
    }
    throw std::runtime_error("guest sign-in failed: " + a.head + a.body);
}

std::string badHeaderLines(const RawAnswer& answer) {
    std::string out;
    std::string::size_type start = 0;
    while (start < answer.head.size()) {
        std::string::size_type end = answer.head.find("\r\n", start);
        if (end == std::string::npos)
            end = answer.head.size();
        const std::string line = answer.head.substr(start, end - start);
        for (unsigned char c : line) {
            if ((c < 0x20 && c != '\t') || c == 0x7F) {
                out += line + "\n";
                break;
            }
        }
        start = end + 2;
    }
    return out;
}

std::vector<std::string> zipNames(const std::string& zipBytes, const std::string& scratchDir) {
    const std::string path = scratchZip(zipBytes, scratchDir);
    Command listed = runShell("unzip -Z1 " + shellQuote(path));
    if (listed.status != 0)
        throw std::runtime_error("unzip -Z1 failed: " + listed.output);
    std::vector<std::string> names;
    std::istringstream lines(listed.output);
    std::string line;
    while (std::getline(lines, line))
        names.push_back(line);
    return names;
}

std::string zipContent(const std::string& zipBytes, const std::string& scratchDir) {
    const std::string path = scratchZip(zipBytes, scratchDir);
    Command out = runShell("unzip -p " + shellQuote(path));
    if (out.status != 0)
        throw std::runtime_error("unzip -p failed: " + out.output);
    return out.output;
}

std::string percentEncode(const std::string& text, bool keepSlash) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

}  // namespace E2E
