#include "app/SettingsTable.h"

#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/URI.h>

#include "net/TrustedProxies.h"
#include "orvane/Exception.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {
namespace {

using K = SettingKind;

const char* const kHost = "Where and how the host runs";
const char* const kTls = "TLS";
const char* const kProxy = "Reverse proxies";
const char* const kFront = "Limits of the web front";
const char* const kMail = "Mail (share invitations and notices)";
const char* const kKeep = "Disk, uploads and history";

const long long kNoLimit = 1LL << 62;

// Defaults match what the readers of these keys (the front, libcorvel and the
// plug-in) fall back to when a key is absent.
const std::vector<Setting> kTable = {
    {kHost, "profile", "--profile", "./var/profile", K::Path, 0, 0, false,
     "The profile folder: owner token, guest users, the shares' databases and "
     "host.properties. Made on first start (mode 0700). Not in host.properties."},
    {kHost, "port", "--port", "8080", K::Number, 0, 65535, false,
     "The TCP port of the web front; 0 takes a free one. A port below 1024 needs "
     "CAP_NET_BIND_SERVICE (orvane.service says how to grant it)."},
    {kHost, "bind", "--bind", "127.0.0.1", K::Name, 0, 0, false,
     "The address to listen on: 0.0.0.0 or :: for every address of the machine."},
    {kHost, "public.url", "--public-url", "", K::Url, 0, 0, false,
     "The address visitors use (https://share.example.org), for the links the host "
     "prints and mails. Empty: the bind address and port."},
    {kHost, "share", "--share", "", K::Path, 0, 0, true,
     "A folder to share publicly at start; its share page address is printed. Repeat "
     "the line for more folders. Under orvane.service, a folder that guests may write "
     "to also needs a ReadWritePaths= line (systemctl edit orvane)."},
    {kHost, "workers", "--workers", "8", K::Number, 1, 256, false,
     "Threads that carry out the plug-in's deferred work."},
    {kHost, "log.level", "--log-level", "information", K::LogLevel, 0, 0, false,
     "none, fatal, critical, error, warning, notice, information, debug or trace."},
    {kHost, "timeout.seconds", "", "30", K::Number, 1, 86400, false,
     "How long a request waits for the plug-in's answer before it gets 504."},
    {kHost, "language", "", "", K::Name, 0, 0, false,
     "The language of pages and mails (de, fr, ...); empty: English."},
    {kHost, "owner.name", "", "", K::Text, 0, 0, false,
     "The owner's name as guests read it; empty: the user running the host."},
    {kHost, "plugins", "--plugins", "", K::Path, 0, 0, false,
     "The plug-ins' folder. Empty: ../plugins beside the program, else "
     "../lib/orvane/plugins (where the package puts them)."},
    {kHost, "www", "--www", "", K::Path, 0, 0, false,
     "The host's own web pages. Empty: ../www beside the program, else "
     "../share/orvane/www (where the package puts them)."},

    {kTls, "tls.cert", "--tls-cert", "", K::Path, 0, 0, false,
     "A PEM certificate with its chain after it (certbot's fullchain.pem); goes with "
     "tls.key. SIGHUP (systemctl reload) reads it again."},
    {kTls, "tls.key", "--tls-key", "", K::Path, 0, 0, false,
     "The PEM private key of tls.cert (certbot's privkey.pem)."},
    {kTls, "tls.self.signed", "--tls-self-signed", "false", K::Switch, 0, 0, false,
     "Make a key and a self-signed certificate in <profile>/tls/ and print its "
     "SHA-256 fingerprint at start."},
    {kTls, "redirect.http.port", "--redirect-http-port", "0", K::Number, 0, 65535, false,
     "With TLS: a plain HTTP port that answers 308 to the https address; 0: none."},

    {kProxy, "proxy.trusted", "--trusted-proxy", "", K::Proxies, 0, 0, true,
     "Addresses or CIDR blocks (comma-separated) of reverse proxies whose "
     "X-Forwarded-For/-Proto/-Host and Forwarded headers are believed."},

    {kFront, "header.timeout.seconds", "", "20", K::Number, 1, 3600, false,
     "The whole request header must arrive within this time; then 408 and close."},
    {kFront, "header.max.bytes", "", "65536", K::Number, 1024, 1 << 24, false,
     "The largest request header; over it 431 and close."},
    {kFront, "body.min.rate", "", "500", K::Number, 0, 1 << 30, false,
     "Bytes a second a request body must keep up after body.grace.seconds; 0: no "
     "minimum."},
    {kFront, "body.grace.seconds", "", "20", K::Number, 1, 3600, false,
     "The time a body may take before body.min.rate counts."},
    {kFront, "keepalive.idle.seconds", "", "30", K::Number, 1, 3600, false,
     "How long a kept-alive connection may wait for its next request."},
    {kFront, "connections.per.address", "", "64", K::Number, 1, 1000000, false,
     "Open connections of one client address (trusted proxies exempt); the newest "
     "over it is closed."},
    {kFront, "connections.max", "", "10000", K::Number, 1, 1000000, false,
     "Open connections in all."},
    {kFront, "send.stall.seconds", "", "60", K::Number, 1, 3600, false,
     "A client that takes nothing of an answer for this long is dropped."},
    {kFront, "front.threads", "", "64", K::Number, 1, 1024, false,
     "Workers that read requests and write answers at once."},

    {kMail, "smtp.host", "", "", K::Name, 0, 0, false,
     "The mail server; empty: the host sends no mail."},
    {kMail, "smtp.port", "", "", K::Number, 1, 65535, false,
     "The mail server's port; empty: 587 with STARTTLS, else 25."},
    {kMail, "smtp.starttls", "", "false", K::Switch, 0, 0, false,
     "Speak TLS to the mail server (STARTTLS)."},
    {kMail, "smtp.user", "", "", K::Text, 0, 0, false, "The mail server account, if it wants one."},
    {kMail, "smtp.password", "", "", K::Secret, 0, 0, false, "Its password."},
    {kMail, "smtp.from", "", "", K::Email, 0, 0, false,
     "The sender address; empty: smtp.user when it is an address, else noreply@localhost."},

    {kKeep, "min.free.mb", "", "1024", K::Number, 0, 999999999999LL, false,
     "Uploads and copies stop short of leaving less free disk than this (MiB)."},
    {kKeep, "tus.expiry.hours", "", "24", K::Decimal, 0, 24 * 365, false,
     "A resumable upload that has not moved for this many hours is removed (0.5 is "
     "half an hour)."},
    {kKeep, "history.max.rows", "", "1000000", K::Number, 0, kNoLimit, false,
     "The history keeps at most this many entries, the oldest go first; 0: no limit."},
    {kKeep, "history.max.days", "", "365", K::Number, 0, 100000, false,
     "History entries older than this many days go; 0: no limit."},
};

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string quoted(const std::string& value) {
    return "\"" + value + "\"";
}

std::string checkNumber(const Setting& s, const std::string& value) {
    Poco::Int64 number = 0;
    if (Poco::NumberParser::tryParse64(value, number) && number >= s.low && number <= s.high)
        return "";
    return "wants a whole number from " + std::to_string(s.low) + " to " + std::to_string(s.high) +
           ", not " + quoted(value);
}

std::string checkDecimal(const Setting& s, const std::string& value) {
    double number = 0;
    if (Poco::NumberParser::tryParseFloat(value, number) && number > s.low && number <= s.high)
        return "";
    return "wants a number above " + std::to_string(s.low) + " up to " + std::to_string(s.high) +
           ", not " + quoted(value);
}

std::string checkUrl(const std::string& value) {
    try {
        Poco::URI uri(value);
        const std::string scheme = uri.getScheme();
        if ((scheme == "http" || scheme == "https") && !uri.getHost().empty() &&
            uri.getQuery().empty() && uri.getFragment().empty())
            return "";
    } catch (const Poco::Exception&) {
    }
    return "wants an http:// or https:// address, not " + quoted(value);
}

std::string checkProxies(const std::string& value) {
    try {
        TrustedProxies().addList(value);
        return "";
    } catch (const Orvane::Exception& e) {
        return std::string("wants addresses or CIDR blocks: ") + e.what();
    }
}

std::string checkKind(const Setting& s, const std::string& value) {
    switch (s.kind) {
        case K::Number:
            return checkNumber(s, value);
        case K::Decimal:
            return checkDecimal(s, value);
        case K::Switch: {
            static const char* words[] = {"true", "false", "yes", "no", "on", "off", "1", "0"};
            for (const char* word : words) {
                if (Poco::icompare(value, word) == 0)
                    return "";
            }
            return "wants true or false, not " + quoted(value);
        }
        case K::LogLevel: {
            static const char* levels[] = {"none",   "fatal",       "critical", "error", "warning",
                                           "notice", "information", "debug",    "trace"};
            for (const char* level : levels) {
                if (value == level)
                    return "";
            }
            return "wants a level from none to trace (see --help), not " + quoted(value);
        }
        case K::Name:
            return value.find(' ') == std::string::npos
                       ? ""
                       : "wants a name without blanks, not " + quoted(value);
        case K::Url:
            return checkUrl(value);
        case K::Email:
            return Util::isEmailID(value) ? "" : "wants an e-mail address, not " + quoted(value);
        case K::Proxies:
            return checkProxies(value);
        default:
            return "";
    }
}

}  // namespace

const std::vector<Setting>& SettingsTable::all() {
    return kTable;
}

const Setting* SettingsTable::byKey(const std::string& key) {
    for (const Setting& s : kTable) {
        if (key == s.key)
            return &s;
    }
    return nullptr;
}

const Setting* SettingsTable::byFlag(const std::string& flag) {
    for (const Setting& s : kTable) {
        if (*s.flag && flag == s.flag)
            return &s;
    }
    return nullptr;
}

std::string SettingsTable::check(const Setting& setting, const std::string& value) {
    if (value.empty())
        return "";
    if (hasControl(value))
        return "holds a control character";
    return checkKind(setting, value);
}

}  // namespace Host
}  // namespace Orvane
