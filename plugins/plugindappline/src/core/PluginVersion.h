// The plug-in's version text, in one place for the exported GetPluginVersion
// and the owner's "getstatus" answer. A constant; any thread.
#pragma once

namespace Orvane {
namespace Dappline {

constexpr const char* PLUGIN_VERSION = "13.89.0.32926";

}  // namespace Dappline
}  // namespace Orvane
