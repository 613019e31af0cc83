// "explorer" on the bus: carries out the file operations that a plug-in has
// checked against its shares and passed on ("createfolder", "renamefile",
// "deletefile", "copyfile", "renameormove", "fileexists"), each only when
// "GUESTACCESS"/"ALLOW" is 1 and only on the parameters the plug-in read,
// answering the waiting request with the host's result XML, else 403; and
// "START_UPLOAD" for the explorer's uploads, answered with "ALLOW" and the
// checked folder in "DIRNAME" for the upload path. Requests arrive on bus
// threads, several at once; the service keeps no state besides its
// registration.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "services/ServiceRegistration.h"

namespace Orvane {
namespace Host {

class ExplorerService {
public:
    typedef boost::shared_ptr<Data::Message> MessagePtr;

    ExplorerService();

    // Registers as "explorer"; throws Orvane::Exception when the name is taken.
    void start();
    void stop();

private:
    void onMessage(MessagePtr& msg);
    void answerOperation(MessagePtr& msg);
    void answerUpload(MessagePtr& msg);

    ServiceRegistration m_registration;
};

}  // namespace Host
}  // namespace Orvane
