// Which entries of one folder a visitor may be shown: what isAllowedPath (the
// profile refused), isAllowedFile and, for links, isPathWithinResolved decide
// together, but with the folder and the profile resolved once, so that an
// entry that is no link costs one lstat. Pages of thousands of entries spent
// most of their time resolving the same ancestors again for each one.
// Immutable once made: any thread may ask.
#pragma once

#include <sys/stat.h>

#include <string>

namespace Orvane {
namespace Util {

class FolderScreen {
public:
    // folder: absolute. Links leading out of confineTo, or dangling, are
    // refused; an empty confineTo confines nothing.
    FolderScreen(const std::string& folder, const std::string& confineTo);

    // name: one entry of the folder, as the directory gives it. On true, st
    // describes what the entry shows (a link's target) and isLink says
    // whether it is a link.
    bool allows(const std::string& name, struct stat& st, bool& isLink) const;
    // The same for an entry read from `dirFd`, the caller's open handle of
    // this folder: the entry's lstat then looks up the name alone, not
    // every folder on the way to it again (most of a listing's time in a
    // folder of many entries).
    bool allowsAt(int dirFd, const std::string& name, struct stat& st, bool& isLink) const;

private:
    std::string pathOf(const std::string& base, const std::string& name) const;

    std::string m_folder;
    std::string m_lexical;
    std::string m_real;  // empty when the folder does not resolve
    std::string m_confineTo;
    std::string m_profileLexical;
    std::string m_profileReal;
};

}  // namespace Util
}  // namespace Orvane
