#include "HostProcess.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace E2E {

std::string hostBinary() {
    return ORVANE_HOST_BIN;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

int freePort() {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    return socket.address().port();
}

HostProcess::~HostProcess() {
    if (running())
        stop(SIGKILL, std::chrono::seconds(10));
}

void HostProcess::start(const std::vector<std::string>& args, const std::string& outFile,
                        const std::string& errFile) {
    m_out = outFile;
    m_err = errFile;
    std::vector<std::string> argv = {hostBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    // Emptied here, before the child runs, so that no poll reads what an
    // earlier run of the host left in them.
    int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        std::vector<char*> raw;
        for (auto& a : argv)
            raw.push_back(const_cast<char*>(a.c_str()));
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    m_status = -1;
}

bool HostProcess::running() {
    if (m_pid <= 0)
        return false;
    int status = 0;
    pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
        return false;
    }
    return true;
}

int HostProcess::waitForExit(std::chrono::seconds bound) {
    if (!pollUntil([&] { return !running(); }, bound))
        return -1;
    return m_status;
}

int HostProcess::stop(int signal, std::chrono::seconds bound) {
    if (!running())
        return m_status;
    ::kill(m_pid, signal);
    int code = waitForExit(bound);
    if (code == -1 && running()) {
        ::kill(m_pid, SIGKILL);
        waitForExit(std::chrono::seconds(10));
        return -1;
    }
    return code;
}

int runHost(const std::vector<std::string>& args, std::string& output) {
    std::string command = "'" + hostBinary() + "'";
    for (const auto& a : args)
        command += " '" + a + "'";
    command += " 2>&1 </dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    output.clear();
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.append(buffer, n);
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace E2E
