#include "DavSupport.h"

#include <Poco/Base64Encoder.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>
#include <Poco/RecursiveDirectoryIterator.h>
#include <Poco/SAX/XMLReader.h>
#include <Poco/URI.h>
#include <stdio.h>
#include <sys/wait.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace E2E {

Command runShell(const std::string& command) {
    Command result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool haveProgram(const std::string& name) {
    return runShell("command -v " + shellQuote(name) + " >/dev/null").status == 0;
}

std::string basicAuth(const std::string& user, const std::string& password) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << user << ":" << password;
    encoder.close();
    return "Basic " + out.str();
}

int DavHost::addShare(const std::string& name, const std::string& folder, bool open,
                      long long sizeLimitKiB) {
    Poco::File(folder).createDirectories();
    std::string location;
    Poco::URI::encode(folder, "&=+;#?%", location);
    Answer added = m_host.client().post("/app/dapplinepro/addshare",
                                        "sharelocation=" + location + "&sharename=" + name +
                                            "&allowpublicaccess=" + (open ? "1" : "0") +
                                            "&sharesizelimit=" + std::to_string(sizeLimitKiB),
                                        m_host.ownerHeaders());
    const std::string id = xmlText(added.body, "shareid");
    if (id.empty())
        throw std::runtime_error("addshare failed: " + added.body);
    return std::stoi(id);
}

void DavHost::grant(int shareId, int userId, bool write) {
    HttpClient http = m_host.client();
    const std::string ids =
        "shareid=" + std::to_string(shareId) + "&userid=" + std::to_string(userId);
    Answer added = http.get("/app/dapplinepro/addusertoshare?" + ids, m_host.ownerHeaders());
    if (xmlText(added.body, "success") != "1")
        throw std::runtime_error("addusertoshare failed: " + added.body);
    Answer set =
        http.get("/app/dapplinepro/setuseraccessforshare?" + ids + "&write=" + (write ? "1" : "0"),
                 m_host.ownerHeaders());
    if (xmlText(set.body, "success") != "1")
        throw std::runtime_error("setuseraccessforshare failed: " + set.body);
}

std::string DavHost::uploads() {
    return m_host.client()
        .get("/app/dapplinepro/gethistory?offset=0&max=100&shareid=-1&filter=UL",
             m_host.ownerHeaders())
        .body;
}

std::string DavHost::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_host.port) + path;
}

Poco::XML::AutoPtr<Poco::XML::Document> parseXml(const std::string& text) {
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, true);
    try {
        return parser.parseMemory(text.data(), text.size());
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("not well-formed XML (" + e.displayText() + "): " + text);
    }
}

std::vector<std::string> xmlTexts(const std::string& text, const std::string& ns,
                                  const std::string& name) {
    auto doc = parseXml(text);
    Poco::XML::AutoPtr<Poco::XML::NodeList> nodes = doc->getElementsByTagNameNS(ns, name);
    std::vector<std::string> out;
    for (unsigned long i = 0; i < nodes->length(); ++i)
        out.push_back(nodes->item(i)->innerText());
    return out;
}

std::string davProp(const std::string& multistatus, const std::string& hrefEnd,
                    const std::string& ns, const std::string& name) {
    auto doc = parseXml(multistatus);
    Poco::XML::AutoPtr<Poco::XML::NodeList> responses =
        doc->getElementsByTagNameNS("DAV:", "response");
    for (unsigned long i = 0; i < responses->length(); ++i) {
        auto* response = static_cast<Poco::XML::Element*>(responses->item(i));
        Poco::XML::AutoPtr<Poco::XML::NodeList> href =
            response->getElementsByTagNameNS("DAV:", "href");
        if (href->length() == 0)
            continue;
        const std::string h = href->item(0)->innerText();
        if (h.size() < hrefEnd.size() ||
            h.compare(h.size() - hrefEnd.size(), hrefEnd.size(), hrefEnd) != 0)
            continue;
        Poco::XML::AutoPtr<Poco::XML::NodeList> props = response->getElementsByTagNameNS(ns, name);
        return props->length() ? props->item(0)->innerText() : std::string();
    }
    return std::string();
}

void writeNew(const std::string& path, const std::string& content) {
    Poco::File(Poco::Path(path).parent()).createDirectories();
    writeFile(path, content);
}

std::vector<std::string> filesBelow(const std::string& folder) {
    std::vector<std::string> out;
    Poco::SimpleRecursiveDirectoryIterator end;
    for (Poco::SimpleRecursiveDirectoryIterator it(folder); it != end; ++it) {
        // The host may remove a file between the listing and its stat (a
        // temporary file of a transfer that ended): it is gone, not listed.
        try {
            if (it->isFile())
                out.push_back(it->path().substr(folder.size() + 1));
        } catch (const Poco::FileNotFoundException&) {
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

long long bytesBelow(const std::string& folder) {
    long long total = 0;
    for (const auto& f : filesBelow(folder))
        total += static_cast<long long>(Poco::File(folder + "/" + f).getSize());
    return total;
}

bool hasTempFiles(const std::string& folder) {
    for (const auto& f : filesBelow(folder)) {
        if (f.find(".orvane-part-") != std::string::npos)
            return true;
    }
    return false;
}

std::string pattern(std::size_t n, unsigned seed) {
    std::string out(n, '\0');
    for (auto& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return out;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace E2E
