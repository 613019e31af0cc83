// Helpers of the upload and WebDAV suites: shares with guests of chosen
// rights made through the owner's operations, the upload history, outside
// programs run through the shell (curl, rclone, cadaver, litmus) with
// their output, and XML answers parsed with a real parser. Used from one
// test thread.
#pragma once

#include <Poco/DOM/AutoPtr.h>
#include <Poco/DOM/Document.h>

#include <string>
#include <vector>

#include "RunningHost.h"

namespace E2E {

struct Command {
    int status = -1;     // the exit code
    std::string output;  // standard output and error together
};

// Runs `command` with /bin/sh and waits for it.
Command runShell(const std::string& command);
// Quotes a text for the shell.
std::string shellQuote(const std::string& text);
bool haveProgram(const std::string& name);

// "Basic ..." for user:password.
std::string basicAuth(const std::string& user, const std::string& password);

class DavHost {
public:
    explicit DavHost(RunningHost& host) : m_host(host) {}

    // A share of `folder` (made when missing); returns its id.
    int addShare(const std::string& name, const std::string& folder, bool open,
                 long long sizeLimitKiB = 0);
    void grant(int shareId, int userId, bool write);
    // The upload lines of the history, as XML.
    std::string uploads();
    std::string url(const std::string& path) const;

private:
    RunningHost& m_host;
};

// Throws std::runtime_error for a text that is not well-formed XML.
Poco::XML::AutoPtr<Poco::XML::Document> parseXml(const std::string& text);
// Texts of every element with this namespace and local name, in order.
std::vector<std::string> xmlTexts(const std::string& text, const std::string& ns,
                                  const std::string& name);
// The DAV:response whose href ends with `hrefEnd`, written back as text
// content of its property `name` ("" when absent).
std::string davProp(const std::string& multistatus, const std::string& hrefEnd,
                    const std::string& ns, const std::string& name);

// writeFile, making the missing folders first.
void writeNew(const std::string& path, const std::string& content);
// Paths of the files below `folder`, relative, sorted.
std::vector<std::string> filesBelow(const std::string& folder);
// Bytes of the regular files below `folder`, hidden ones too.
long long bytesBelow(const std::string& folder);
// Whether a transfer's temporary file lies below `folder`.
bool hasTempFiles(const std::string& folder);
// n bytes of a fixed pseudo-random sequence of its seed.
std::string pattern(std::size_t n, unsigned seed);
// How often part occurs in text (overlaps counted).
int countOf(const std::string& text, const std::string& part);

}  // namespace E2E
