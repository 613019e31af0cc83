// Path, text and time helpers of the host. Pure functions, thread-safe.
#pragma once

#include <Poco/Timestamp.h>
#include <cstdint>
#include <string>

namespace Orvane {
namespace Util {

// Paths. On this platform the native separator is "/": repeated separators
// collapse to one and a trailing one is dropped (but "/" stays "/").
std::string convertPathToNative(const std::string& path);
// The host's explorer path (what its pages show) to a file-system path.
std::string translatePath(const std::string& path);
// name = last component, folder = everything before it (no trailing "/").
void splitFolder(const std::string& path, std::string& name, std::string& folder);
std::string addEndingSeparator(const std::string& path);
// Refuses relative paths, /proc, /sys, /dev, /run and, when refuseProfile,
// the profile folder with everything below it. allowHidden lets names that
// start with "." through.
bool isAllowedPath(const std::string& path, bool allowHidden, bool refuseProfile);
// Only regular files and folders (no devices, fifos, sockets).
bool isAllowedFile(const std::string& path);
bool isFixedDrive(const std::string& drive);
// True when path equals base or lies below it, on whole components.
bool isPathWithin(const std::string& path, const std::string& base);

// Text.
// Drops control characters; unless allowPathChars, also "/" and "\".
std::string sanitizeString(const std::string& text, bool allowPathChars);
std::string trim(const std::string& text);
bool isNumeric(const std::string& text);
bool isAlphaSpace(const std::string& text);
bool isEmailID(const std::string& text);
// 1024-based, units B, KB, MB, GB, TB, with the given decimals: "1.50 KB".
std::string readableFileSize(std::int64_t bytes, int decimals);
// Escapes & < > " ' and control characters for XML text and attributes.
std::string xmlEscape(const std::string& text);

// Time. Local display form is YYYY-MM-DD HH:MM in the local zone.
std::string localNiceTimeStrFromUTCTime(const Poco::Timestamp& utc);
// Takes the sortable form YYYY-MM-DD HH:MM:SS (UTC); "" when unparsable.
std::string localTimeStrFromUTCStr(const std::string& utc);

// Network and host.
// The public base URL (host.properties public.url, else http://127.0.0.1:<port>),
// without a trailing "/".
std::string getPublicBaseURL();
// First private IPv4 address of an interface that is up.
bool getPrivateIPAddress(std::string& ip, bool& isIPv6);
// 0644 for files, 0755 for folders.
bool setCustomPermissions(const std::string& path, bool isFolder);

// Explorer listings (formats in the README's developer section).
std::string getFileListXML(const std::string& path, int start, int limit,
                           const std::string& filter, const std::string& search, int sortBy,
                           int sortOrder, int writable, int showHidden, bool recursive);
std::string getDirectoryListXML(const std::string& directory);

}  // namespace Util
}  // namespace Orvane
