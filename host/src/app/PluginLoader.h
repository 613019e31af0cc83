// Finds the plug-ins in a folder, reads their five identity exports, creates
// each one's service through the Poco class loader and drives its lifecycle
// (init, startup, shutdown, destruction, unloading). Used from the main
// thread only.
#pragma once

#include <Poco/ClassLoader.h>
#include <Poco/SharedLibrary.h>

#include <memory>
#include <string>
#include <vector>

#include "orvane/Service.h"

namespace Orvane {
namespace Host {

struct PluginInfo {
    std::string name;
    std::string description;
    std::string version;
    std::string type;
    std::string url;
    std::string libraryPath;
};

class PluginLoader {
public:
    struct Plugin {
        PluginInfo info;
        System::Service* service = nullptr;
        bool started = false;
        std::unique_ptr<Poco::SharedLibrary> exports;
    };

    explicit PluginLoader(const std::string& folder);
    ~PluginLoader();

    // Loads every library of the folder that carries the exports and a
    // service class. Throws Orvane::Exception when there is none.
    void load();
    // init then startup, in load order. Throws when a plug-in does not start.
    void start(System::MessageDispatcher* dispatcher);
    // shutdown, destruction and unloading; safe to call more than once.
    void shutdown();
    void destroy();

    const std::vector<std::unique_ptr<Plugin>>& plugins() const { return m_plugins; }
    // The first plug-in of type "ApplicationPlugin", or null.
    const Plugin* application() const;

private:
    bool loadOne(const std::string& path);
    static PluginInfo readExports(Poco::SharedLibrary& library, const std::string& path);

    std::string m_folder;
    Poco::ClassLoader<System::Service> m_loader;
    std::vector<std::unique_ptr<Plugin>> m_plugins;
};

}  // namespace Host
}  // namespace Orvane
