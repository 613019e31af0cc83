// orvane-host: parses the command line, weighs the settings' sources and runs
// the chosen command.
#include <Poco/Exception.h>
#include <malloc.h>

#include <cstdlib>
#include <iostream>

#include "app/CommandLine.h"
#include "app/ConfigCommand.h"
#include "app/GuestCommand.h"
#include "app/HostApp.h"
#include "app/SettingsText.h"

namespace {

using namespace Orvane::Host;

int runCommand(HostOptions& options) {
    if (options.command == "default-config")
        return ConfigCommand::defaultConfig(options.arguments);
    const Settings settings = Settings::resolve(options.configFile, options.flags);
    options.profile = settings.text("profile");
    if (options.command == "check-config")
        return ConfigCommand::check(options, settings);
    if (options.command == "token")
        return ConfigCommand::token(settings);
    if (options.command == "guest")
        return GuestCommand::run(options);
    HostApp app(settings);
    return app.serve();
}

// Each of the host's many threads would get a malloc arena of its own that
// keeps what a large page once took, and glibc raises its mapping threshold
// after each large free so that later pages stay on the heap: the memory of
// a few big folder pages then stays with the process. Two arenas and a fixed
// threshold return them; the environment's own settings win.
void tuneAllocator() {
    if (!std::getenv("MALLOC_ARENA_MAX"))
        ::mallopt(M_ARENA_MAX, 2);
    if (!std::getenv("MALLOC_MMAP_THRESHOLD_"))
        ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

}  // namespace

int main(int argc, char** argv) {
    tuneAllocator();
    HostOptions options;
    try {
        options = CommandLine::parse(argc, argv);
        if (options.help) {
            std::cout << CommandLine::usage() << SettingsText::help();
            return 0;
        }
        return runCommand(options);
    } catch (const UsageError& e) {
        std::cerr << "orvane-host: " << e.what() << "\n" << CommandLine::usage();
        return 2;
    } catch (const Poco::Exception& e) {
        std::cerr << "orvane-host: " << e.displayText() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "orvane-host: " << e.what() << std::endl;
    }
    return 1;
}
