// The host profile: one folder holding the owner token, host.properties and
// the stores of the host and its plug-ins. All calls are static and
// thread-safe; loadProfile/unloadProfile belong to the host's start and stop.
#pragma once

#include <string>

#include "orvane/PeerID.h"

namespace Orvane {
namespace API {

class ProfileManager {
public:
    // Creates the folder (0700) and owner.token (0600) when missing, reads
    // host.properties. Throws Orvane::Exception when the folder is unusable.
    static void loadProfile(const std::string& rootDir);
    static void unloadProfile();

    // Absolute, without a trailing separator; "" when no profile is loaded.
    static std::string getProfileRootDir();
    static bool isProfileLoggedIn();
    static Data::PeerID getPeerID();
    static int getHTTPPort();
    static void setHTTPPort(int port);
    static bool isHTTPS();
    static void setHTTPS(bool https);

    // Query-string text that lets the named guest act on URLs without a
    // session ("oauthuser=NAME&oauthsig=HEX"); checked by checkURLAuth.
    static std::string generateURLAuth(const std::string& userName);
    static bool checkURLAuth(const std::string& userName, const std::string& signature);

    // A stable per-service secret derived from the owner token.
    static bool getSecurityToken(const std::string& serviceName, std::string& token);
    static std::string getOwnerToken();
    static bool checkOwnerToken(const std::string& token);

    // host.properties values (public.url, language, smtp.*, timeout.seconds).
    static std::string getProperty(const std::string& key, const std::string& defaultValue = "");
    static void setProperty(const std::string& key, const std::string& value);
};

}  // namespace API
}  // namespace Orvane
