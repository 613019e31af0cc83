// A record, in the plug-in's data folder, of the zips being built or sent:
// they are written into shared folders, so a host killed meanwhile would
// leave them there for ever. The next start removes exactly the recorded
// ones that are still there. Static functions behind one lock; any thread.
#pragma once

#include <string>

namespace Orvane {
namespace Dappline {

class ZipJournal {
public:
    // Removes the zips (finished or partial) that the journal at path names
    // and that still exist, empties it and records later zips in it. Returns
    // how many files it removed.
    static int recover(const std::string& path);
    // Before a zip named zipName is written into folder; nothing without a
    // journal.
    static void record(const std::string& folder, const std::string& zipName);
    // Stops recording (plug-in shutdown).
    static void close();

private:
    static int removeRecorded(const std::string& path, bool keepExisting);
};

}  // namespace Dappline
}  // namespace Orvane
