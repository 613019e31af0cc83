// `orvane-host serve`: loads the profile, hands the settings in force to
// every reader of the profile's properties, starts the bus services, the
// plug-ins and the web front, quick-shares the share folders, then waits
// for SIGINT or SIGTERM (SIGHUP re-reads the TLS certificate) and takes
// everything down in reverse order. Runs on the main thread; serve()
// returns the process exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/PluginLoader.h"
#include "app/Settings.h"
#include "bridge/PendingReplies.h"
#include "bridge/SyncProxyService.h"
#include "front/FrontContext.h"
#include "front/HttpFront.h"
#include "net/tls/TlsContext.h"
#include "services/ExplorerService.h"
#include "services/TimerService.h"
#include "services/UserManagerService.h"

namespace Orvane {
namespace Host {

class HostApp {
public:
    explicit HostApp(const Settings& settings);
    ~HostApp();

    int serve();

private:
    void loadProfile();
    void publishSettings();
    void startServices();
    void startPlugins();
    void shareAll();
    void configureFront();
    void setUpTls();
    void bindRedirect();
    std::vector<std::string> certificateNames() const;
    void printAddresses() const;
    void waitForSignal();
    void reloadTls();
    void stopAll();
    std::string folderFor(const std::string& key, const std::string& installed) const;

    Settings m_settings;
    PendingReplies m_pending;
    FrontContext m_context;
    SyncProxyService m_sync;
    TimerService m_timer;
    UserManagerService m_users;
    ExplorerService m_explorer;
    std::shared_ptr<TlsContext> m_tls;
    HttpFront m_front;
    std::unique_ptr<PluginLoader> m_plugins;
    bool m_profileLoaded = false;
};

}  // namespace Host
}  // namespace Orvane
