// "UserManager" on the bus: answers the picture and media requests that a
// plug-in passes on once its guest check allowed them ("getfsthumbimage",
// "getfsslideimage", "getfolder.jpg" from the host's image cache,
// "getvideocaps" and "getmetadatainfo" as a small XML, "downloadfile" as a
// file that the web front sends), each only when "GUESTACCESS"/"ALLOW" is
// 1, else 403. Other parts of the host add their
// own operations before start(). Requests arrive on bus threads, several at
// once; the service keeps no state besides its table and registration.
#pragma once

#include <boost/shared_ptr.hpp>
#include <functional>
#include <map>
#include <string>

#include "services/ServiceRegistration.h"

namespace Orvane {
namespace Host {

class UserManagerService {
public:
    typedef ServiceRegistration::MessagePtr MessagePtr;
    // Called only for requests whose "ALLOW" is 1; answers the request.
    typedef ServiceRegistration::Handler Handler;

    UserManagerService();

    // Before start(); replaces an operation of the same name.
    void addOperation(const std::string& operation, const Handler& handler);
    // Registers as "UserManager"; throws Orvane::Exception when the name is taken.
    void start();
    void stop();

    // Posts a "SYNC" answer for the request's token to "SyncProxyService".
    static void answer(const MessagePtr& request, int status, const std::string& contentType,
                       const std::string& body, const std::string& cacheControl = "");

private:
    void onMessage(MessagePtr& msg);
    void answerThumbnail(MessagePtr& msg);
    void answerSlide(MessagePtr& msg);
    void answerFolderPicture(MessagePtr& msg);
    void answerVideoCaps(MessagePtr& msg);
    void answerMetaData(MessagePtr& msg);
    void answerDownload(MessagePtr& msg);
    void answerPicture(MessagePtr& msg, const std::string& path, bool slide);

    std::map<std::string, Handler> m_operations;
    ServiceRegistration m_registration;
};

}  // namespace Host
}  // namespace Orvane
