// The host explorer's file operations on shared folders. The plug-in is only
// the authority here: it checks the paths against the visitor's shares, marks
// the same message with "GUESTACCESS"/"ALLOW" and hands it to the explorer,
// which does the work and answers. It changes no file itself. The one answer
// of its own is the breadcrumb list of "splitfilepaths". Handlers run on the
// deferred workers and keep no state between calls.
#include <Poco/Net/HTMLForm.h>
#include <Poco/StringTokenizer.h>
#include <Poco/URI.h>

#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/Util.h"
#include "orvane/storage/SpaceFields.h"
#include "store/DapplineDB.h"

namespace Orvane {
namespace Dappline {

namespace {

using namespace Defs;

std::string uriDecoded(const std::string& text) {
    std::string out;
    Poco::URI::decode(text, out);
    return out;
}

// Whether the visitor may reach a path (and write there when asked for),
// and through which share.
struct Grant {
    bool allowed = false;
    std::string location;  // the share's folder
    std::int64_t sizeLimit = 0;
};

Grant grantOf(DapplinePlugin& plugin, MessagePtr& msg, const std::string& path, bool needWrite) {
    Grant g;
    bool write = false;
    g.allowed = plugin.doesGuestHaveAccess(msg, path, write, g.location, false, g.sizeLimit) &&
                (write || !needWrite);
    return g;
}

bool grants(DapplinePlugin& plugin, MessagePtr& msg, const std::string& path, bool needWrite) {
    return grantOf(plugin, msg, path, needWrite).allowed;
}

// A share's own folder is the owner's: a visitor may change what is in it,
// never remove, rename or move the folder itself, also not through another
// share that holds it.
bool isShareFolder(DapplinePlugin& plugin, const std::string& path) {
    const std::string native = Util::convertPathToNative(path);
    for (const auto& share : plugin.database()->getAllShares()) {
        if (share && Util::convertPathToNative(share->shareLocation) == native)
            return true;
    }
    return false;
}

// The share whose room a write into it takes, for the explorer's writers.
void nameShare(MessagePtr& msg, const Grant& g) {
    Data::VariantRow& mark = (*msg)[GuestAccess::MS_GUESTACCESS];
    mark[Space::S_SHARE_ROOT] = Util::convertPathToNative(g.location);
    mark[Space::S_SIZE_LIMIT] = static_cast<long long>(g.sizeLimit);
}

// A new name for a rename must stay in the folder of the checked path.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string siblingPath(const std::string& path, const std::string& name) {
    std::string ignored, folder;
    Util::splitFolder(path, ignored, folder);
    return Util::addEndingSeparator(folder) + name;
}

// The explorer reads the parameters from the same message, so only the mark
// and the target change.
void markForExplorer(MessagePtr& msg, bool allowed) {
    (*msg)[GuestAccess::MS_GUESTACCESS][GuestAccess::S_ALLOW] = allowed ? 1 : 0;
    msg->target = Service::EXPLORER;
}

// What follows base in path: one separating "/" is skipped when something
// comes after it; a base ending in "/" leaves the rest starting right away.
std::string restAfterBase(const std::string& path, const std::string& base) {
    if (path.size() <= base.size())
        return std::string();
    const std::size_t next = base.size();
    if (path[next] == '/' && path.size() > next + 1)
        return path.substr(next + 1);
    return path.substr(next);
}

std::string pathEntry(const std::string& value) {
    return "<path><value>" + Util::xmlEscape(value) + "</value></path>";
}

}  // namespace

void DapplinePlugin::onCreateFolder(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    // A missing parameter throws to the operation table; nothing is passed on.
    const std::string path = form.get("path");
    markForExplorer(msg, grants(*this, msg, path, true));
    post(msg);
}

void DapplinePlugin::onRenameFile(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    const std::string path = Util::translatePath(form.get("path"));
    const std::string name = form.get("name", "");
    // The explorer renames to the folder of path plus name; that target is
    // checked too, so that nothing is renamed out of its share.
    const bool allowed = grants(*this, msg, path, true) && !isShareFolder(*this, path) &&
                         isPlainName(name) && grants(*this, msg, siblingPath(path, name), true);
    markForExplorer(msg, allowed);
    post(msg);
}

void DapplinePlugin::onDeleteFile(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    const std::string path = Util::translatePath(form.get("path"));
    const Grant g = grantOf(*this, msg, path, true);
    const bool allowed = g.allowed && !isShareFolder(*this, path);
    markForExplorer(msg, allowed);
    if (allowed)
        nameShare(msg, g);
    post(msg);
}

void DapplinePlugin::onCopyFile(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    const std::string copyTo = Util::translatePath(form.get("copyto"));
    const std::string path = Util::translatePath(form.get("path"));
    // Copying out of a read-only share would hand its files to a writable one.
    const Grant target = grantOf(*this, msg, copyTo, true);
    const bool allowed = target.allowed && grants(*this, msg, path, true);
    markForExplorer(msg, allowed);
    if (allowed)
        nameShare(msg, target);
    post(msg);
}

void DapplinePlugin::onRenameOrMove(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    const std::string from = form.get("fromname");
    const std::string to = form.get("toname");
    const Grant source = grantOf(*this, msg, from, true);
    const Grant target =
        source.allowed && !isShareFolder(*this, from) ? grantOf(*this, msg, to, true) : Grant();
    markForExplorer(msg, target.allowed);
    if (target.allowed) {
        // A move into another share takes room there and gives it back here.
        nameShare(msg, target);
        (*msg)[GuestAccess::MS_GUESTACCESS][Space::S_SOURCE_SHARE_ROOT] =
            Util::convertPathToNative(source.location);
    }
    post(msg);
}

void DapplinePlugin::onFileExists(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadBodyForm(msg, form);
    const std::string file = uriDecoded(form.get("file"));
    // The explorer never lists hidden entries, so it must not confirm them
    // either: a reader could otherwise probe for ".env" or ".git".
    const Grant grant = grantOf(*this, msg, file, false);
    markForExplorer(msg, grant.allowed &&
                             !Util::isHiddenBelow(Util::convertPathToNative(file), grant.location));
    post(msg);
}

void DapplinePlugin::onSplitFilePaths(const void*, MessagePtr& msg) {
    Poco::Net::HTMLForm form;
    loadQueryForm(msg, form);
    const std::string path = uriDecoded(form.get("path"));
    if (path.empty()) {
        sendSyncResponse(msg, "<paths></paths>");
        return;
    }
    bool write = false;
    std::string shareLocation;
    std::int64_t sizeLimit = 0;
    // Refusals stay unanswered; the host turns that into 403.
    if (!doesGuestHaveAccess(msg, path, write, shareLocation, false, sizeLimit))
        return;
    const std::string base = msg->authRole == Data::AuthKey::ROLE_ANONYMOUS
                                 ? uriDecoded(form.get("basepath"))
                                 : shareLocation;
    // The rest is cut from the text, so the text must start with the base as
    // well as lie within it on whole components.
    if (path.compare(0, base.size(), base) != 0 || !Util::isPathWithin(path, base))
        return;
    std::string baseName, ignored;
    Util::splitFolder(base, baseName, ignored);
    std::string xml = "<paths>" + pathEntry(baseName);
    const std::string rest = restAfterBase(path, base);
    if (!rest.empty()) {
        Poco::StringTokenizer pieces(rest, "/");
        for (const std::string& piece : pieces)
            xml += pathEntry(piece);
    }
    sendSyncResponse(msg, xml + "</paths>");
}

}  // namespace Dappline
}  // namespace Orvane
