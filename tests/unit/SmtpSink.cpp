#include "SmtpSink.h"

#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/PartHandler.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>

#include <sstream>

namespace TestSupport {

namespace {

class CollectingPartHandler : public Poco::Net::PartHandler {
public:
    explicit CollectingPartHandler(ReceivedMail& mail) : m_mail(mail) {}
    void handlePart(const Poco::Net::MessageHeader& header, std::istream& stream) override {
        std::string content;
        Poco::StreamCopier::copyToString(stream, content);
        m_mail.partTypes.push_back(header.get("Content-Type", ""));
        m_mail.parts.push_back(content);
    }

private:
    ReceivedMail& m_mail;
};

bool startsWithNoCase(const std::string& line, const std::string& prefix) {
    return Poco::icompare(line.substr(0, prefix.size()), prefix) == 0;
}

void reply(Poco::Net::StreamSocket& socket, const std::string& text) {
    const std::string wire = text + "\r\n";
    socket.sendBytes(wire.data(), static_cast<int>(wire.size()));
}

}  // namespace

ReceivedMail parseMail(const std::string& data) {
    ReceivedMail mail;
    Poco::Net::MailMessage message;
    CollectingPartHandler handler(mail);
    std::istringstream in(data);
    message.read(in, handler);
    mail.sender = message.getSender();
    mail.subject = message.getSubject();
    mail.replyTo = message.get("Reply-To", "");
    mail.recipients = message.get("To", "");
    if (!message.isMultipart()) {
        mail.partTypes.push_back(message.getContentType());
        mail.parts.push_back(message.getContent());
    }
    return mail;
}

SmtpSink::SmtpSink() : m_server(Poco::Net::SocketAddress("127.0.0.1", 0)) {
    m_port = m_server.address().port();
    m_thread = std::thread([this] { run(); });
}

SmtpSink::~SmtpSink() {
    m_stop = true;
    m_thread.join();
}

void SmtpSink::offerStartTls(bool offer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offerStartTls = offer;
}

void SmtpSink::rejectRecipientsWith(const std::string& reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rcptReply = reply;
}

std::vector<std::string> SmtpSink::commands() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::vector<std::string> SmtpSink::mails() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mails;
}

bool SmtpSink::waitForMails(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_mails.size() >= n; });
}

bool SmtpSink::waitForSessions(std::size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_sessions >= n; });
}

void SmtpSink::record(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(line);
}

// The accept loop looks at the stop flag between short polls, so the
// destructor never waits on a blocked accept.
void SmtpSink::run() {
    while (!m_stop) {
        if (!m_server.poll(Poco::Timespan(0, 50000), Poco::Net::Socket::SELECT_READ))
            continue;
        try {
            Poco::Net::StreamSocket socket = m_server.acceptConnection();
            socket.setReceiveTimeout(Poco::Timespan(10, 0));
            serve(socket);
        } catch (const Poco::Exception&) {
            // A client that broke off; the next one is served all the same.
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_sessions;
        m_changed.notify_all();
    }
}

bool SmtpSink::readLine(Poco::Net::StreamSocket& socket, std::string& buffer, std::string& line) {
    for (;;) {
        const std::string::size_type end = buffer.find("\r\n");
        if (end != std::string::npos) {
            line = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            return true;
        }
        char chunk[4096];
        const int n = socket.receiveBytes(chunk, sizeof(chunk));
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

void SmtpSink::serve(Poco::Net::StreamSocket& socket) {
    Session session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session.offerStartTls = m_offerStartTls;
        session.rcptReply = m_rcptReply;
    }
    std::string line;
    reply(socket, "220 sink.test ESMTP ready");
    while (readLine(socket, session.buffer, line)) {
        record(line);
        if (!answer(socket, session, line))
            return;
    }
}

// False once the client has said goodbye.
bool SmtpSink::answer(Poco::Net::StreamSocket& socket, Session& session, const std::string& line) {
    if (startsWithNoCase(line, "EHLO")) {
        reply(socket, "250-sink.test");
        if (session.offerStartTls)
            reply(socket, "250-STARTTLS");
        reply(socket, "250-AUTH LOGIN PLAIN");
        reply(socket, "250 8BITMIME");
    } else if (startsWithNoCase(line, "HELO")) {
        reply(socket, "250 sink.test");
    } else if (startsWithNoCase(line, "STARTTLS")) {
        reply(socket, "454 4.7.0 TLS not available due to temporary reason");
    } else if (startsWithNoCase(line, "AUTH LOGIN")) {
        return authLogin(socket, session);
    } else if (startsWithNoCase(line, "MAIL FROM:")) {
        reply(socket, "250 2.1.0 Ok");
    } else if (startsWithNoCase(line, "RCPT TO:")) {
        reply(socket, session.rcptReply);
    } else if (startsWithNoCase(line, "DATA")) {
        return receiveData(socket, session);
    } else if (startsWithNoCase(line, "QUIT")) {
        reply(socket, "221 2.0.0 Bye");
        return false;
    } else if (startsWithNoCase(line, "RSET") || startsWithNoCase(line, "NOOP")) {
        reply(socket, "250 2.0.0 Ok");
    } else {
        reply(socket, "502 5.5.2 Command not recognized");
    }
    return true;
}

bool SmtpSink::authLogin(Poco::Net::StreamSocket& socket, Session& session) {
    std::string line;
    reply(socket, "334 VXNlcm5hbWU6");
    if (!readLine(socket, session.buffer, line))
        return false;
    record(line);
    reply(socket, "334 UGFzc3dvcmQ6");
    if (!readLine(socket, session.buffer, line))
        return false;
    record(line);
    reply(socket, "235 2.7.0 Authentication successful");
    return true;
}

bool SmtpSink::receiveData(Poco::Net::StreamSocket& socket, Session& session) {
    reply(socket, "354 End data with <CR><LF>.<CR><LF>");
    std::string data, line;
    for (;;) {
        if (!readLine(socket, session.buffer, line))
            return false;
        if (line == ".")
            break;
        if (!line.empty() && line[0] == '.')
            line.erase(0, 1);
        data += line + "\r\n";
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mails.push_back(data);
        m_changed.notify_all();
    }
    reply(socket, "250 2.0.0 Ok: queued");
    return true;
}

}  // namespace TestSupport
