#include "LoadMix.h"

#include <Poco/File.h>
#include <Poco/String.h>
#include <Poco/URI.h>

#include <stdexcept>
#include <thread>

#include "StressChecks.h"

namespace Stress {

namespace {

typedef std::map<std::string, std::string> Headers;

// A size key and the query that asks for it, with the box it must fit.
struct PictureSize {
    const char* key;
    const char* query;
    int width, height;
};

const PictureSize kSizes[] = {
    {"t0", "thumbsize=0", 64, 64},   {"t1", "thumbsize=1", 128, 128},
    {"t2", "thumbsize=2", 256, 256}, {"v0", "viewsize=0", 800, 600},
    {"v1", "viewsize=1", 1024, 768},
};
const int kSizeCount = sizeof(kSizes) / sizeof(kSizes[0]);

// Weights of PAGE, PICTURE, RANGE, ZIP, UPLOAD, OWNER.
const int kWeights[] = {20, 25, 20, 5, 15, 15};

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void require(bool condition, const std::string& what) {
    if (!condition)
        throw Failure(what);
}

// Status, and a body as long as the header said.
void requireWhole(const E2E::Answer& a, int status, const std::string& what) {
    require(a.status == status,
            what + ": status " + std::to_string(a.status) + " (" + a.body.substr(0, 200) + ")");
    if (a.has("content-length")) {
        require(a.header("content-length") == std::to_string(a.body.size()),
                what + ": Content-Length " + a.header("content-length") + " but " +
                    std::to_string(a.body.size()) + " bytes");
    }
}

std::string multipart(const std::string& boundary, const std::string& name,
                      const std::string& content) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file0\"; filename=\"" +
           name + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" +
           boundary + "--\r\n";
}

std::string encoded(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "&=+;#?%/", out);
    return out;
}

}  // namespace

struct LoadMix::Client {
    Client(int i, unsigned seed, int port) : index(i), rng(seed), http(port) {}
    int index;
    std::mt19937 rng;
    E2E::HttpClient http;
    std::string cookie;
    int serial = 0;
};

std::vector<std::pair<std::string, std::string>> LoadMix::sizeQueries() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const PictureSize& size : kSizes)
        out.emplace_back(size.key, size.query);
    return out;
}

const char* LoadMix::kindName(int kind) {
    static const char* names[] = {"page view", "picture", "ranged download",
                                  "zip",       "upload",  "owner operation"};
    return kind >= 0 && kind < KINDS ? names[kind] : "?";
}

LoadMix::LoadMix(StressHost& host, unsigned seed) : m_host(host), m_seed(seed) {
    for (int k = 0; k < KINDS; ++k) {
        m_requests[k] = 0;
        m_failures[k] = 0;
    }
}

void LoadMix::run(int clients, std::chrono::seconds duration) {
    // One guest session for all: signing in is slow on purpose, and the
    // clock must not run meanwhile.
    if (m_cookie.empty()) {
        try {
            m_cookie = m_host.signIn();
        } catch (const std::exception& e) {
            fail(UPLOAD, std::string("sign-in: ") + e.what());
        }
    }
    const auto end = std::chrono::steady_clock::now() + duration;
    std::vector<std::thread> threads;
    // Each phase's clients upload other bytes than the last phase's.
    const unsigned phase = static_cast<unsigned>(++m_phase);
    for (int i = 0; i < clients; ++i) {
        const unsigned seed =
            m_seed * 7919u + phase * 15485863u + static_cast<unsigned>(i) * 104729u + 1u;
        threads.emplace_back([this, i, seed, end] { clientLoop(i, seed, end); });
    }
    for (auto& t : threads)
        t.join();
}

void LoadMix::clientLoop(int index, unsigned seed, std::chrono::steady_clock::time_point end) {
    Client c(index, seed, m_host.host.port);
    c.cookie = m_cookie;
    while (std::chrono::steady_clock::now() < end)
        one(c);
}

void LoadMix::one(Client& c) {
    std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
    const int kind = pick(c.rng);
    try {
        switch (kind) {
            case PAGE:
                return page(c);
            case PICTURE:
                return picture(c);
            case RANGE:
                return range(c);
            case ZIP:
                return zip(c);
            case UPLOAD:
                return upload(c);
            default:
                return owner(c);
        }
    } catch (const std::exception& e) {
        fail(kind, e.what());
    }
}

