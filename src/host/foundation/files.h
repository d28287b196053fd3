// Reading whole files.
#pragma once

#include <string>

namespace host {

// Reads the whole file at `path` into `contents`, replacing what it held.
// Returns false, leaving `contents` empty, when the file is missing, is not a
// regular file, or cannot be read.
bool readWholeFile(const std::string& path, std::string& contents);

}  // namespace host
