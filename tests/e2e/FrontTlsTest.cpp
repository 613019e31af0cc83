// TLS on the real host: a self-signed start (https addresses, the
// fingerprint, the key's mode, the same certificate after a restart), the
// redirects of plain HTTP, HSTS, a given chain checked by curl --cacert,
// and SIGHUP swapping the certificate without dropping connections.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <Poco/File.h>
#include <Poco/String.h>

#include <dirent.h>

#include <memory>

#include "FrontPeer.h"
#include "RunningHost.h"

namespace E2E {
namespace {

void startTls(RunningHost& host, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        "serve",  "--profile", host.profileDir, "--port",     std::to_string(host.port),
        "--bind", "127.0.0.1", "--share",       host.demoDir, "--log-level",
        "warning"};
    args.insert(args.end(), extra.begin(), extra.end());
    host.process.start(args, host.root + "/out.log", host.root + "/err.log");
}

// The id of our child that runs with `text` on its command line.
pid_t childWith(const std::string& text) {
    DIR* proc = ::opendir("/proc");
    pid_t found = -1;
    while (struct dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = std::atoi(entry->d_name);
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const std::size_t close = stat.rfind(')');
        if (pid <= 0 || close == std::string::npos ||
            std::atoi(stat.c_str() + close + 4) != ::getpid()) {
            continue;
        }
        if (readFile("/proc/" + std::to_string(pid) + "/cmdline").find(text) != std::string::npos)
            found = pid;
    }
    if (proc)
        ::closedir(proc);
    return found;
}

// A root, an intermediate and a leaf for localhost in `dir`: chain.pem
// (leaf, then intermediate), leaf.key, root.pem.
void makeChain(const std::string& dir) {
    Poco::File(dir).createDirectories();
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
    const std::string script =
        "cd '" + dir +
        "' && "
        "openssl req -x509 " +
        ec +
        "-keyout root.key -out root.pem -days 30 -subj /CN=Root "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign && "
        "openssl req " +
        ec +
        "-keyout mid.key -out mid.csr -subj /CN=Mid && "
        "printf 'basicConstraints=critical,CA:TRUE\\nkeyUsage=critical,keyCertSign\\n' > mid.ext "
        "&& "
        "openssl x509 -req -in mid.csr -CA root.pem -CAkey root.key -CAcreateserial -days 30 "
        "-extfile mid.ext -out mid.pem && "
        "openssl req " +
        ec +
        "-keyout leaf.key -out leaf.csr -subj /CN=localhost && "
        "printf 'subjectAltName=DNS:localhost\\nextendedKeyUsage=serverAuth\\n' > leaf.ext && "
        "openssl x509 -req -in leaf.csr -CA mid.pem -CAkey mid.key -CAcreateserial -days 30 "
        "-extfile leaf.ext -out leaf.pem && cat leaf.pem mid.pem > chain.pem";
    std::string out;
    ASSERT_EQ(0, shell("(" + script + ") >/dev/null 2>&1", out));
}

int curlStatus(const std::string& caFile, const std::string& url) {
    std::string code;
    shell("curl -s -o /dev/null -w '%{http_code}' --cacert '" + caFile + "' '" + url + "'", code);
    return std::atoi(code.c_str());
}

TEST(PublicFrontTls, SelfSignedStartHttpsAddressesAndRedirects) {
    RunningHost host;
    // One worker: handshakes that never finish must not take it.
    host.writeProperties("front.threads=1\n");
    const int redirect = freePort();
    startTls(host, {"--tls-self-signed", "--redirect-http-port", std::to_string(redirect)});
    const std::string page = waitForSharePage(host.process);
    EXPECT_EQ(0u, page.find("https://127.0.0.1:" + std::to_string(host.port) + "/"));
    const std::string certificate = host.profileDir + "/tls/cert.pem";
    struct stat key;
    ASSERT_EQ(0, ::stat((host.profileDir + "/tls/key.pem").c_str(), &key));
    EXPECT_EQ(0600u, key.st_mode & 0777);

    std::string openssl;
    shell("openssl x509 -noout -fingerprint -sha256 -in '" + certificate + "'", openssl);
    const std::string fingerprint = Poco::trim(openssl.substr(openssl.find('=') + 1));
    EXPECT_NE(std::string::npos,
              host.process.output().find("TLS certificate SHA-256 fingerprint: " + fingerprint));

    std::vector<std::unique_ptr<FrontPeer>> stalled;
    for (int i = 0; i < 20; ++i) {
        stalled.emplace_back(new FrontPeer(host.port));
        stalled.back()->send(std::string("\x16\x03\x01\x02\x00\x01", 6));
    }
    std::string answer;
    EXPECT_EQ(0,
              shell("curl -s -D - --cacert '" + certificate + "' '" + page + "hello.txt'", answer));
    EXPECT_EQ(200, statusOf(answer));
    EXPECT_EQ("max-age=31536000", headerOf(answer, "Strict-Transport-Security"));
    EXPECT_NE(std::string::npos, answer.find("\r\n\r\nhello world\n"));

    // Plain HTTP on the TLS port and on the redirect port: 308 to https.
    const std::string https = "https://localhost:" + std::to_string(host.port);
    const std::string plain = FrontPeer(host.port).get("/ui/guest/?a=1");
    EXPECT_EQ(308, statusOf(plain));
    EXPECT_EQ(https + "/ui/guest/?a=1", headerOf(plain, "Location"));
    const std::string other = FrontPeer(redirect).get("/x");
    EXPECT_EQ(308, statusOf(other));
    EXPECT_EQ(https + "/x", headerOf(other, "Location"));

    // The certificate made on the first start is the one of the next.
    ASSERT_EQ(0, host.process.stop(SIGTERM));
    startTls(host, {"--tls-self-signed"});
    waitForSharePage(host.process);
    EXPECT_NE(std::string::npos, host.process.output().find(fingerprint));
}

TEST(PublicFrontTls, GivenChainAndSighupSwapsItWithoutDroppingConnections) {
    RunningHost host;
    const std::string first = host.root + "/first", second = host.root + "/second";
    makeChain(first);
    makeChain(second);
    const std::string chain = host.root + "/chain.pem", key = host.root + "/key.pem";
    writeFile(chain, readFile(first + "/chain.pem"));
    writeFile(key, readFile(first + "/leaf.key"));
    startTls(host, {"--tls-cert", chain, "--tls-key", key});
    waitForSharePage(host.process);
    const std::string url = "https://localhost:" + std::to_string(host.port) + "/";
    EXPECT_EQ(200, curlStatus(first + "/root.pem", url));
    EXPECT_EQ(0, curlStatus(second + "/root.pem", url));  // not trusted
    TlsPeer kept(host.port);
    EXPECT_EQ(200, statusOf(kept.get("/")));

    writeFile(chain, readFile(second + "/chain.pem"));
    writeFile(key, readFile(second + "/leaf.key"));
    const pid_t pid = childWith(host.profileDir);
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(pollUntil([&] { return curlStatus(second + "/root.pem", url) == 200; }));
    EXPECT_EQ(200, statusOf(kept.get("/")));

    // Files that cannot be used are refused; the certificate in use stays.
    writeFile(chain, "not a certificate\n");
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(pollUntil([&] {
        return host.process.errors().find("Kept the TLS certificate") != std::string::npos;
    }));
    EXPECT_TRUE(host.process.running());
    EXPECT_EQ(200, curlStatus(second + "/root.pem", url));
}

}  // namespace
}  // namespace E2E
