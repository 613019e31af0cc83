// Replacing one installed file with new content so that the file is always
// either wholly old or wholly new. Not thread-safe: it reads the process umask
// by setting it.
#pragma once

#include <string>

// Copies `source` over `destination` through a temporary file in the
// destination's folder that is flushed to disk and renamed into place. An
// existing destination keeps its permission bits, with all execute bits set
// when it was executable for the current user and cleared otherwise; a new one
// gets the source's bits limited to owner read and write. Returns false, with
// the destination untouched, when anything fails.
bool CopyFile(const std::string& source, const std::string& destination);
