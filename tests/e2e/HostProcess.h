// Runs the built orvane-host as a child process with its output in files,
// and stops it with a signal. Waits are bounded polls. One test thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace E2E {

std::string hostBinary();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// A port on 127.0.0.1 that was free a moment ago.
int freePort();

class HostProcess {
public:
    HostProcess() = default;
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts `orvane-host <args>`; stdout and stderr go to the two files.
    void start(const std::vector<std::string>& args, const std::string& outFile,
               const std::string& errFile);
    bool running();
    // Sends the signal and waits for the exit; the exit code, or -1 when it
    // did not end within the bound (it is then killed), or 128+N for a
    // death by signal N.
    int stop(int signal, std::chrono::seconds bound = std::chrono::seconds(30));
    // Waits for an exit without sending anything; -1 after the bound.
    int waitForExit(std::chrono::seconds bound);
    std::string output() const { return readFile(m_out); }
    std::string errors() const { return readFile(m_err); }

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::string m_out, m_err;
};

// Runs orvane-host to its end (for the guest commands); returns the exit code.
int runHost(const std::vector<std::string>& args, std::string& output);

// Polls `check` until it is true or `bound` passes.
template <typename Check>
bool pollUntil(Check check, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (check())
            return true;
        struct timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return check();
}

}  // namespace E2E
