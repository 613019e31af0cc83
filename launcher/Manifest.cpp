#include "Manifest.h"

#include <tinyxml.h>

#include <sstream>

namespace {

void appendFilePaths(const TiXmlElement& files, std::vector<std::string>& list) {
    for (const TiXmlElement* file = files.FirstChildElement(); file != nullptr;
         file = file->NextSiblingElement()) {
        const std::string* path = file->Attribute(std::string("Path"));
        // An element without a usable path names no file; the rest of the
        // manifest is still good.
        if (path != nullptr && !path->empty()) {
            list.push_back(*path);
        }
    }
}

}  // namespace

bool loadFileDataFromManifest(const std::string& path, std::vector<std::string>& list) {
    TiXmlDocument document;
    if (!document.LoadFile(path)) {
        return false;
    }
    const TiXmlElement* root = document.FirstChildElement("OrvaneManifest");
    const TiXmlElement* files = root != nullptr ? root->FirstChildElement("Files") : nullptr;
    if (files == nullptr) {
        return false;
    }
    appendFilePaths(*files, list);
    return true;
}

bool isSafeManifestPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return false;
    }
    std::istringstream components(path);
    std::string component;
    while (std::getline(components, component, '/')) {
        if (component == "..") {
            return false;
        }
    }
    return true;
}
