#include "owner/OwnerMailSettings.h"

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/NumberParser.h>
#include <Poco/String.h>
#include <Poco/Util/PropertyFileConfiguration.h>
#include <sys/stat.h>

#include <map>
#include <mutex>

#include "orvane/ProfileManager.h"
#include "orvane/Util.h"
#include "owner/OwnerError.h"
#include "owner/OwnerJson.h"

namespace Orvane {
namespace Host {

using API::ProfileManager;

namespace {

std::mutex& saveMutex() {
    static std::mutex mutex;
    return mutex;
}

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            return true;
    }
    return false;
}

std::string checkedValue(const Poco::Net::HTMLForm& form, const std::string& name) {
    const std::string value = Poco::trim(form.get(name, ""));
    if (hasControl(value) || value.size() > 512)
        throw OwnerError(400, "The field " + name + " holds characters a setting cannot keep.");
    return value;
}

// As the mail sender reads the setting.
bool isTrueText(const std::string& text) {
    const std::string value = Poco::toLower(Poco::trim(text));
    return value == "1" || value == "true" || value == "yes" || value == "on";
}

// The smtp.* values of the form, checked, by property name.
std::map<std::string, std::string> formValues(const Poco::Net::HTMLForm& form) {
    std::map<std::string, std::string> values;
    values["smtp.host"] = checkedValue(form, "host");
    if (values["smtp.host"].find(' ') != std::string::npos)
        throw OwnerError(400, "A mail server name has no blanks.");
    values["smtp.port"] = checkedValue(form, "port");
    int port = 0;
    if (!values["smtp.port"].empty() &&
        (!Poco::NumberParser::tryParse(values["smtp.port"], port) || port < 1 || port > 65535)) {
        throw OwnerError(400, "The mail server port is a number from 1 to 65535.");
    }
    values["smtp.user"] = checkedValue(form, "user");
    values["smtp.from"] = checkedValue(form, "from");
    if (!values["smtp.from"].empty() && !Util::isEmailID(values["smtp.from"]))
        throw OwnerError(400, "The sender address is not an e-mail address.");
    values["smtp.starttls"] = form.get("starttls", "") == "1" ? "true" : "false";
    if (form.has("password")) {
        const std::string password = form.get("password");
        if (hasControl(password) || password.size() > 512)
            throw OwnerError(400, "The password holds characters a setting cannot keep.");
        values["smtp.password"] = password;
    }
    return values;
}

void writeProperties(const std::string& file, const std::map<std::string, std::string>& values) {
    Poco::AutoPtr<Poco::Util::PropertyFileConfiguration> conf(
        new Poco::Util::PropertyFileConfiguration());
    if (Poco::File(file).exists())
        conf->load(file);
    for (const auto& value : values)
        conf->setString(value.first, value.second);
    const std::string temporary = file + ".saving";
    {
        Poco::FileOutputStream out(temporary, std::ios::out | std::ios::trunc);
        ::chmod(temporary.c_str(), 0600);  // it may hold the mail password
        conf->save(out);
        out.close();
        if (!out.good())
            throw Poco::WriteFileException(temporary);
    }
    Poco::File(temporary).renameTo(file);
}

}  // namespace

std::string OwnerMailSettings::read() {
    return OwnerJson()
        .field("host", ProfileManager::getProperty("smtp.host"))
        .field("port", ProfileManager::getProperty("smtp.port"))
        .field("user", ProfileManager::getProperty("smtp.user"))
        .field("from", ProfileManager::getProperty("smtp.from"))
        .field("starttls", isTrueText(ProfileManager::getProperty("smtp.starttls")))
        .field("passwordSet", !ProfileManager::getProperty("smtp.password").empty())
        .str();
}

std::string OwnerMailSettings::save(const Poco::Net::HTMLForm& form) {
    const std::map<std::string, std::string> values = formValues(form);
    const std::string root = ProfileManager::getProfileRootDir();
    if (root.empty())
        throw OwnerError(503, "No profile is loaded.");
    std::lock_guard<std::mutex> lock(saveMutex());
    try {
        writeProperties(root + "/host.properties", values);
    } catch (const Poco::Exception& e) {
        throw OwnerError(500, "The settings could not be saved: " + e.displayText());
    }
    for (const auto& value : values)
        ProfileManager::setProperty(value.first, value.second);
    return read();
}

}  // namespace Host
}  // namespace Orvane
