#include "StressHost.h"

#include <Poco/File.h>
#include <signal.h>
#include <stdlib.h>

#include <stdexcept>

#include "DavSupport.h"
#include "StressChecks.h"

namespace Stress {

namespace {

void makeJpeg(const std::string& path) {
    // Noise does not compress: a real decode for every size.
    const E2E::Command made = E2E::runShell("vips gaussnoise " + E2E::shellQuote(path) +
                                            " 1600 1200 --mean 128 --sigma 50");
    if (made.status != 0 || !Poco::File(path).exists())
        throw std::runtime_error("vips could not make " + path + ": " + made.output);
}

}  // namespace

long envNumber(const char* name, long fallback) {
    const char* text = ::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end && *end == '\0' ? value : fallback;
}

StressHost::StressHost() {
    dropDir = host.root + "/drop";
    makeContent();
    host.writeProperties("timeout.seconds=120\n");
    writerId = host.addGuest("writer", "wpass");
}

StressHost::~StressHost() {
    if (!m_logName.empty())
        E2E::writeFile("stress-" + m_logName + ".log", m_earlierLogs + errors());
}

void StressHost::makeContent() {
    const std::string demo = host.demoDir;
    Poco::File(demo + "/pics").createDirectories();
    Poco::File(demo + "/calib").createDirectories();
    Poco::File(demo + "/zipme/inner").createDirectories();
    for (int i = 1; i <= 4; ++i) {
        pictures.push_back("p" + std::to_string(i) + ".jpg");
        makeJpeg(demo + "/pics/" + pictures.back());
    }
    calibration = demo + "/calib/c.jpg";
    makeJpeg(calibration);
    for (int i = 0; i < 6; ++i) {
        const std::string name =
            (i < 4 ? "" : "inner/") + std::string("z") + std::to_string(i) + ".bin";
        zipContent[name] = uniqueContent("zip " + name, 40 * 1024 + 9000 * i, 100u + i);
        E2E::writeNew(demo + "/zipme/" + name, zipContent[name]);
    }
}

void StressHost::start() {
    // Reports must not stop the host, and must be seen: the suite reads them
    // from the host's standard error after the run.
    const std::string options =
        "halt_on_error=0 exitcode=66 second_deadlock_stack=1 "
        "suppressions=" ORVANE_STRESS_SOURCE_DIR "/tsan.supp";
    ::setenv("TSAN_OPTIONS", options.c_str(), 1);
    // Starting empties the log file; an earlier run's is kept here.
    m_earlierLogs += errors();
    host.start();
    demoShare = host.sharePath;
    if (m_shared)
        return;
    E2E::DavHost dav(host);
    const int id = dav.addShare(dropShare, dropDir, false);
    dav.grant(id, writerId, true);
    m_shared = true;
}

int StressHost::stop() {
    return host.stop();
}

void StressHost::kill() {
    host.process.stop(SIGKILL, std::chrono::seconds(30));
}

pid_t StressHost::pid() const {
    return hostPid(host.profileDir);
}

std::string StressHost::signIn() {
    E2E::HttpClient http = host.client();
    E2E::Answer answer = http.post("/ui/guest/login", "name=writer&password=wpass");
    for (const std::string& cookie : answer.cookies) {
        const std::string value = E2E::cookieValue(cookie, "orvane_guest");
        if (!value.empty())
            return "orvane_guest=" + value;
    }
    throw std::runtime_error("guest sign-in failed: " + std::to_string(answer.status));
}

}  // namespace Stress
