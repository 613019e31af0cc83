#include "webdav/WebDAVPropfind.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvane/Util.h"
#include "webdav/WebDAVBodies.h"
#include "webdav/WebDAVFolderMembers.h"
#include "webdav/WebDAVPropWriter.h"
#include "webdav/WebDAVStreamedBody.h"
#include "webdav/WebDAVXml.h"
#include "webdav/store/WebDAVLocks.h"
#include "webdav/store/WebDAVPropertyStore.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

typedef WebDAVBodies::Propfind Request;
typedef std::map<std::string, WebDAVPropertyStore::Properties> DeadByPath;

std::string baseName(const std::string& path) {
    std::string name, folder;
    Util::splitFolder(path, name, folder);
    return name;
}

std::string hrefOf(const WebDAVTarget& target, const std::string& path, bool folder) {
    return WebDAVXml::escape(WebDAVXml::encodePath(target.clientPath(path, folder)));
}

// Every member's client path is the folder's and its name: the folder's
// part, encoded, is made once. "" where the folder's own client path is
// not the share's base and the part below the share's folder.
std::string memberPrefix(const WebDAVTarget& t) {
    const std::string& folder = t.path;
    if (folder.size() + 1 < t.shareRoot.size() || t.clientPath(folder, true).empty())
        return std::string();
    return WebDAVXml::escape(
        WebDAVXml::encodePath(t.shareBase + (folder + "/").substr(t.shareRoot.size())));
}

// Each member's response, written as its turn comes; false when the
// client went away.
bool streamMembers(WebDAVStreamedBody& body, WebDAVPropWriter& writer, const WebDAVTarget& t,
                   WebDAVFolderMembers& members, const DeadByPath& dead) {
    const WebDAVPropertyStore::Properties none;
    const std::string prefix = memberPrefix(t);
    WebDAVFolderMembers::Member member;
    std::string href;
    while (members.next(member)) {
        if (!prefix.empty()) {
            href = prefix;
            href += WebDAVXml::escape(WebDAVXml::encodePath(member.name));
            if (member.info.folder)
                href += '/';
        } else {
            href = hrefOf(t, member.path, member.info.folder);
        }
        const auto d = dead.find(member.path);
        writer.append(body.text(), member.path, member.name, href, member.info,
                      d == dead.end() ? none : d->second);
        if (!body.pass())
            return false;
    }
    return true;
}

// Reads the body with `parse`, then the facts of the target, which must
// exist; false once answered (400 or 413 for the body, 404).
bool bodyAndTarget(WebDAVExchange& x, const std::function<void()>& parse, WebDAVFileInfo& info) {
    if (!x.parseBody([&] {
            parse();
            return true;
        }))
        return false;
    info = WebDAVFileInfo::of(x.target.path);
    if (!info.exists) {
        x.status(HTTPResponse::HTTP_NOT_FOUND);
        return false;
    }
    return true;
}

void propfind(WebDAVExchange& x) {
    const int depth = x.depth(-1);
    if (depth == -1) {
        x.error(HTTPResponse::HTTP_FORBIDDEN, "propfind-finite-depth");
        return;
    }
    if (depth < 0) {
        x.status(HTTPResponse::HTTP_BAD_REQUEST);
        return;
    }
    Request req;
    WebDAVFileInfo info;
    if (!bodyAndTarget(
            x, [&] { req = WebDAVBodies::propfind(x.hasBody() ? x.body() : std::string()); }, info))
        return;
    // What may fail is done before the first piece of the answer leaves,
    // while a failure can still be answered: the lock table, the members'
    // names, the dead properties and the target's own response (which finds
    // the share's used bytes). Past that, only a member's facts are read.
    WebDAVPropWriter writer(x.target, req);
    std::unique_ptr<WebDAVFolderMembers> members;
    DeadByPath dead;
    if (depth == 1 && info.folder) {
        members.reset(new WebDAVFolderMembers(x.target.path, x.target.isWriter()));
        if (!members->empty())
            dead = WebDAVPropertyStore::instance().listMembers(x.target.path);
    }
    WebDAVStreamedBody body(x, 207);
    std::string& xml = body.text();
    xml += WebDAVXml::HEAD;
    xml += "<D:multistatus xmlns:D=\"DAV:\">";
    writer.append(xml, x.target.path, baseName(x.target.path),
                  hrefOf(x.target, x.target.path, info.folder), info,
                  WebDAVPropertyStore::instance().list(x.target.path));
    if (members && !streamMembers(body, writer, x.target, *members, dead))
        return;
    xml += "</D:multistatus>";
    body.finish();
}

void proppatch(WebDAVExchange& x) {
    if (!x.mayWrite())
        return;
    std::vector<WebDAVPropertyStore::Change> changes;
    WebDAVFileInfo info;
    if (!bodyAndTarget(
            x, [&] { changes = WebDAVBodies::propertyUpdate(x.body()); }, info))
        return;
    if (!x.ifHolds() || !x.ownsLocks(WebDAVLocks::instance().covering(x.target.path)))
        return;
    bool protectedProp = false;
    for (const auto& c : changes)
        protectedProp = protectedProp || WebDAVPropWriter::isLive(c.prop);
    std::string ok, failed, dependent;
    for (const auto& c : changes) {
        const std::string e = WebDAVXml::element(c.prop, "");
        (WebDAVPropWriter::isLive(c.prop) ? failed : (protectedProp ? dependent : ok)) += e;
    }
    if (!protectedProp)
        WebDAVPropertyStore::instance().apply(x.target.path, changes);
    std::string xml =
        std::string(WebDAVXml::HEAD) + "<D:multistatus xmlns:D=\"DAV:\"><D:response>" + "<D:href>" +
        WebDAVXml::escape(WebDAVXml::encodePath(x.target.clientPath(x.target.path, info.folder))) +
        "</D:href>";
    if (!ok.empty())
        WebDAVPropWriter::appendPropstat(xml, ok, 200);
    if (!failed.empty())
        WebDAVPropWriter::appendPropstat(xml, failed, 403);
    if (!dependent.empty())
        WebDAVPropWriter::appendPropstat(xml, dependent, 424);
    x.xml(207, xml + "</D:response></D:multistatus>");
}

}  // namespace

WebDAVMethods WebDAVPropfind::methods() {
    return {{"PROPFIND", propfind}, {"PROPPATCH", proppatch}};
}

}  // namespace Host
}  // namespace Orvane
