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
// The host's explorer path (what its pages show) to a file-system path. The
// explorer shows real paths, so this is convertPathToNative.
std::string translatePath(const std::string& path);
// name = last component, folder = everything before it (no trailing "/"):
// "/a/b/c.jpg" gives "c.jpg" and "/a/b"; "/c.jpg" gives "c.jpg" and "/"; a
// path without "/" is all name, with folder "".
void splitFolder(const std::string& path, std::string& name, std::string& folder);
// Appends "/" unless the path ends with one; "" stays "".
std::string addEndingSeparator(const std::string& path);
// Refuses relative paths, /proc, /sys, /dev, /run and, when refuseProfile,
// the profile folder with everything below it, comparing whole components.
// "." and ".." are resolved first (so "/a/../proc" is refused and
// "/proc/../home" is not), and an existing path, or the existing part of a
// path still to be made, is judged by where its symbolic links lead as well.
// allowHidden is accepted for callers and changes nothing: a hidden name is
// private below a share's folder only, which this function does not know
// (see isHiddenBelow).
bool isAllowedPath(const std::string& path, bool allowHidden, bool refuseProfile);
// Only regular files and folders (no devices, fifos, sockets); a symbolic
// link is judged by its target, a dangling one and a missing path are refused.
bool isAllowedFile(const std::string& path);
// Always true: this platform has no removable drive letters.
bool isFixedDrive(const std::string& drive);
// True when path equals base or lies below it, on whole components after "."
// and ".." are resolved: "/a/b/c" and "/a/b/" are within "/a/b", "/a/bc" is not.
bool isPathWithin(const std::string& path, const std::string& base);
// The lexical test above says nothing about where a link inside the folder
// leads. isPathWithin, and also once the symbolic links of both are resolved (the
// existing part of a path still to be made is judged by where it would
// land). A link inside base that leads out of it, a dangling link and a path
// holding a NUL byte are not within base; a link that stays inside is.
bool isPathWithinResolved(const std::string& path, const std::string& base);
// isPathWithinResolved(path, base) && isAllowedPath(path, false, true), with
// the path's links resolved once for both (the check of every share request).
bool isAllowedPathWithin(const std::string& path, const std::string& base);
// True when a "/"-separated component of path is "." or "..".
bool hasDotComponent(const std::string& path);
// True when a component of path below base starts with "." (a hidden entry:
// "/s/.git/config" or "/s/a/.env" below "/s"). Base's own components do not
// count, so a folder shared from inside a hidden one is not hidden to its
// visitors; a path that is not within base is judged on all its components.
// Lexical, after "." and ".." are resolved.
bool isHiddenBelow(const std::string& path, const std::string& base);
// True for "/" and for any folder that holds the profile folder, on the
// given and on the resolved forms: sharing such a folder, or removing or
// replacing it, would hand out or destroy the owner's credentials.
bool holdsProfile(const std::string& path);

// getFileListXML and getDirectoryListXML (below) for a visitor confined to
// root: entries that are links leading out of root (or dangling) are left
// out. An empty root confines nothing.
std::string getFileListXMLWithin(const std::string& root, const std::string& path, int start,
                                 int limit, const std::string& filter, const std::string& search,
                                 int sortBy, int sortOrder, int writable, int showHidden,
                                 bool recursive);
std::string getDirectoryListXMLWithin(const std::string& root, const std::string& directory);

// Text.
// Drops control characters (C0 and DEL); unless allowPathChars, also "/"
// and "\". Other bytes, UTF-8 included, stay.
std::string sanitizeString(const std::string& text, bool allowPathChars);
// Strips spaces, tabs, CR, LF, VT and FF at both ends.
std::string trim(const std::string& text);
// Non-empty and ASCII digits only.
bool isNumeric(const std::string& text);
// ASCII letters and spaces only, with at least one letter.
bool isAlphaSpace(const std::string& text);
// local@domain.tld: an unquoted RFC 5322 local part (no leading, trailing or
// doubled dot), two or more host-name labels, a top-level domain of two or
// more letters; no spaces, quotes or control characters anywhere.
bool isEmailID(const std::string& text);
// 1024-based, units B, KB, MB, GB, TB, with the given decimals: "1.50 KB".
// Bytes are whole ("0 B", "512 B"); negative counts read as 0; a value that
// rounds up to 1024 moves to the next unit.
std::string readableFileSize(std::int64_t bytes, int decimals);
// Escapes & < > " ' for XML text and attributes; tab, LF and CR become
// &#x9; &#xA; &#xD;. The other C0 controls cannot appear in XML 1.0 at all,
// not even as references, and are dropped; bytes that are not well-formed
// UTF-8 become U+FFFD, so that one odd file name cannot spoil a whole answer.
std::string xmlEscape(const std::string& text);
// Escapes & < > " ' for HTML text and attributes (' as &#39;, which every
// browser reads, unlike &apos; in old HTML); other bytes pass unchanged.
std::string htmlEscape(const std::string& text);
// The value of one hexadecimal digit, either case; -1 for any other character.
int hexValue(char c);

