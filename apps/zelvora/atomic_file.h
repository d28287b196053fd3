// Replacing a file so that readers see either the old bytes or the new ones,
// never a part: the bytes go to a temporary file beside the target, which is
// then renamed over it.
#pragma once

#include <filesystem>
#include <string>

namespace zelvora {

// Writes `bytes` to `target` through ".<name>.<pid>.tmp" in the same folder.
// Returns the empty text on success, else a one-line reason; on failure the
// target is unchanged and the temporary file is removed.
std::string writeFileAtomically(const std::filesystem::path& target, const std::string& bytes);

}  // namespace zelvora
