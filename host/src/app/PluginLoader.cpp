#include "app/PluginLoader.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Path.h>

#include <algorithm>

#include "orvane/Defs.h"
#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

namespace {

typedef const char* (*TextExport)();

Poco::Logger& logger() {
    return Poco::Logger::get("PluginLoader");
}

std::string callExport(Poco::SharedLibrary& library, const std::string& name) {
    if (!library.hasSymbol(name))
        throw Orvane::Exception("it does not export " + name);
    TextExport fn = reinterpret_cast<TextExport>(library.getSymbol(name));
    const char* text = fn();
    return text ? text : "";
}

bool isLibraryName(const std::string& file) {
    const std::string suffix = ".so";
    return file.size() > suffix.size() + 3 && file.compare(0, 3, "lib") == 0 &&
           file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

PluginLoader::PluginLoader(const std::string& folder) : m_folder(folder) {}

PluginLoader::~PluginLoader() {
    destroy();
}

void PluginLoader::load() {
    Poco::File folder(m_folder);
    if (!folder.exists() || !folder.isDirectory()) {
        throw Orvane::Exception("no plug-in folder " + m_folder);
    }
    std::vector<std::string> paths;
    for (Poco::DirectoryIterator it(m_folder), end; it != end; ++it) {
        if (isLibraryName(it.name()) && it->isFile())
            paths.push_back(it.path().toString());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths)
        loadOne(path);
    if (m_plugins.empty())
        throw Orvane::Exception("no plug-in found in " + m_folder);
}

bool PluginLoader::loadOne(const std::string& path) {
    std::unique_ptr<Plugin> plugin(new Plugin());
    try {
        plugin->exports.reset(new Poco::SharedLibrary(path));
        plugin->info = readExports(*plugin->exports, path);
        m_loader.loadLibrary(path);
    } catch (const Poco::Exception& e) {
        logger().warning("Skipping " + path + ": " + e.displayText());
        if (plugin->exports && plugin->exports->isLoaded())
            plugin->exports->unload();
        return false;
    } catch (const std::exception& e) {
        logger().warning("Skipping " + path + ": " + e.what());
        if (plugin->exports && plugin->exports->isLoaded())
            plugin->exports->unload();
        return false;
    }
    const auto* manifest = m_loader.findManifest(path);
    if (manifest) {
        for (auto it = manifest->begin(); it != manifest->end() && !plugin->service; ++it) {
            if (it->canCreate())
                plugin->service = it->create();
        }
    }
    if (!plugin->service) {
        logger().warning("Skipping " + path + ": it offers no service class");
        m_loader.unloadLibrary(path);
        plugin->exports->unload();
        return false;
    }
    logger().information("Loaded " + plugin->info.name + " " + plugin->info.version + " (" +
                         plugin->info.type + ") from " + path);
    m_plugins.push_back(std::move(plugin));
    return true;
}

PluginInfo PluginLoader::readExports(Poco::SharedLibrary& library, const std::string& path) {
    PluginInfo info;
    info.libraryPath = path;
    info.name = callExport(library, "GetPluginName");
    info.description = callExport(library, "GetPluginDescription");
    info.version = callExport(library, "GetPluginVersion");
    info.type = callExport(library, "GetPluginType");
    info.url = callExport(library, "GetPluginURL");
    if (info.name.empty())
        throw Orvane::Exception("its name is empty");
    if (info.name.find_first_of("/?#%\\ ") != std::string::npos) {
        throw Orvane::Exception("its name \"" + info.name + "\" cannot be a URL segment");
    }
    return info;
}

void PluginLoader::start(System::MessageDispatcher* dispatcher) {
    for (auto& plugin : m_plugins) {
        std::string dir = Poco::Path(plugin->info.libraryPath).parent().toString();
        if (dir.empty() || dir.back() != '/')
            dir += '/';
        if (!plugin->service->init(dir)) {
            throw Orvane::Exception("plug-in " + plugin->info.name + " refused to initialise");
        }
        plugin->started = plugin->service->startup(dispatcher);
        if (!plugin->started) {
            throw Orvane::Exception("plug-in " + plugin->info.name + " did not start");
        }
    }
}

void PluginLoader::shutdown() {
    for (auto it = m_plugins.rbegin(); it != m_plugins.rend(); ++it) {
        Plugin& plugin = **it;
        if (!plugin.started)
            continue;
        plugin.started = false;
        try {
            if (!plugin.service->shutdown()) {
                logger().warning("Plug-in " + plugin.info.name + " reported a failed shutdown");
            }
        } catch (const std::exception& e) {
            logger().error("Plug-in " + plugin.info.name + " failed to shut down: " + e.what());
        }
    }
}

void PluginLoader::destroy() {
    shutdown();
    while (!m_plugins.empty()) {
        std::unique_ptr<Plugin> plugin = std::move(m_plugins.back());
        m_plugins.pop_back();
        delete plugin->service;
        m_loader.unloadLibrary(plugin->info.libraryPath);
        plugin->exports->unload();
    }
}

const PluginLoader::Plugin* PluginLoader::application() const {
    for (const auto& plugin : m_plugins) {
        if (plugin->info.type == Defs::Plugin::APPLICATION_PLUGIN)
            return plugin.get();
    }
    return nullptr;
}

}  // namespace Host
}  // namespace Orvane
