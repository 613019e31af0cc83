// The end of a resumable upload: the complete part goes into the target
// folder, below the folders its relativePath named, under the first free
// name (" (1)", " (2)" ... as for every upload), its bytes are added to the
// share's size, and the plug-in is told once (FINISH_UPLOAD) so that the
// history gets its line. Runs on the thread of the request that brought
// the last byte, with the upload's lock held.
#pragma once

#include <Poco/Net/HTTPServerRequest.h>

#include <string>

#include "auth/Authenticator.h"
#include "tus/TusEntry.h"

namespace Orvane {
namespace Host {

class TusCompletion {
public:
    // Puts the file in place and marks the upload done; returns its path.
    // Throws WriteFailure (the caller then ends the upload).
    static std::string place(TusEntry& entry);
    // FINISH_UPLOAD for the stored file, as the request's visitor.
    static void announce(const Poco::Net::HTTPServerRequest& request, const Identity& identity,
                         const TusRecord& record);

private:
    // For a part on another file system than the folder.
    static std::string copyInto(const std::string& part, const std::string& folder,
                                const std::string& name);
};

}  // namespace Host
}  // namespace Orvane
