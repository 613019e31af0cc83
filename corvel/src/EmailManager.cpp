// Mail goes out through the SMTP server named in the profile (smtp.host,
// smtp.port, smtp.user, smtp.password, smtp.starttls, smtp.from). Every call
// opens, uses and closes its own connection, so calls may run side by side.
#include "orvane/EmailManager.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/DNS.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MailRecipient.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/PartSource.h>
#include <Poco/Net/SMTPClientSession.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StringPartSource.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/UUIDGenerator.h>

#include <mutex>

#include "orvane/ProfileManager.h"

namespace Orvane {
namespace API {

namespace {

// A mail server that does not answer must not hold the owner's request for
// longer than the web front waits for it.
const int CONNECT_TIMEOUT_SECONDS = 10;
const int READ_TIMEOUT_SECONDS = 20;

struct SmtpSettings {
    std::string host;
    Poco::UInt16 port = 25;
    std::string user;
    std::string password;
    std::string from;
    bool startTls = false;
};

bool isTrueText(const std::string& text) {
    const std::string value = Poco::toLower(Poco::trim(text));
    return value == "1" || value == "true" || value == "yes" || value == "on";
}

SmtpSettings readSettings() {
    SmtpSettings s;
    s.host = Poco::trim(ProfileManager::getProperty("smtp.host"));
    s.startTls = isTrueText(ProfileManager::getProperty("smtp.starttls"));
    s.user = ProfileManager::getProperty("smtp.user");
    s.password = ProfileManager::getProperty("smtp.password");
    const std::string port = Poco::trim(ProfileManager::getProperty("smtp.port"));
    unsigned value = s.startTls ? 587 : 25;
    if (!port.empty() &&
        (!Poco::NumberParser::tryParseUnsigned(port, value) || value == 0 || value > 65535)) {
        throw Poco::InvalidArgumentException("Invalid mail server port", port);
    }
    s.port = static_cast<Poco::UInt16>(value);
    s.from = Poco::trim(ProfileManager::getProperty("smtp.from"));
    if (s.from.empty())
        s.from = s.user.find('@') != std::string::npos ? s.user : "noreply@localhost";
    return s;
}

// Callers' texts end up in headers; a line break in one would start a header
// of the caller's choosing.
std::string withoutControls(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 32 && c != 127)
            out += c;
    }
    return out;
}

bool isPlainAddress(const std::string& address) {
    if (address.empty() || address.find('@') == std::string::npos)
        return false;
    for (char c : address) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 127 || c == '<' || c == '>' || c == ',' || c == '"')
            return false;
    }
    return true;
}

bool isAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 126)
            return false;
    }
    return true;
}

std::string senderHeader(const std::string& name, const std::string& address) {
    std::string display;
    for (char c : withoutControls(name)) {
        if (c != '"' && c != '\\' && c != '<' && c != '>')
            display += c;
    }
    display = Poco::trim(display);
    if (display.empty())
        return address;
    if (isAscii(display))
        return "\"" + display + "\" <" + address + ">";
    return Poco::Net::MailMessage::encodeWord(display, "UTF-8") + " <" + address + ">";
}

std::string heloName() {
    try {
        const std::string name = Poco::Net::DNS::hostName();
        if (!name.empty())
            return name;
    } catch (const Poco::Exception&) {
    }
    return "localhost";
}

Poco::Net::Context::Ptr tlsContext() {
    static std::once_flag once;
    static Poco::Net::Context::Ptr context;
    std::call_once(once, [] {
        Poco::Net::initializeSSL();
        context = new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "",
                                         Poco::Net::Context::VERIFY_RELAXED, 9, true);
        context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
    });
    return context;
}

// Poco's own STARTTLS session forgets the server's name when it is built on a
// socket of ours (which we need for the connect timeout), and with it the
// certificate's host check and the server's answer to STARTTLS.
class StartTlsSession : public Poco::Net::SMTPClientSession {
public:
    StartTlsSession(const Poco::Net::StreamSocket& socket, const std::string& host)
        : Poco::Net::SMTPClientSession(socket), m_host(host) {}

