#include "RunningHost.h"

#include <Poco/File.h>
#include <Poco/String.h>
#include <Poco/URI.h>
#include <signal.h>

#include <stdexcept>

namespace E2E {

namespace {

std::string makeTempDir() {
    char pattern[] = "/tmp/orvane-e2e-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::string pseudoRandomBytes(std::size_t n) {
    std::string out(n, '\0');
    unsigned int x = 12345;
    for (auto& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return out;
}

std::string lineAfter(const std::string& text, const std::string& label) {
    std::string::size_type at = text.find(label);
    if (at == std::string::npos)
        return std::string();
    at += label.size();
    return text.substr(at, text.find('\n', at) - at);
}

}  // namespace

RunningHost::RunningHost() {
    root = makeTempDir();
    profileDir = root + "/profile";
    demoDir = root + "/demo";
    Poco::File(demoDir + "/sub").createDirectories();
    writeFile(demoDir + "/hello.txt", "hello world\n");
    writeFile(demoDir + "/sub/inner.txt", "inside the sub-folder\n");
    writeFile(demoDir + "/quote\"name \xC3\xA9.txt", "odd name\n");
    bigFile = pseudoRandomBytes(300 * 1024 + 7);
    writeFile(demoDir + "/big.bin", bigFile);
    port = freePort();
}

RunningHost::~RunningHost() {
    if (process.running())
        process.stop(SIGTERM);
    try {
        Poco::File(root).remove(true);
    } catch (...) {
    }
}

// The port was free when it was picked, but another test process (ctest
// runs them side by side) may have taken it since: a host that finds it in
// use is started again on another one.
void RunningHost::start(const std::vector<std::string>& extra) {
    std::string page;
    for (int attempt = 1;; ++attempt) {
        std::vector<std::string> args = {
            "serve",  "--profile", profileDir, "--port", std::to_string(port),
            "--bind", "127.0.0.1", "--share",  demoDir,  "--log-level",
            "warning"};
        args.insert(args.end(), extra.begin(), extra.end());
        process.start(args, root + "/out.log", root + "/err.log");
        pollUntil([&] {
            page = lineAfter(process.output(), "Share page: ");
            return !page.empty() || !process.running();
        });
        if (!page.empty())
            break;
        const bool taken =
            !process.running() && process.errors().find("already in use") != std::string::npos;
        if (!taken || attempt == 3) {
            throw std::runtime_error("host did not share the demo folder:\n" + process.output() +
                                     process.errors());
        }
        port = freePort();
    }
    std::string::size_type app = page.find("/app/");
    sharePath = page.substr(app);
    token = Poco::trim(readFile(profileDir + "/owner.token"));
    bool answers = pollUntil([&] {
        try {
            return client().get("/").status == 200;
        } catch (const std::exception&) {
            return false;
        }
    });
    if (!answers)
        throw std::runtime_error("host does not answer on port " + std::to_string(port));
}

int RunningHost::stop() {
    return process.stop(SIGTERM);
}

void RunningHost::writeProperties(const std::string& text) {
    Poco::File(profileDir).createDirectories();
    writeFile(profileDir + "/host.properties", text);
}

int RunningHost::addGuest(const std::string& name, const std::string& password) {
    std::string out;
    if (runHost({"guest", "add", name, "--password", password, "--profile", profileDir}, out) !=
        0) {
        throw std::runtime_error("guest add failed: " + out);
    }
    // "Added guest <name> (id <id>)"
    const std::string::size_type at = out.rfind("(id ");
    if (at == std::string::npos)
        throw std::runtime_error("no guest id in: " + out);
    return std::stoi(out.substr(at + 4));
}

std::string RunningHost::makePrivateShare(int guestId) {
    const std::string folder = root + "/private";
    Poco::File(folder).createDirectories();
    writeFile(folder + "/secret.txt", "for guests only\n");
    std::string location;
    Poco::URI::encode(folder, "&=+;#?%", location);
    HttpClient http = client();
    Answer added = http.post("/app/dapplinepro/addshare",
                             "sharelocation=" + location + "&sharename=private&allowpublicaccess=0",
                             ownerHeaders());
    const std::string id = xmlText(added.body, "shareid");
    if (id.empty())
        throw std::runtime_error("addshare failed: " + added.body);
    Answer granted = http.get(
        "/app/dapplinepro/addusertoshare?shareid=" + id + "&userid=" + std::to_string(guestId),
        ownerHeaders());
    if (xmlText(granted.body, "success") != "1") {
        throw std::runtime_error("addusertoshare failed: " + granted.body);
    }
    return "/app/dapplinepro/share/private/";
}

}  // namespace E2E
