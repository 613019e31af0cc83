#include "WebDAVXml.h"

#include <Poco/DOM/Attr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/NamedNodeMap.h>
#include <Poco/DOM/Node.h>
#include <Poco/SAX/SAXException.h>
#include <Poco/SAX/XMLReader.h>

#include "orvane/Util.h"

namespace Orvane {
namespace Host {

using Poco::XML::Node;

namespace {

const char* const XML_NS = "http://www.w3.org/XML/1998/namespace";
const char* const XMLNS_NS = "http://www.w3.org/2000/xmlns/";

// No WebDAV client nests a body more than a few levels; the writer of
// fragments recurses once per level, and a 1 MiB body of nested elements
// would otherwise run a request thread out of stack and end the host.
const int kMaxDepth = 256;

void refuseDeepNesting(const Node* document) {
    int depth = 0;
    const Node* node = document;
    for (;;) {
        if (const Node* first = node->firstChild()) {
            if (++depth > kMaxDepth)
                throw BadXml("elements nested more than " + std::to_string(kMaxDepth) + " deep");
            node = first;
            continue;
        }
        while (node != document && !node->nextSibling()) {
            node = node->parentNode();
            --depth;
        }
        if (node == document)
            return;
        node = node->nextSibling();
    }
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

Poco::XML::AutoPtr<Poco::XML::Document> WebDAVXml::parse(const std::string& body) {
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, true);
    // Without the prefixes, this parser keeps the outer default namespace
    // for an element that undeclares it with xmlns="".
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACE_PREFIXES, true);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_GENERAL_ENTITIES, false);
    parser.setFeature(Poco::XML::XMLReader::FEATURE_EXTERNAL_PARAMETER_ENTITIES, false);
    Poco::XML::AutoPtr<Poco::XML::Document> doc;
    try {
        doc = parser.parseMemory(body.data(), body.size());
    } catch (const Poco::Exception& e) {
        throw BadXml(e.displayText());
    }
    refuseDeepNesting(doc);
    return doc;
}

std::vector<Poco::XML::Element*> WebDAVXml::children(const Node* node) {
    std::vector<Poco::XML::Element*> out;
    for (Node* n = node ? node->firstChild() : nullptr; n; n = n->nextSibling()) {
        if (n->nodeType() == Node::ELEMENT_NODE)
            out.push_back(static_cast<Poco::XML::Element*>(n));
    }
    return out;
}

bool WebDAVXml::is(const Node* node, const std::string& ns, const std::string& name) {
    return node && node->nodeType() == Node::ELEMENT_NODE && node->namespaceURI() == ns &&
           node->localName() == name;
}

Poco::XML::Element* WebDAVXml::child(const Node* node, const std::string& ns,
                                     const std::string& name) {
    for (Poco::XML::Element* e : children(node)) {
        if (is(e, ns, name))
            return e;
    }
    return nullptr;
}

std::string WebDAVXml::innerXml(const Node* node) {
    std::string out;
    int counter = 0;
    for (Node* n = node->firstChild(); n; n = n->nextSibling())
        write(n, out, counter);
    return out;
}

void WebDAVXml::write(const Node* node, std::string& out, int& counter) {
    const unsigned short type = node->nodeType();
    if (type == Node::TEXT_NODE || type == Node::CDATA_SECTION_NODE) {
        out += escape(node->getNodeValue());
        return;
    }
    if (type != Node::ELEMENT_NODE)
        return;  // comments and processing instructions are not kept
    std::string tag = node->localName();
    std::string declarations;
    if (!node->namespaceURI().empty()) {
        const std::string prefix = "n" + std::to_string(counter++);
        tag = prefix + ":" + tag;
        declarations += " xmlns:" + prefix + "=\"" + escape(node->namespaceURI()) + "\"";
    }
    std::string attributes;
    Poco::XML::NamedNodeMap* attrs = node->attributes();
    for (unsigned long i = 0; attrs && i < attrs->length(); ++i) {
        const Node* a = attrs->item(i);
        const std::string& qname = a->nodeName();
        if (qname == "xmlns" || qname.compare(0, 6, "xmlns:") == 0 || a->namespaceURI() == XMLNS_NS)
            continue;  // each element declares what it uses itself
        std::string name = a->localName().empty() ? a->nodeName() : a->localName();
        if (a->namespaceURI() == XML_NS) {
            name = "xml:" + name;
        } else if (!a->namespaceURI().empty()) {
            const std::string prefix = "n" + std::to_string(counter++);
            declarations += " xmlns:" + prefix + "=\"" + escape(a->namespaceURI()) + "\"";
            name = prefix + ":" + name;
        }
        attributes += " " + name + "=\"" + escape(a->getNodeValue()) + "\"";
    }
    if (attrs)
        attrs->release();
    out += "<" + tag + declarations + attributes;
    if (!node->firstChild()) {
        out += "/>";
        return;
    }
    out += ">";
    for (Node* n = node->firstChild(); n; n = n->nextSibling())
        write(n, out, counter);
    out += "</" + tag + ">";
}

std::string WebDAVXml::element(const PropName& prop, const std::string& inner) {
    std::string open, close;
    if (prop.ns == DAV) {
        open = "D:" + prop.name;
    } else if (!prop.ns.empty()) {
        open = "P:" + prop.name + " xmlns:P=\"" + escape(prop.ns) + "\"";
        close = "P:" + prop.name;
    } else {
        open = prop.name;
    }
    if (close.empty())
        close = open;
    if (inner.empty())
        return "<" + open + "/>";
    return "<" + open + ">" + inner + "</" + close + ">";
}

std::string WebDAVXml::escape(const std::string& text) {
    return Util::xmlEscape(text);
}

std::string WebDAVXml::encodePath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (isUnreserved(c) || c == '/') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace Host
}  // namespace Orvane
