// XML for the WebDAV server: parsing request bodies (namespaces on, no
// external entities), writing element fragments that declare their own
// namespaces, and the escaping and href encoding of what goes into answers.
// Pure functions, thread-safe.
#pragma once

#include <Poco/DOM/AutoPtr.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

class BadXml : public std::runtime_error {
public:
    explicit BadXml(const std::string& why) : std::runtime_error(why) {}
};

// A property name: namespace URI and local name.
struct PropName {
    std::string ns;
    std::string name;
    bool operator<(const PropName& other) const {
        return ns != other.ns ? ns < other.ns : name < other.name;
    }
    bool operator==(const PropName& other) const { return ns == other.ns && name == other.name; }
};

class WebDAVXml {
public:
    static constexpr const char* DAV = "DAV:";
    static constexpr const char* HEAD = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

    // What a WebDAV client sends fits many times over; the front refuses a
    // longer body with 413 before reading it.
    static const std::size_t kMaxBodyBytes = 64 * 1024;

    // Throws BadXml for a body that is not well-formed namespaced XML, holds
    // a DTD or nests elements more than 256 deep. The depth is counted while
    // the text streams by, so any length is safe to hand in.
    static Poco::XML::AutoPtr<Poco::XML::Document> parse(const std::string& body);
    // The element children of a node, in document order.
    static std::vector<Poco::XML::Element*> children(const Poco::XML::Node* node);
    // The first element child with this namespace and name; null if none.
    static Poco::XML::Element* child(const Poco::XML::Node* node, const std::string& ns,
                                     const std::string& name);
    static bool is(const Poco::XML::Node* node, const std::string& ns, const std::string& name);
    // The children of `node` written out again, each element declaring the
    // namespace it uses, so the text stands on its own anywhere.
    static std::string innerXml(const Poco::XML::Node* node);
    // <prefix:name xmlns:prefix="ns">inner</prefix:name>, or <name> without one.
    static std::string element(const PropName& prop, const std::string& inner);
    // The same, appended to `out`.
    static void appendElement(std::string& out, const PropName& prop, const std::string& inner);

    static std::string escape(const std::string& text);
    // Percent-encodes every byte of a path but unreserved ones and "/".
    static std::string encodePath(const std::string& path);

private:
    static void write(const Poco::XML::Node* node, std::string& out, int& counter);
};

}  // namespace Host
}  // namespace Orvane