    void startTLS() {
        std::string response;
        const int status = sendCommand("STARTTLS", response);
        if (!isPositiveCompletion(status)) {
            throw Poco::Net::SMTPException("The mail server refused STARTTLS", response);
        }
        Poco::Net::SecureStreamSocket secure =
            Poco::Net::SecureStreamSocket::attach(socket(), m_host, tlsContext());
        socket() = secure;
    }

private:
    std::string m_host;
};

void buildMessage(Poco::Net::MailMessage& mail, const SmtpSettings& settings,
                  const std::string& senderName, const std::string& recipient,
                  const std::string& subject, const std::string& htmlBody,
                  const std::string& replyTo) {
    mail.setSender(senderHeader(senderName, settings.from));
    mail.addRecipient(
        Poco::Net::MailRecipient(Poco::Net::MailRecipient::PRIMARY_RECIPIENT, recipient));
    mail.setSubject(Poco::Net::MailMessage::encodeWord(withoutControls(subject), "UTF-8"));
    if (!replyTo.empty())
        mail.set("Reply-To", replyTo);
    const std::string domain = settings.from.substr(settings.from.find('@') + 1);
    mail.set("Message-ID", "<" + Poco::UUIDGenerator::defaultGenerator().createRandom().toString() +
                               "@" + domain + ">");
    mail.addContent(new Poco::Net::StringPartSource(htmlBody, "text/html; charset=UTF-8"),
                    Poco::Net::MailMessage::ENCODING_QUOTED_PRINTABLE);
}

void deliver(const SmtpSettings& settings, const Poco::Net::MailMessage& mail) {
    Poco::Net::StreamSocket socket;
    socket.connect(Poco::Net::SocketAddress(settings.host, settings.port),
                   Poco::Timespan(CONNECT_TIMEOUT_SECONDS, 0));
    StartTlsSession session(socket, settings.host);
    session.setTimeout(Poco::Timespan(READ_TIMEOUT_SECONDS, 0));
    const std::string helo = heloName();
    if (settings.startTls) {
        session.login(helo);
        session.startTLS();
        session.setTimeout(Poco::Timespan(READ_TIMEOUT_SECONDS, 0));
    }
    // Both forms greet (again, after STARTTLS, as the protocol asks).
    if (settings.user.empty()) {
        session.login(helo);
    } else {
        session.login(helo, Poco::Net::SMTPClientSession::AUTH_LOGIN, settings.user,
                      settings.password);
    }
    session.sendMessage(mail);
    try {
        session.close();
    } catch (const Poco::Exception&) {
        // The server has taken the mail; a lost goodbye changes nothing.
    }
}

}  // namespace

bool EmailManager::sendHTMLEmail(const std::string& senderName, const std::string& recipient,
                                 const std::string& subject, const std::string& htmlBody,
                                 const std::string& replyTo, std::string& reason) {
    Poco::Logger& log = Poco::Logger::get("EmailManager");
    if (Poco::trim(ProfileManager::getProperty("smtp.host")).empty()) {
        reason = "Mail server is not configured";
        return false;
    }
    try {
        const SmtpSettings settings = readSettings();
        if (!isPlainAddress(recipient)) {
            reason = "Invalid recipient address";
            return false;
        }
        if (!replyTo.empty() && !isPlainAddress(replyTo)) {
            reason = "Invalid reply-to address";
            return false;
        }
        Poco::Net::MailMessage mail;
        buildMessage(mail, settings, senderName, recipient, subject, htmlBody, replyTo);
        deliver(settings, mail);
        return true;
    } catch (const Poco::Net::SMTPException& e) {
        // Its message carries the server's own answer.
        reason = e.message();
    } catch (const Poco::Exception& e) {
        reason = e.displayText();
    } catch (const std::exception& e) {
        reason = e.what();
    }
    log.warning("Mail to " + withoutControls(recipient) + " failed: " + reason);
    return false;
}

}  // namespace API
}  // namespace Orvane
