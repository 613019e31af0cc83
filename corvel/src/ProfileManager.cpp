#include "orvane/ProfileManager.h"

#include <Poco/DigestEngine.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/HMACEngine.h>
#include <Poco/Path.h>
#include <Poco/RandomStream.h>
#include <Poco/SHA2Engine.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>
#include <Poco/URI.h>
#include <Poco/Util/PropertyFileConfiguration.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "orvane/Customization.h"
#include "orvane/Exception.h"
#include "orvane/PoManager.h"

namespace Orvane {
namespace API {
namespace {

struct ProfileState {
    std::mutex mutex;
    std::string root;
    std::string token;
    std::map<std::string, std::string> properties;
    int httpPort = 8080;
    bool https = false;
};

ProfileState& state() {
    static ProfileState s;
    return s;
}

std::string randomHex(std::size_t bytes) {
    Poco::RandomInputStream random;
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) {
        unsigned char b = static_cast<unsigned char>(random.get());
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// HMACEngine needs the block and digest sizes as constants, which this
// Poco's SHA2Engine does not declare.
class SHA256Engine : public Poco::SHA2Engine {
public:
    enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
    SHA256Engine() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

std::string hmacHex(const std::string& key, const std::string& text) {
    Poco::HMACEngine<SHA256Engine> hmac(key);
    hmac.update(text);
    return Poco::DigestEngine::digestToHex(hmac.digest());
}

void makePrivateFolder(const std::string& dir) {
    Poco::File folder(dir);
    if (!folder.exists()) {
        folder.createDirectories();
        ::chmod(dir.c_str(), 0700);
    }
    if (!folder.isDirectory()) throw Orvane::Exception("Profile path is not a folder: " + dir);
}

std::string readOrCreateToken(const std::string& root) {
    const std::string path = root + "/owner.token";
    if (Poco::File(path).exists()) {
        Poco::FileInputStream in(path);
        std::string token;
        Poco::StreamCopier::copyToString(in, token);
        token = Poco::trim(token);
        if (token.size() >= 16) return token;
    }
    const std::string token = randomHex(16);
    {
        Poco::FileOutputStream out(path, std::ios::out | std::ios::trunc);
        out << token << "\n";
    }
    ::chmod(path.c_str(), 0600);
    return token;
}

// Every key at any depth ("a", "a.b", "header.timeout.seconds"); a name
// may be both a key and the start of longer ones ("a" and "a.b").
void collectProperties(const Poco::Util::AbstractConfiguration& conf, const std::string& prefix,
                       std::map<std::string, std::string>& values) {
    Poco::Util::AbstractConfiguration::Keys keys;
    conf.keys(prefix, keys);
    for (const auto& key : keys) {
        const std::string name = prefix.empty() ? key : prefix + "." + key;
        if (conf.has(name))
            values[name] = conf.getString(name);
        collectProperties(conf, name, values);
    }
}

std::map<std::string, std::string> readProperties(const std::string& file) {
    std::map<std::string, std::string> values;
    if (!Poco::File(file).exists()) return values;
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> conf(
        new Poco::Util::PropertyFileConfiguration(file));
    collectProperties(*conf, "", values);
    return values;
}

}  // namespace

void ProfileManager::loadProfile(const std::string& rootDir) {
    if (rootDir.empty()) throw Orvane::Exception("No profile folder given");
    std::string root = Poco::Path(rootDir).absolute().toString();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    try {
        makePrivateFolder(root);
        std::string token = readOrCreateToken(root);
        auto properties = readProperties(root + "/host.properties");
        Orvane::CustomizationManager().load(root + "/customization.properties");
        std::lock_guard<std::mutex> lock(state().mutex);
        state().root = root;
        state().token = token;
        state().properties = properties;
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("Cannot use profile " + root + ": " + e.displayText());
    }
    const std::string language = getProperty("language");
    if (!language.empty()) Orvane::PoManager().setLanguage(language);
}

void ProfileManager::unloadProfile() {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().root.clear();
    state().token.clear();
    state().properties.clear();
}

std::string ProfileManager::getProfileRootDir() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().root;
}

bool ProfileManager::isProfileLoggedIn() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return !state().root.empty();
}

Data::PeerID ProfileManager::getPeerID() {
    std::string name = getProperty("owner.name");
    if (name.empty()) {
        const char* user = std::getenv("USER");
        name = user && *user ? user : "Owner";
    }
    std::string id;
    std::string token = getOwnerToken();
    if (!token.empty()) id = hmacHex(token, "peer").substr(0, 16);
    return Data::PeerID(name, id);
}

int ProfileManager::getHTTPPort() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().httpPort;
}

void ProfileManager::setHTTPPort(int port) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().httpPort = port;
}

bool ProfileManager::isHTTPS() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().https;
}

void ProfileManager::setHTTPS(bool https) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().https = https;
}

std::string ProfileManager::generateURLAuth(const std::string& userName) {
    std::string encoded;
    Poco::URI::encode(userName, "&=+#?%", encoded);
    return "oauthuser=" + encoded + "&oauthsig=" + hmacHex(getOwnerToken(), "url:" + userName);
}

bool ProfileManager::checkURLAuth(const std::string& userName, const std::string& signature) {
    const std::string token = getOwnerToken();
    if (token.empty() || signature.empty()) return false;
    return hmacHex(token, "url:" + userName) == signature;
}

bool ProfileManager::getSecurityToken(const std::string& serviceName, std::string& token) {
    const std::string owner = getOwnerToken();
    if (owner.empty()) return false;
    token = hmacHex(owner, "service:" + serviceName);
    return true;
}

std::string ProfileManager::getOwnerToken() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().token;
}

bool ProfileManager::checkOwnerToken(const std::string& token) {
    const std::string owner = getOwnerToken();
    if (owner.empty() || token.size() != owner.size()) return false;
    // Compare in constant time: the token is the owner's only credential.
    unsigned char diff = 0;
    for (std::size_t i = 0; i < owner.size(); ++i) diff |= owner[i] ^ token[i];
    return diff == 0;
}

std::string ProfileManager::getProperty(const std::string& key, const std::string& defaultValue) {
    std::lock_guard<std::mutex> lock(state().mutex);
    auto it = state().properties.find(key);
    return it == state().properties.end() ? defaultValue : it->second;
}

void ProfileManager::setProperty(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().properties[key] = value;
}

}  // namespace API
}  // namespace Orvane