// Time. Local display form is YYYY-MM-DD HH:MM in the local zone.
std::string localNiceTimeStrFromUTCTime(const Poco::Timestamp& utc);
// Takes the sortable form YYYY-MM-DD HH:MM:SS (UTC); "" when unparsable.
std::string localTimeStrFromUTCStr(const std::string& utc);

// Network and host.
// The public base URL (host.properties public.url, else http://127.0.0.1:<port>,
// https:// when the host serves HTTPS), without a trailing "/".
std::string getPublicBaseURL();
// First private IPv4 address (10/8, 172.16/12, 192.168/16) of an interface
// that is up; isIPv6 is then false. False when there is none.
bool getPrivateIPAddress(std::string& ip, bool& isIPv6);
// 0644 for files, 0755 for folders. False when the mode cannot be set.
bool setCustomPermissions(const std::string& path, bool isFolder);

// Disk. True when writing bytesToWrite more bytes at path (a file or folder,
// or one still to be made below an existing folder) leaves at least
// min.free.mb (host.properties, default 1024) MiB available to unprivileged
// users on that file system; false when it would not, or when the file
// system cannot be asked.
bool hasFreeSpace(const std::string& path, std::uint64_t bytesToWrite);

// Explorer listings. Both throw Orvane::Exception for a path that is not a
// folder, that isAllowedPath refuses or that holds a ".." component (callers
// check paths against their shares as text). Entries that isAllowedPath or
// isAllowedFile refuse are left out; every text is escaped with xmlEscape.
//
// getFileListXML:
//   <entries><meta><parentpath>FOLDER</parentpath><isroot>0</isroot>
//   <total>N</total>[<writable>1</writable>]</meta><entry>...</entry>...</entries>
// one entry:
//   <entry><name>NAME</name><path>FULL</path><fullfilename>FULL</fullfilename>
//   <dirpath>D</dirpath><type>dir|file</type><ext>EXT|n/a</ext>
//   <size>1.50 KB</size><fullsize>BYTES</fullsize>
//   <modified>YYYY-MM-DD HH:MM</modified><writable>1</writable></entry>
// FOLDER is the listed folder in native form; N counts every matching entry
// before start and limit are applied. D is the entry itself for a folder, the
// folder holding it for a file. ext is lower-cased, "n/a" for folders and
// names without a dot; size (readableFileSize with 2 decimals) and fullsize
// are given for files only; modified is local display time. <writable> is
// there only when writable is non-zero and the entry (in meta: the listed
// folder) can be written.
// Folders come first, then files; sortBy 0 name (case folded), 1 size,
// 2 modified, 3 extension, ties by name; sortOrder 1 is descending. start
// skips that many entries, a negative limit means no limit. filter "audio"
// or "pictures" keeps only files of those extensions (folders stay, to
// browse into); any other filter keeps all. search keeps names holding the
// text, case-insensitively. Hidden names (leading ".") only with showHidden.
// recursive adds the entries of sub-folders (not through folder links, at
// most 32 levels deep).
//
// getDirectoryListXML: the sub-folders, hidden ones left out, by name:
//   <directories><directory><name>NAME</name><path>FULL</path>
//   <dirpath>FULL</dirpath></directory>...</directories>
std::string getFileListXML(const std::string& path, int start, int limit, const std::string& filter,
                           const std::string& search, int sortBy, int sortOrder, int writable,
                           int showHidden, bool recursive);
std::string getDirectoryListXML(const std::string& directory);

}  // namespace Util
}  // namespace Orvane
