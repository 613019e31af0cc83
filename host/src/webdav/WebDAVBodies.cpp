#include "webdav/WebDAVBodies.h"

#include "orvane/Util.h"

namespace Orvane {
namespace Host {

namespace {

std::vector<PropName> namesBelow(const Poco::XML::Element* parent) {
    std::vector<PropName> names;
    for (Poco::XML::Element* e : WebDAVXml::children(parent))
        names.push_back(PropName{e->namespaceURI(), e->localName()});
    return names;
}

}  // namespace

WebDAVBodies::Propfind WebDAVBodies::propfind(const std::string& body) {
    Propfind req;
    if (Util::trim(body).empty())
        return req;
    auto doc = WebDAVXml::parse(body);
    Poco::XML::Element* root = doc->documentElement();
    if (!WebDAVXml::is(root, WebDAVXml::DAV, "propfind"))
        throw BadXml("not a propfind");
    if (Poco::XML::Element* prop = WebDAVXml::child(root, WebDAVXml::DAV, "prop")) {
        req.mode = Propfind::NAMED;
        req.names = namesBelow(prop);
    } else if (WebDAVXml::child(root, WebDAVXml::DAV, "propname")) {
        req.mode = Propfind::PROPNAME;
    } else if (WebDAVXml::child(root, WebDAVXml::DAV, "allprop")) {
        if (Poco::XML::Element* include = WebDAVXml::child(root, WebDAVXml::DAV, "include"))
            req.names = namesBelow(include);
    } else {
        throw BadXml("propfind asks for nothing");
    }
    return req;
}

std::vector<WebDAVPropertyStore::Change> WebDAVBodies::propertyUpdate(const std::string& body) {
    auto doc = WebDAVXml::parse(body);
    Poco::XML::Element* root = doc->documentElement();
    if (!WebDAVXml::is(root, WebDAVXml::DAV, "propertyupdate"))
        throw BadXml("not a propertyupdate");
    std::vector<WebDAVPropertyStore::Change> changes;
    for (Poco::XML::Element* op : WebDAVXml::children(root)) {
        const bool remove = WebDAVXml::is(op, WebDAVXml::DAV, "remove");
        if (!remove && !WebDAVXml::is(op, WebDAVXml::DAV, "set"))
            continue;
        for (Poco::XML::Element* prop : WebDAVXml::children(op)) {
            if (!WebDAVXml::is(prop, WebDAVXml::DAV, "prop"))
                continue;
            for (Poco::XML::Element* e : WebDAVXml::children(prop)) {
                WebDAVPropertyStore::Change c;
                c.prop = PropName{e->namespaceURI(), e->localName()};
                c.remove = remove;
                c.value = remove ? std::string() : WebDAVXml::innerXml(e);
                changes.push_back(c);
            }
        }
    }
    return changes;
}

bool WebDAVBodies::lockInfo(const std::string& body, WebDAVLock& lock) {
    auto doc = WebDAVXml::parse(body);
    Poco::XML::Element* info = doc->documentElement();
    if (!WebDAVXml::is(info, WebDAVXml::DAV, "lockinfo"))
        return false;
    Poco::XML::Element* scope = WebDAVXml::child(info, WebDAVXml::DAV, "lockscope");
    Poco::XML::Element* type = WebDAVXml::child(info, WebDAVXml::DAV, "locktype");
    if (!scope || !type || !WebDAVXml::child(type, WebDAVXml::DAV, "write"))
        return false;
    if (WebDAVXml::child(scope, WebDAVXml::DAV, "exclusive"))
        lock.exclusive = true;
    else if (WebDAVXml::child(scope, WebDAVXml::DAV, "shared"))
        lock.exclusive = false;
    else
        return false;
    if (Poco::XML::Element* owner = WebDAVXml::child(info, WebDAVXml::DAV, "owner"))
        lock.owner = WebDAVXml::innerXml(owner);
    return true;
}

}  // namespace Host
}  // namespace Orvane
