#include "app/GuestCommand.h"

#include <Poco/Exception.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "orvane/Exception.h"
#include "orvane/GuestUserManager.h"
#include "orvane/ProfileManager.h"

namespace Orvane {
namespace Host {

using API::GuestUserManager;

namespace {

int fail(const std::string& message) {
    std::cerr << "orvane-host: " << message << std::endl;
    return 1;
}

}  // namespace

std::string GuestCommand::readHidden(const std::string& prompt) {
    std::cerr << prompt << std::flush;
    termios saved;
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << std::endl;
    }
    return line;
}

std::string GuestCommand::password(const HostOptions& options, const std::string& name) {
    if (options.hasPassword)
        return options.password;
    if (!::isatty(STDIN_FILENO)) {
        std::string line;
        std::getline(std::cin, line);
        return line;
    }
    const std::string first = readHidden("Password for " + name + ": ");
    const std::string second = readHidden("The same again: ");
    if (first != second)
        throw Orvane::Exception("the two passwords differ");
    return first;
}

int GuestCommand::run(const HostOptions& options) {
    try {
        API::ProfileManager::loadProfile(options.profile);
    } catch (const Poco::Exception& e) {
        return fail("cannot use the profile " + options.profile + ": " + e.displayText());
    } catch (const std::exception& e) {
        return fail("cannot use the profile " + options.profile + ": " + e.what());
    }
    const std::string& sub = options.arguments.at(0);
    try {
        if (sub == "list") {
            GuestUserManager::GuestUserList users;
            if (!GuestUserManager::guestUserCollectionGet(users)) {
                return fail("cannot read the guest users");
            }
            for (const auto& user : users)
                std::cout << user->getId() << "\t" << user->getName() << "\n";
            return 0;
        }
        const std::string& name = options.arguments.at(1);
        if (sub == "remove") {
            if (!GuestUserManager::removeGuestUser(name))
                return fail("there is no guest " + name);
            std::cout << "Removed guest " << name << std::endl;
            return 0;
        }
        const std::string secret = password(options, name);
        if (secret.empty())
            return fail("a guest needs a password that is not empty");
        if (sub == "passwd" && !GuestUserManager::isLongEnough(secret))
            return fail(GuestUserManager::passwordRule());
        if (sub == "add") {
            int id = GuestUserManager::addGuestUser(name, secret);
            if (id < 0)
                return fail("cannot add guest " + name + " (the name is taken or not valid)");
            std::cout << "Added guest " << name << " (id " << id << ")" << std::endl;
        } else {
            if (!GuestUserManager::setGuestUserPassword(name, secret)) {
                return fail("there is no guest " + name);
            }
            std::cout << "Changed the password of guest " << name << std::endl;
        }
        return 0;
    } catch (const Poco::Exception& e) {
        return fail(e.displayText());
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

}  // namespace Host
}  // namespace Orvane
