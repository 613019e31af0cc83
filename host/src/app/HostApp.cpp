#include "app/HostApp.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/NumberParser.h>
#include <signal.h>

#include <iostream>

#include "app/CommandLine.h"
#include "app/Logging.h"
#include "front/QuickShare.h"
#include "http/TempFile.h"
#include "orvane/Dispatcher.h"
#include "orvane/Exception.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

using API::ProfileManager;

namespace {

// Enough for many keep-alive connections; each one holds a thread.
const int kHttpThreads = 128;

void blockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Before any thread exists, so that every thread inherits the mask and
    // only waitForSignal() sees them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A client that goes away during sendfile must give EPIPE, not a signal.
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

HostApp::HostApp(const HostOptions& options)
    : m_options(options), m_context(m_pending), m_sync(m_pending), m_front(m_context) {}

HostApp::~HostApp() {
    stopAll();
}

int HostApp::serve() {
    blockStopSignals();
    Logging::setup(m_options.logLevel);
    try {
        loadProfile();
        m_front.bind(m_options.bind, m_options.port);
        ProfileManager::setHTTPPort(m_front.port());
        startServices();
        startPlugins();
        m_front.start(kHttpThreads);
    } catch (const Poco::Exception& e) {
        std::cerr << "orvane-host: " << e.displayText() << std::endl;
        stopAll();
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "orvane-host: " << e.what() << std::endl;
        stopAll();
        return 1;
    }
    std::cout << "Owner token: " << ProfileManager::getOwnerToken() << "\n"
              << "Listening on http://" << m_options.bind << ":" << m_front.port() << "/"
              << std::endl;
    shareAll();
    waitForSignal();
    stopAll();
    return 0;
}

void HostApp::loadProfile() {
    try {
        ProfileManager::loadProfile(m_options.profile);
    } catch (const Orvane::Exception& e) {
        throw Orvane::Exception(std::string("cannot use the profile: ") + e.what());
    }
    m_profileLoaded = true;
    // Before anything can start a transfer: what a killed run left half-written.
    TempFile::recoverJournal(ProfileManager::getProfileRootDir() + "/transfers.journal");
    if (ProfileManager::getOwnerToken().empty()) {
        throw Orvane::Exception("cannot use the profile " + m_options.profile +
                                ": its owner.token is unreadable");
    }
    if (!m_options.publicUrl.empty())
        ProfileManager::setProperty("public.url", m_options.publicUrl);
    int seconds = 30;
    const std::string timeout = ProfileManager::getProperty("timeout.seconds", "30");
    if (!Poco::NumberParser::tryParse(timeout, seconds) || seconds < 1)
        seconds = 30;
    m_context.replyTimeout = std::chrono::seconds(seconds);
    m_context.wwwDir = folderOr(m_options.wwwDir, "www");
}

void HostApp::startServices() {
    Orvane::startDeferredDispatcher(m_options.workers);
    m_sync.start();
    m_timer.start();
    m_users.start();
    m_explorer.start();
}

void HostApp::startPlugins() {
    m_plugins.reset(new PluginLoader(folderOr(m_options.pluginDir, "plugins")));
    m_plugins->load();
    m_plugins->start(Orvane::Dispatcher());
    for (const auto& plugin : m_plugins->plugins())
        m_context.plugins.insert(plugin->info.name);
}

void HostApp::shareAll() {
    const PluginLoader::Plugin* app = m_plugins->application();
    for (const auto& path : m_options.shares) {
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
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int received = 0;
    while (sigwait(&set, &received) != 0) {
    }
    Poco::Logger::get("Host").information(std::string("Stopping on ") +
                                          (received == SIGINT ? "SIGINT" : "SIGTERM"));
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

std::string HostApp::folderOr(const std::string& chosen, const std::string& beside) const {
    if (!chosen.empty())
        return chosen;
    return CommandLine::executableDir() + "/../" + beside;
}

}  // namespace Host
}  // namespace Orvane
