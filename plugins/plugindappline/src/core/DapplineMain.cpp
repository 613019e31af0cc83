// The library's face to the host: five identity exports and the class
// manifest through which the host creates the plug-in. Stateless; the host
// may call the exports before and independently of creating the plug-in.
#include <Poco/ClassLibrary.h>

#include "core/DapplinePlugin.h"
#include "core/PluginVersion.h"
#include "orvane/Defs.h"
#include "orvane/Service.h"

// The library is built with hidden visibility; only these and Poco's entry
// points below leave it.
#define DAPPLINE_EXPORT extern "C" __attribute__((visibility("default")))

DAPPLINE_EXPORT const char* GetPluginName() {
    return "dapplinepro";
}

DAPPLINE_EXPORT const char* GetPluginDescription() {
    return "Share files and photos directly from your desktop";
}

DAPPLINE_EXPORT const char* GetPluginVersion() {
    return Orvane::Dappline::PLUGIN_VERSION;
}

DAPPLINE_EXPORT const char* GetPluginType() {
    return Orvane::Defs::Plugin::APPLICATION_PLUGIN;
}

DAPPLINE_EXPORT const char* GetPluginURL() {
    return "";
}

// Nothing to set up or tear down per load: the plug-in object does its work
// in startup and shutdown.
void pocoInitializeLibrary() {}

void pocoUninitializeLibrary() {}

POCO_BEGIN_MANIFEST(Orvane::System::Service)
POCO_EXPORT_CLASS(Orvane::Dappline::DapplinePlugin)
POCO_END_MANIFEST
