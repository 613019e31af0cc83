// A small SMTP server for the mail tests: it listens on a free loopback port,
// takes every mail it is given and records the client's side of the dialogue.
// One connection at a time on a thread of its own; the recorded commands and
// mails are read under a mutex, waits are bounded.
#pragma once

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TestSupport {

// A mail as the sink received it, parsed back: headers and decoded parts.
struct ReceivedMail {
    std::string sender;
    std::string subject;
    std::string replyTo;
    std::string recipients;  // the To header
    std::vector<std::string> partTypes;
    std::vector<std::string> parts;  // transfer encoding undone
};
ReceivedMail parseMail(const std::string& data);

class SmtpSink {
public:
    SmtpSink();
    ~SmtpSink();

    int port() const { return m_port; }
    // Set before the first connection.
    void offerStartTls(bool offer);
    void rejectRecipientsWith(const std::string& reply);

    // Client lines in order (commands and AUTH answers), without CR LF.
    std::vector<std::string> commands();
    // The DATA of each mail, dot-stuffing undone, lines joined with CR LF.
    std::vector<std::string> mails();
    bool waitForMails(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Bounded wait until a client has said QUIT or hung up n times.
    bool waitForSessions(std::size_t n,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    struct Session {
        bool offerStartTls = false;
        std::string rcptReply;
        std::string buffer;  // received, not yet read
    };

    void run();
    void serve(Poco::Net::StreamSocket& socket);
    bool answer(Poco::Net::StreamSocket& socket, Session& session, const std::string& line);
    bool authLogin(Poco::Net::StreamSocket& socket, Session& session);
    bool receiveData(Poco::Net::StreamSocket& socket, Session& session);
    bool readLine(Poco::Net::StreamSocket& socket, std::string& buffer, std::string& line);
    void record(const std::string& line);

    Poco::Net::ServerSocket m_server;
    int m_port = 0;
    bool m_offerStartTls = false;
    std::string m_rcptReply = "250 2.1.5 Ok";
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_commands;
    std::vector<std::string> m_mails;
    std::size_t m_sessions = 0;
    std::thread m_thread;
};

}  // namespace TestSupport
