#include "app/HostApp.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Net/NetworkInterface.h>
#include <Poco/URI.h>
#include <signal.h>

#include <algorithm>
#include <iostream>

#include "app/CommandLine.h"
#include "app/Logging.h"
#include "front/QuickShare.h"
#include "http/TempFile.h"
#include "net/tls/SelfSignedCertificate.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/PoManager.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

using API::ProfileManager;

namespace {

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);  // re-read the TLS certificate
    return set;
}

void blockStopSignals() {
    sigset_t set = handledSignals();
    // Before any thread exists, so that every thread inherits the mask and
    // only waitForSignal() sees them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A client that goes away during sendfile must give EPIPE, not a signal.
    signal(SIGPIPE, SIG_IGN);
}

bool isWildcard(const std::string& address) {
    return address == "0.0.0.0" || address == "::" || address == "[::]";
}

// The addresses a wildcard bind answers on, loopback and link-local aside.
std::vector<std::string> interfaceAddresses() {
    std::vector<std::string> addresses;
    for (const auto& interface : Poco::Net::NetworkInterface::list(true, true)) {
        if (interface.isLoopback())
            continue;
        for (const auto& entry : interface.addressList()) {
            const Poco::Net::IPAddress& address =
                entry.get<Poco::Net::NetworkInterface::IP_ADDRESS>();
            if (!address.isLinkLocal()) {
                const std::string text = address.toString();
                addresses.push_back(text.substr(0, text.find('%')));  // no zone
            }
        }
    }
    return addresses;
}

}  // namespace

HostApp::HostApp(const Settings& settings)
    : m_settings(settings), m_context(m_pending), m_sync(m_pending), m_front(m_context) {}

HostApp::~HostApp() {
    stopAll();
}

int HostApp::serve() {
    blockStopSignals();
    Logging::setup(m_settings.text("log.level"));
    for (const std::string& warning : m_settings.warnings())
        Poco::Logger::get("Host").warning(warning);
    try {
        loadProfile();
        configureFront();
        m_front.bind(m_settings.text("bind"), static_cast<int>(m_settings.number("port")));
        ProfileManager::setHTTPPort(m_front.port());
        setUpTls();
        startServices();
        startPlugins();
        m_front.start(m_context.limits.threads);
    } catch (const Poco::Exception& e) {
        std::cerr << "orvane-host: " << e.displayText() << std::endl;
        stopAll();
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orvane-host: " << e.what() << std::endl;
        stopAll();
        return 1;
    }
    printAddresses();
    shareAll();
    waitForSignal();
    stopAll();
    return 0;
}

void HostApp::loadProfile() {
    const std::string& profile = m_settings.text("profile");
    try {
        ProfileManager::loadProfile(profile);
    } catch (const Orvane::Exception& e) {
        throw Orvane::Exception(std::string("cannot use the profile: ") + e.what());
    }
    m_profileLoaded = true;
    // Before anything can start a transfer: what a killed run left half-written.
    TempFile::recoverJournal(ProfileManager::getProfileRootDir() + "/transfers.journal");
    if (ProfileManager::getOwnerToken().empty()) {
        throw Orvane::Exception("cannot use the profile " + profile +
                                ": its owner.token is unreadable");
    }
    publishSettings();
    m_context.replyTimeout = std::chrono::seconds(m_settings.number("timeout.seconds"));
    m_context.wwwDir = folderFor("www", "share/orvane/www");
}

// libcorvel and the plug-in read their settings as the profile's properties:
// they get the value in force of every key, whatever its source.
void HostApp::publishSettings() {
    for (const Setting& setting : SettingsTable::all()) {
        if (setting.repeatable)
            continue;
        std::string value = m_settings.text(setting.key);
        if (std::string(setting.key) == "public.url") {
            while (!value.empty() && value.back() == '/')
                value.pop_back();
        }
        ProfileManager::setProperty(setting.key, value);
    }
    const std::string& language = m_settings.text("language");
    if (!language.empty() && m_settings.layer("language") != Settings::PROFILE_FILE)
        Orvane::PoManager().setLanguage(language);
}

void HostApp::startServices() {
    Orvane::startDeferredDispatcher(static_cast<int>(m_settings.number("workers")));
    m_sync.start();
    m_timer.start();
    m_users.start();
    m_explorer.start();
}

void HostApp::startPlugins() {
    m_plugins.reset(new PluginLoader(folderFor("plugins", "lib/orvane/plugins")));
    m_plugins->load();
    m_plugins->start(Orvane::Dispatcher());
    for (const auto& plugin : m_plugins->plugins())
        m_context.plugins.insert(plugin->info.name);
}

void HostApp::shareAll() {
    const PluginLoader::Plugin* app = m_plugins->application();
    for (const auto& path : m_settings.list("share")) {
        if (!app) {
            std::cerr << "orvane-host: no application plug-in to share " << path << std::endl;
            return;
        }
        try {
            QuickShare::Result result =
                QuickShare(m_pending, app->info.name, m_context.replyTimeout).share(path);
            std::cout << (result.existed ? "Shared already: " : "Shared: ") << path << "\n"
                      << "Share page: " << result.address << std::endl;
        } catch (const std::exception& e) {
            std::cerr << "orvane-host: cannot share " << path << ": " << e.what() << std::endl;
        }
    }
}

void HostApp::waitForSignal() {
    sigset_t set = handledSignals();
    for (;;) {
        int received = 0;
        if (sigwait(&set, &received) != 0)
            continue;
        if (received == SIGHUP) {
            reloadTls();
            continue;
        }
        Poco::Logger::get("Host").information(std::string("Stopping on ") +
                                              (received == SIGINT ? "SIGINT" : "SIGTERM"));
        return;
    }
}

