// One orvane-host for the stress suites: the end-to-end suite's running
// host (temporary profile, a public demo share on a free loopback port)
// with what the load needs besides: real JPEGs made by libvips' command
// line, a folder to zip, and a private share "drop" with a guest "writer"
// who may upload. The host inherits ThreadSanitizer options that keep it
// running through reports and name the suppressions. Set up and restarted
// from one test thread; its fields are read by the load's threads.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "RunningHost.h"

namespace Stress {

class StressHost {
public:
    StressHost();
    // Keeps the host's standard error beside the test program, as
    // stress-<name>.log, for whoever reads a failed run.
    ~StressHost();
    void keepLogAs(const std::string& name) { m_logName = name; }

    // Starts (or starts again, on the same profile) and waits until the
    // demo share answers; the first start also makes the "drop" share.
    void start();
    // SIGTERM; the host's exit code (66 after ThreadSanitizer reports).
    int stop();
    // SIGKILL, at once.
    void kill();
    pid_t pid() const;
    // The host's standard error since the last start (its log and sanitizer
    // reports).
    std::string errors() const { return host.process.errors(); }

    // A guest session cookie header value for "writer".
    std::string signIn();
    std::map<std::string, std::string> ownerHeaders() const { return host.ownerHeaders(); }
    E2E::HttpClient client() const { return host.client(); }

    E2E::RunningHost host;
    std::string demoShare;  // /app/dapplinepro/share/<demo>/
    std::string dropShare = "drop";
    std::string dropDir;                            // the drop share's folder
    std::vector<std::string> pictures;              // names in demo/pics
    std::string calibration;                        // demo/calib/c.jpg
    std::map<std::string, std::string> zipContent;  // demo/zipme: name -> bytes
    int writerId = -1;

private:
    void makeContent();
    bool m_shared = false;
    std::string m_logName;
    std::string m_earlierLogs;
};

// An environment setting as a number, or `fallback`.
long envNumber(const char* name, long fallback);

}  // namespace Stress
