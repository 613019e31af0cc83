// The update launcher: runs at every (re)start of the host application and
// finishes an update prepared beside the installed files, then reports through
// its exit status whether the installation is usable.

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "CopyFile.h"
#include "ExecutablePath.h"
#include "Manifest.h"

namespace {

const char kMarker[] = "doupdate";
const char kManifest[] = "manifest.xml";
const char kNewManifest[] = "manifest.xml.rep";
const char kReplacementSuffix[] = ".rep";
const char kReinstall[] = "Unable to launch application. Please reinstall application!";

// Each line is flushed so that a log of an interrupted run shows how far it got.
void say(const std::string& line) {
    std::cout << line << std::endl;
}

int giveUp(const std::string& reason) {
    say(reason);
    say(kReinstall);
    return 1;
}

bool canRead(const std::string& path) {
    return std::ifstream(path).is_open();
}

void enterOwnFolder() {
    const std::string folder = getCurrentExecutablePath();
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        // Names then resolve against the folder we were started in.
    }
}

bool loadPaths(std::vector<std::string>& paths) {
    if (loadFileDataFromManifest(kNewManifest, paths)) {
        return true;
    }
    say("Failed loading manifest.xml.rep, trying manifest.xml");
    return loadFileDataFromManifest(kManifest, paths);
}

// Returns false, having said why, when the run has to stop.
bool replaceOne(const std::string& path) {
    if (!isSafeManifestPath(path)) {
        say("Skipping unsafe path " + path);
        return true;
    }
    const std::string replacement = path + kReplacementSuffix;
    if (!canRead(replacement)) {
        return true;
    }
    say("Updating " + replacement);
    if (!CopyFile(replacement, path)) {
        giveUp("Failed Copying " + replacement);
        return false;
    }
    say("Deleting " + replacement);
    if (::unlink(replacement.c_str()) != 0) {
        giveUp("Failed Deleting " + replacement);
        return false;
    }
    return true;
}

// The new manifest is only removed once it is in place; without it the
// installation could not tell which files the next update has to touch.
void finish() {
    ::unlink(kMarker);
    if (CopyFile(kNewManifest, kManifest)) {
        ::unlink(kNewManifest);
    }
}

int applyUpdate() {
    std::vector<std::string> paths;
    if (!loadPaths(paths)) {
        return giveUp("Failed loading manifest.xml");
    }
    for (const std::string& path : paths) {
        if (!replaceOne(path)) {
            return 1;
        }
    }
    finish();
    return 0;
}

}  // namespace

int main() {
    enterOwnFolder();
    say("(Re)Starting Orvane..");
    std::this_thread::sleep_for(std::chrono::seconds(5));
    if (!canRead(kMarker)) {
        return 0;
    }
    return applyUpdate();
}