void HostApp::reloadTls() {
    if (!m_tls) {
        Poco::Logger::get("Host").information("SIGHUP: no TLS certificate to re-read");
        return;
    }
    try {
        m_front.reloadTls();
        Poco::Logger::get("Host").notice("Re-read the TLS certificate, SHA-256 fingerprint " +
                                         m_tls->fingerprint());
    } catch (const std::exception& e) {
        Poco::Logger::get("Host").error(std::string("Kept the TLS certificate in use: ") +
                                        e.what());
    }
}

void HostApp::configureFront() {
    m_context.limits = FrontLimits::fromSettings(
        [this](const std::string& key) { return m_settings.number(key); });
    for (const auto& list : m_settings.list("proxy.trusted"))
        m_context.proxies.addList(list);  // checked with the settings
    // Settings that cannot work together stop the start before any port is
    // taken, so the one line names them rather than a busy port.
    const bool tlsAsked = !m_settings.text("tls.cert").empty() ||
                          !m_settings.text("tls.key").empty() || m_settings.isOn("tls.self.signed");
    if (m_settings.number("redirect.http.port") != 0 && !tlsAsked)
        throw Orvane::Exception("--redirect-http-port needs TLS on the main port");
}

void HostApp::setUpTls() {
    std::string certificate = m_settings.text("tls.cert");
    std::string key = m_settings.text("tls.key");
    bool selfSigned = m_settings.isOn("tls.self.signed");
    if (selfSigned && (!certificate.empty() || !key.empty())) {
        // The later source wins; within one source they contradict each other.
        const auto given = std::max(m_settings.layer("tls.cert"), m_settings.layer("tls.key"));
        const auto self = m_settings.layer("tls.self.signed");
        if (given == self) {
            throw Orvane::Exception(
                "tls.self.signed (--tls-self-signed) and tls.cert/tls.key "
                "(--tls-cert/--tls-key) exclude each other");
        }
        selfSigned = self > given;
    }
    if (selfSigned) {
        SelfSignedCertificate own(ProfileManager::getProfileRootDir() + "/tls");
        own.ensure(certificateNames());
        certificate = own.certificateFile();
        key = own.keyFile();
    }
    if (certificate.empty() != key.empty())
        throw Orvane::Exception("--tls-cert (tls.cert) and --tls-key (tls.key) go together");
    if (!certificate.empty()) {
        m_tls = std::make_shared<TlsContext>(certificate, key);
        m_front.useTls(m_tls);
        ProfileManager::setHTTPS(true);
    }
    bindRedirect();
}

void HostApp::bindRedirect() {
    const int port = static_cast<int>(m_settings.number("redirect.http.port"));
    if (port == 0)
        return;
    if (!m_tls)
        throw Orvane::Exception("--redirect-http-port needs TLS on the main port");
    m_front.bindRedirect(m_settings.text("bind"), port);
}

std::vector<std::string> HostApp::certificateNames() const {
    std::vector<std::string> names = {"localhost", "127.0.0.1", "::1"};
    const std::string& bind = m_settings.text("bind");
    if (!isWildcard(bind)) {
        names.push_back(bind);
    } else {
        try {
            for (const auto& address : interfaceAddresses())
                names.push_back(address);
        } catch (const Poco::Exception& e) {
            Poco::Logger::get("Host").warning("Cannot list the network interfaces: " +
                                              e.displayText());
        }
    }
    const std::string publicUrl = ProfileManager::getProperty("public.url");
    if (!publicUrl.empty()) {
        try {
            const std::string host = Poco::URI(publicUrl).getHost();
            if (!host.empty())
                names.push_back(host);
        } catch (const Poco::Exception&) {
        }
    }
    std::sort(names.begin() + 1, names.end());
    names.erase(std::unique(names.begin() + 1, names.end()), names.end());
    return names;
}

void HostApp::printAddresses() const {
    const std::string scheme = m_tls ? "https://" : "http://";
    std::string host = m_settings.text("bind");
    if (host.find(':') != std::string::npos && host[0] != '[')
        host = "[" + host + "]";
    std::cout << "Owner token: " << ProfileManager::getOwnerToken() << "\n"
              << "Listening on " << scheme << host << ":" << m_front.port() << "/" << std::endl;
    if (m_front.redirectPort()) {
        std::cout << "Redirecting http://" << host << ":" << m_front.redirectPort() << "/ to HTTPS"
                  << std::endl;
    }
    if (m_tls)
        std::cout << "TLS certificate SHA-256 fingerprint: " << m_tls->fingerprint() << std::endl;
}

void HostApp::stopAll() {
    m_front.stop();
    m_timer.stop();
    // Let queued deliveries finish before the plug-in stops, and again after
    // its shutdown, in case its own background work queued something.
    Orvane::stopDeferredDispatcher();
    if (m_plugins)
        m_plugins->shutdown();
    Orvane::stopDeferredDispatcher();
    m_plugins.reset();
    m_explorer.stop();
    m_users.stop();
    m_sync.stop();
    if (m_profileLoaded) {
        ProfileManager::unloadProfile();
        m_profileLoaded = false;
    }
}

// Chosen in the settings, else beside the program as a build tree has it
// (bin/../plugins), else where the package installs it (bin/../lib/orvane/...).
std::string HostApp::folderFor(const std::string& key, const std::string& installed) const {
    const std::string& chosen = m_settings.text(key);
    if (!chosen.empty())
        return chosen;
    const std::string beside = CommandLine::executableDir() + "/../" + key;
    if (Poco::File(beside).exists())
        return beside;
    const std::string packaged = CommandLine::executableDir() + "/../" + installed;
    return Poco::File(packaged).exists() ? packaged : beside;
}

}  // namespace Host
}  // namespace Orvane
