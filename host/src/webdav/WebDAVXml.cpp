#include "webdav/WebDAVXml.h"

#include <Poco/DOM/Attr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/NamedNodeMap.h>
#include <Poco/DOM/Node.h>
#include <Poco/SAX/SAXException.h>
#include <Poco/SAX/XMLReader.h>
#include <expat.h>

#include <memory>
#include <new>

#include "http/PercentEncoding.h"
#include "orvane/Util.h"

namespace Orvane {
namespace Host {

using Poco::XML::Node;

namespace {

const char* const XML_NS = "http://www.w3.org/XML/1998/namespace";
const char* const XMLNS_NS = "http://www.w3.org/2000/xmlns/";

// No WebDAV client nests a body more than a few levels. A DOM parser builds
// (and on an error tears down) a tree by recursion, so a body of elements
// opened thousands of times ends a request thread's stack before any check
// on the tree could run: the depth is counted while the bytes stream by,
// before a tree exists.
const int kMaxDepth = 256;

struct StreamCheck {
    XML_Parser parser = nullptr;
    int depth = 0;
    std::string refusal;

    void stop(const std::string& why) {
        if (refusal.empty())
            refusal = why;
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL onStart(void* data, const XML_Char*, const XML_Char**) {
    auto* check = static_cast<StreamCheck*>(data);
    if (++check->depth > kMaxDepth)
        check->stop("elements nested more than " + std::to_string(kMaxDepth) + " deep");
}

void XMLCALL onEnd(void* data, const XML_Char*) {
    --static_cast<StreamCheck*>(data)->depth;
}

// WebDAV bodies have no use for a DTD; refusing it keeps entity expansion
// out altogether.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<StreamCheck*>(data)->stop("document type declarations are not accepted");
}

void checkStreaming(const std::string& body) {
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr),
                                                                   XML_ParserFree);
    if (!parser)
        throw std::bad_alloc();
    StreamCheck check;
    check.parser = parser.get();
    XML_SetUserData(parser.get(), &check);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
    const XML_Status status =
        XML_Parse(parser.get(), body.data(), static_cast<int>(body.size()), XML_TRUE);
    if (!check.refusal.empty())
        throw BadXml(check.refusal);
    if (status != XML_STATUS_OK)
        throw BadXml(XML_ErrorString(XML_GetErrorCode(parser.get())));
}

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isPathChar(unsigned char c) {
    return isUnreserved(c) || c == '/';
}

}  // namespace

Poco::XML::AutoPtr<Poco::XML::Document> WebDAVXml::parse(const std::string& body) {
    checkStreaming(body);
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
    std::string out;
    appendElement(out, prop, inner);
    return out;
}

void WebDAVXml::appendElement(std::string& out, const PropName& prop, const std::string& inner) {
    const bool own = prop.ns != DAV && !prop.ns.empty();
    out += '<';
    if (prop.ns == DAV)
        out += "D:";
    else if (own)
        out += "P:";
    out += prop.name;
    if (own) {
        out += " xmlns:P=\"";
        out += escape(prop.ns);
        out += '"';
    }
    if (inner.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    out += inner;
    out += "</";
    if (prop.ns == DAV)
        out += "D:";
    else if (own)
        out += "P:";
    out += prop.name;
    out += '>';
}

std::string WebDAVXml::escape(const std::string& text) {
    return Util::xmlEscape(text);
}

std::string WebDAVXml::encodePath(const std::string& path) {
    return PercentEncoding::encode(path, isPathChar);
}

}  // namespace Host
}  // namespace Orvane