void LoadMix::page(Client& c) {
    const bool gallery = c.rng() % 2 == 0;
    const std::string target = m_host.demoShare + (gallery ? "pics/?vm=gallery" : "");
    count(PAGE, 1);
    const E2E::Answer a = c.http.get(target);
    requireWhole(a, 200, "page " + target);
    require(Poco::icompare(a.header("content-type").substr(0, 9), "text/html") == 0,
            "page " + target + ": type " + a.header("content-type"));
    require(Poco::toLower(a.body).find("</html>") != std::string::npos,
            "page " + target + " is cut short");
    for (const std::string& name : m_host.pictures) {
        if (gallery)
            require(a.body.find(name) != std::string::npos, "gallery without " + name);
    }
}

void LoadMix::picture(Client& c) {
    // Every client walks all pictures and sizes from its own start, so that
    // many ask for the same one at once.
    const int slot =
        (c.index + c.serial++) % (kSizeCount * static_cast<int>(m_host.pictures.size()));
    const std::string& name = m_host.pictures[slot / kSizeCount];
    const PictureSize& size = kSizes[slot % kSizeCount];
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pictureSizes[name].insert(size.key);
    }
    const std::string target = m_host.demoShare + "pics/" + name + "?" + size.query;
    count(PICTURE, 1);
    const E2E::Answer a = c.http.get(target);
    requireWhole(a, 200, "picture " + target);
    require(a.header("content-type") == "image/jpeg",
            target + ": type " + a.header("content-type"));
    int width = 0, height = 0;
    require(jpegSize(a.body, width, height), target + " is no whole JPEG");
    require(width <= size.width && height <= size.height &&
                (width == size.width || height == size.height),
            target + " is " + std::to_string(width) + "x" + std::to_string(height));
    samePicture(name + "/" + size.key, a.body);
}

void LoadMix::range(Client& c) {
    const std::string& content = m_host.host.bigFile;
    const std::string target = m_host.demoShare + "big.bin";
    const std::size_t total = content.size();
    const int shape = static_cast<int>(c.rng() % 4);
    count(RANGE, 1);
    if (shape == 0) {
        const E2E::Answer a = c.http.get(target);
        requireWhole(a, 200, "download");
        require(a.body == content, "download differs from big.bin");
        return;
    }
    std::size_t first = c.rng() % total, last = first + c.rng() % (total - first);
    std::string spec = std::to_string(first) + "-" + std::to_string(last);
    if (shape == 2) {
        const std::size_t n = 1 + c.rng() % total;
        first = total - n;
        last = total - 1;
        spec = "-" + std::to_string(n);
    } else if (shape == 3) {
        last = total - 1;
        spec = std::to_string(first) + "-";
    }
    const E2E::Answer a = c.http.get(target, {{"Range", "bytes=" + spec}});
    requireWhole(a, 206, "range " + spec);
    const std::string expected =
        "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
    require(a.header("content-range") == expected,
            "range " + spec + ": Content-Range " + a.header("content-range"));
    require(a.body == content.substr(first, last - first + 1), "range " + spec + " differs");
}

