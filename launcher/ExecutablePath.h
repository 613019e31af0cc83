// Finding the folder that holds the running launcher, so that every name of an
// installation resolves against it. Plain function, no shared state.
#pragma once

#include <string>

// The directory of the running executable without a trailing separator, or
// the empty string when the process's executable link cannot be read.
std::string getCurrentExecutablePath();
