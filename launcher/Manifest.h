// Reading the list of installed files from an update manifest, and telling
// which listed paths may be written. Plain functions, no shared state.
#pragma once

#include <string>
#include <vector>

// Appends the "Path" of every file element of the manifest at `path` to
// `list`, in document order. Elements without a path are skipped. Returns false
// when the file cannot be read or parsed, or lacks its root or "Files" element.
bool loadFileDataFromManifest(const std::string& path, std::vector<std::string>& list);

// True for a relative path none of whose components is "..", i.e. one that
// stays inside the launcher's folder.
bool isSafeManifestPath(const std::string& path);
