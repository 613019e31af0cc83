// Checks the stress suites make on what a host run left behind: the SQLite
// files of a profile, temporary files in shared folders, the host's thread
// and descriptor counts, its ThreadSanitizer reports, and the well-formedness
// of the pictures, zips and XML texts it answered with. Free functions
// without state; callable from any thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace Stress {

// Every *.db below `folder` with its PRAGMA integrity_check answer ("ok"
// when sound; the error text when it would not even open).
std::map<std::string, std::string> integrityOfDatabases(const std::string& folder);

// Paths below `folder` whose names mark unfinished work: the host's
// transfers (".orvane-part-") and the plug-in's zip builds (".Orvane_Zip_").
std::vector<std::string> temporaryFilesBelow(const std::string& folder);
// Finished zips ("Orvane_Zip_*.zip") below `folder`.
std::vector<std::string> zipFilesBelow(const std::string& folder);

// The orvane-host that this process started with `profile` in its
// arguments; -1 when there is none.
pid_t hostPid(const std::string& profile);
int threadCount(pid_t pid);
int descriptorCount(pid_t pid);

// The ThreadSanitizer reports in a host's standard error: how many, and
// their SUMMARY lines, each once.
struct SanitizerReports {
    int count = 0;
    std::vector<std::string> summaries;
    std::string first;  // the first report in full
};
SanitizerReports sanitizerReports(const std::string& errors);

// A JPEG's size from its frame header; false when it is no whole JPEG
// (start and end markers, a frame header).
bool jpegSize(const std::string& data, int& width, int& height);

// The entries of a zip (the plug-in stores them), name to content; throws
// std::runtime_error for an archive that is cut short, inconsistent or
// compressed (offsets, sizes or a CRC that does not match). Folders are left out.
std::map<std::string, std::string> zipEntries(const std::string& data);

// Throws std::runtime_error for a text that is not well-formed XML.
void parseXmlOrThrow(const std::string& text);

// Reproducible bytes: a header naming the content, then a pattern.
std::string uniqueContent(const std::string& label, std::size_t size, unsigned seed);

}  // namespace Stress
