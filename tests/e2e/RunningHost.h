// One orvane-host for a test: a temporary folder with a profile and a demo
// folder (text files, a binary file, a sub-folder), started on a free
// loopback port with the demo folder quick-shared, and stopped with
// SIGTERM. Helpers set up guests and a private share through the host's
// own command line and HTTP operations. Used from one test thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "HostProcess.h"
#include "HttpClient.h"

namespace E2E {

class RunningHost {
public:
    RunningHost();
    ~RunningHost();

    // Starts the host with --share on the demo folder (plus `extra`) and
    // waits until it prints the share page and answers "/".
    void start(const std::vector<std::string>& extra = {});
    int stop();

    void writeProperties(const std::string& text);
    // Adds a guest with the host's command line; returns the guest's id.
    int addGuest(const std::string& name, const std::string& password);
    // Shares the folder "private" (created here) without public access and
    // lets `guestId` in; returns its share page path.
    std::string makePrivateShare(int guestId);

    HttpClient client() const { return HttpClient(port); }
    std::map<std::string, std::string> ownerHeaders() const {
        return {{"Authorization", "Bearer " + token}};
    }

    std::string root, profileDir, demoDir;
    int port = 0;
    std::string token;
    std::string sharePath;  // /app/dapplinepro/share/<name>/
    std::string bigFile;    // the binary demo file's content
    HostProcess process;
};

}  // namespace E2E
