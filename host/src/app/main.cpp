// orvane-host: parses the command line and runs the chosen command.
#include <Poco/Exception.h>

#include <iostream>

#include "app/CommandLine.h"
#include "app/GuestCommand.h"
#include "app/HostApp.h"

int main(int argc, char** argv) {
    using namespace Orvane::Host;
    HostOptions options;
    try {
        options = CommandLine::parse(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "orvane-host: " << e.what() << "\n" << CommandLine::usage();
        return 2;
    }
    if (options.help) {
        std::cout << CommandLine::usage();
        return 0;
    }
    try {
        if (options.command == "guest")
            return GuestCommand::run(options);
        HostApp app(options);
        return app.serve();
    } catch (const Poco::Exception& e) {
        std::cerr << "orvane-host: " << e.displayText() << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "orvane-host: " << e.what() << std::endl;
    }
    return 1;
}