void LoadMix::zip(Client& c) {
    const std::string folder = m_host.demoShare + "zipme/";
    count(ZIP, 1);
    const E2E::Answer started = c.http.get(folder + "?startzip=1");
    requireWhole(started, 200, "startzip");
    parseXmlOrThrow(started.body);
    const std::string id = E2E::xmlText(started.body, "id");
    // Every client here has the same address, which may hold two jobs at
    // once: the others are told to come back later.
    if (id.empty() && started.body.find("The server is busy") != std::string::npos)
        return;
    require(!id.empty(), "startzip without an id: " + started.body);
    bool finished = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!finished && std::chrono::steady_clock::now() < end) {
        count(ZIP, 1);
        const E2E::Answer status = c.http.get(folder + "?zipstatus=1&id=" + id);
        requireWhole(status, 200, "zipstatus");
        parseXmlOrThrow(status.body);
        finished = E2E::xmlText(status.body, "finished") == "1";
        if (!finished) {
            struct timespec pause = {0, 50 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    require(finished, "zip " + id + " did not finish within 120 s");
    count(ZIP, 1);
    const E2E::Answer zip = c.http.get(folder + "?downloadaszip=1&id=" + id);
    requireWhole(zip, 200, "downloadaszip");
    const std::map<std::string, std::string> entries = zipEntries(zip.body);
    require(entries == m_host.zipContent, "zip " + id + " holds " + std::to_string(entries.size()) +
                                              " files, not the folder's " +
                                              std::to_string(m_host.zipContent.size()));
}

void LoadMix::upload(Client& c) {
    require(!c.cookie.empty(), "upload without a guest session");
    const std::string label =
        "upload " + std::to_string(c.index) + " " + std::to_string(c.serial++);
    const std::string content =
        uniqueContent(label, 1 + c.rng() % (200 * 1024), static_cast<unsigned>(c.rng()));
    const std::string boundary = "stressBoundary" + std::to_string(c.rng());
    count(UPLOAD, 1);
    const E2E::Answer a = c.http.post(
        "/app/dapplinepro/upload?appname=dapplinepro&sharename=drop&dirname=drop/in",
        multipart(boundary, "same.bin", content),
        {{"Content-Type", "multipart/form-data; boundary=" + boundary}, {"Cookie", c.cookie}});
    requireWhole(a, 200, "upload");
    require(a.body.find("FILE UPLOAD: OK") != std::string::npos, "upload refused: " + a.body);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_uploads.push_back(content);
}

void LoadMix::owner(Client& c) {
    const Headers owner = m_host.ownerHeaders();
    const int which = static_cast<int>(c.rng() % 3);
    if (which == 0) {
        count(OWNER, 1);
        const E2E::Answer a = c.http.get("/app/dapplinepro/getshares", owner);
        requireWhole(a, 200, "getshares");
        parseXmlOrThrow(a.body);
        require(a.body.find("<sharename>drop</sharename>") != std::string::npos,
                "getshares without drop: " + a.body.substr(0, 300));
        return;
    }
    if (which == 1) {
        count(OWNER, 1);
        const E2E::Answer a =
            c.http.get("/app/dapplinepro/gethistory?offset=0&max=50&shareid=-1", owner);
        requireWhole(a, 200, "gethistory");
        parseXmlOrThrow(a.body);
        return;
    }
    // A share of a folder of its own, changed, then removed again.
    const std::string name = "o" + std::to_string(++m_ownerSerial);
    const std::string folder = m_host.host.root + "/owned/" + name;
    Poco::File(folder).createDirectories();
    count(OWNER, 1);
    const E2E::Answer added = c.http.post(
        "/app/dapplinepro/addshare",
        "sharelocation=" + encoded(folder) + "&sharename=" + name + "&allowpublicaccess=0", owner);
    requireWhole(added, 200, "addshare");
    parseXmlOrThrow(added.body);
    const std::string id = E2E::xmlText(added.body, "shareid");
    require(!id.empty(), "addshare failed: " + added.body);
    count(OWNER, 1);
    const E2E::Answer updated =
        c.http.post("/app/dapplinepro/updateshare",
                    "shareid=" + id + "&sharename=" + name + "&sharelocation=" + encoded(folder) +
                        "&viewmode=GALLERY&thumbsize=1",
                    owner);
    requireWhole(updated, 200, "updateshare");
    parseXmlOrThrow(updated.body);
    require(updated.body.find("<shareid>" + id + "</shareid>") != std::string::npos,
            "updateshare failed: " + updated.body);
    count(OWNER, 1);
    const E2E::Answer removed = c.http.get("/app/dapplinepro/deleteshare?shareid=" + id, owner);
    requireWhole(removed, 200, "deleteshare");
    parseXmlOrThrow(removed.body);
    require(E2E::xmlText(removed.body, "success") == "1", "deleteshare failed: " + removed.body);
}

void LoadMix::count(int kind, int requests) {
    m_requests[kind] += requests;
}

void LoadMix::fail(int kind, const std::string& what) {
    ++m_failures[kind];
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failureTexts.size() < 30)
        m_failureTexts.push_back(std::string(kindName(kind)) + ": " + what);
}

void LoadMix::samePicture(const std::string& key, const std::string& data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_pictureBytes.find(key);
    if (it == m_pictureBytes.end()) {
        m_pictureBytes[key] = data;
        return;
    }
    if (it->second != data)
        throw Failure("picture " + key + " differs from its first answer");
}

long LoadMix::requests(int kind) const {
    return m_requests[kind];
}

long LoadMix::failures(int kind) const {
    return m_failures[kind];
}

long LoadMix::totalRequests() const {
    long n = 0;
    for (int k = 0; k < KINDS; ++k)
        n += m_requests[k];
    return n;
}

long LoadMix::totalFailures() const {
    long n = 0;
    for (int k = 0; k < KINDS; ++k)
        n += m_failures[k];
    return n;
}

std::vector<std::string> LoadMix::failureTexts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failureTexts;
}

std::vector<std::string> LoadMix::uploads() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_uploads;
}

std::map<std::string, std::set<std::string>> LoadMix::pictureSizes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pictureSizes;
}

}  // namespace Stress
