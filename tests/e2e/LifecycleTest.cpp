// Starting and stopping the host: the profile it creates, clean exits on
// SIGTERM and SIGINT, one-line errors and exit 1 for what it cannot use,
// and the guest commands (with the rows of older releases).
#include <gtest/gtest.h>

#include <Poco/DigestEngine.h>
#include <Poco/File.h>
#include <Poco/HMACEngine.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/PBKDF2Engine.h>
#include <Poco/SHA2Engine.h>
#include <Poco/String.h>
#include <signal.h>
#include <sys/stat.h>

#include "FrontPeer.h"
#include "RunningHost.h"

using namespace E2E;

namespace {

// What older releases hashed passwords with, by way of Poco's engine.
class SHA256Engine : public Poco::SHA2Engine {
public:
    enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
    SHA256Engine() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

int mode(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

// Runs the host expecting it to give up; its exit code, stderr in `errors`.
int failingStart(RunningHost& host, const std::vector<std::string>& args, std::string& errors) {
    host.process.start(args, host.root + "/out.log", host.root + "/err.log");
    int code = host.process.waitForExit(std::chrono::seconds(30));
    errors = host.process.errors();
    return code;
}

}  // namespace

// History rows are written in batches: those of the downloads just before
// the stop are written by the stop, and are there after a restart.
TEST(Lifecycle, FirstStartCreatesAPrivateProfileAndSigtermExitsCleanlyKeepingTheHistory) {
    RunningHost host;
    host.start();
    EXPECT_EQ(0700, mode(host.profileDir));
    EXPECT_EQ(0600, mode(host.profileDir + "/owner.token"));
    EXPECT_EQ(32u, host.token.size());
    EXPECT_NE(std::string::npos, host.process.output().find("Owner token: " + host.token));
    HttpClient http = host.client();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(200, http.get(host.sharePath + "hello.txt").status);
    EXPECT_EQ(0, host.stop());
    EXPECT_EQ(std::string::npos, host.process.errors().find("AddressSanitizer"));

    host.start();
    const Answer history = host.client().get(
        "/app/dapplinepro/gethistory?offset=0&max=100&shareid=-1&filter=DL", host.ownerHeaders());
    EXPECT_EQ("20", xmlText(history.body, "totalrecords")) << history.body;
    EXPECT_EQ(0, host.stop());
}

TEST(Lifecycle, SigintAlsoExitsCleanlyAndTheTokenSurvivesARestart) {
    RunningHost host;
    host.start();
    const std::string token = host.token;
    EXPECT_EQ(0, host.process.stop(SIGINT));
    host.start();
    EXPECT_EQ(token, host.token);
    // The quick share of the same folder finds the existing share.
    EXPECT_NE(std::string::npos, host.process.output().find("Shared already"));
    EXPECT_EQ(200, host.client().get(host.sharePath + "hello.txt").status);
    EXPECT_EQ(0, host.stop());
}

TEST(Lifecycle, PortInUseIsAOneLineErrorAndExit1) {
    RunningHost host;
    Poco::Net::ServerSocket taken(Poco::Net::SocketAddress("127.0.0.1", host.port));
    std::string errors;
    int code = failingStart(
        host, {"--profile", host.profileDir, "--port", std::to_string(host.port)}, errors);
    EXPECT_EQ(1, code);
    EXPECT_NE(std::string::npos, errors.find("already in use")) << errors;
    EXPECT_EQ(1, std::count(errors.begin(), errors.end(), '\n')) << errors;
}

TEST(Lifecycle, MissingPluginIsAnErrorAndExit1) {
    RunningHost host;
    Poco::File(host.root + "/empty").createDirectories();
    std::string errors;
    int code = failingStart(host,
                            {"--profile", host.profileDir, "--port", std::to_string(host.port),
                             "--plugins", host.root + "/empty"},
                            errors);
    EXPECT_EQ(1, code);
    EXPECT_NE(std::string::npos, errors.find("no plug-in")) << errors;
}

TEST(Lifecycle, UnusableProfileIsAnErrorAndExit1) {
    RunningHost host;
    writeFile(host.root + "/not-a-folder", "x");
    std::string errors;
    int code = failingStart(
        host, {"--profile", host.root + "/not-a-folder", "--port", std::to_string(host.port)},
        errors);
    EXPECT_EQ(1, code);
    EXPECT_NE(std::string::npos, errors.find("profile")) << errors;
}

TEST(Lifecycle, BadCommandLineIsRefused) {
    std::string out;
    EXPECT_NE(0, runHost({"--port", "notanumber"}, out));
    EXPECT_NE(std::string::npos, out.find("--port")) << out;
    EXPECT_NE(0, runHost({"guest", "frobnicate"}, out));
}

TEST(GuestCommands, AddListPasswdRemove) {
    RunningHost host;
    const std::string profile = host.profileDir;
    std::string out;
    ASSERT_EQ(
        0, runHost({"guest", "add", "dora", "--password", "first password", "--profile", profile},
                   out))
        << out;
    EXPECT_NE(
        0, runHost({"guest", "add", "dora", "--password", "other password", "--profile", profile},
                   out));
    ASSERT_EQ(0, runHost({"guest", "list", "--profile", profile}, out));
    EXPECT_NE(std::string::npos, out.find("\tdora\n")) << out;
    EXPECT_NE(
        0,
        runHost({"guest", "passwd", "dora", "--password", "123456789", "--profile", profile}, out));
    EXPECT_NE(std::string::npos, out.find("at least 10 characters")) << out;
    EXPECT_EQ(0, runHost({"guest", "passwd", "dora", "--password", "second password", "--profile",
                          profile},
                         out));
    // A row hashed the way older releases did (20,000 rounds of Poco's
    // engine) signs in, and is hashed again with today's rounds.
    const std::string db = profile + "/guestusers.db";
    const std::string salt = "00112233445566778899aabbccddeeff";
    Poco::PBKDF2Engine<Poco::HMACEngine<SHA256Engine>> older(salt, 20000, 32);
    older.update("olga's password");
    std::string rows;
    ASSERT_EQ(0, shell("sqlite3 '" + db +
                           "' \"INSERT INTO GUESTUSER (NAME, SALT, HASH, ITERATIONS) VALUES "
                           "('olga', '" +
                           salt + "', '" + Poco::DigestEngine::digestToHex(older.digest()) +
                           "', 20000);\"",
                       rows));

    host.start();
    HttpClient http = host.client();
    EXPECT_EQ(403, http.post("/ui/guest/login", "name=dora&password=first+password").status);
    EXPECT_EQ(303, http.post("/ui/guest/login", "name=dora&password=second+password").status);
    EXPECT_EQ(303, http.post("/ui/guest/login", "name=olga&password=olga%27s+password").status);
    EXPECT_EQ(0, host.stop());
    shell("sqlite3 '" + db + "' 'SELECT NAME, ITERATIONS FROM GUESTUSER ORDER BY NAME;'", rows);
    EXPECT_EQ("dora|600000\nolga|600000\n", rows);

    EXPECT_EQ(0, runHost({"guest", "remove", "dora", "--profile", profile}, out));
    EXPECT_NE(0, runHost({"guest", "remove", "dora", "--profile", profile}, out));
    runHost({"guest", "list", "--profile", profile}, out);
    EXPECT_EQ(std::string::npos, out.find("dora"));
    // The password is stored hashed, never in clear.
    EXPECT_EQ(std::string::npos, readFile(db).find("second password"));
}
