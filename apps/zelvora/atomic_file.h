// Replacing a file so that readers see either the old bytes or the new ones,
// never a part: the bytes go to a temporary file beside the target, which is
// then renamed over it.
//
// Temporary files are named ".<name>.<pid>.tmp" after the file they become,
// so what a killed writer left behind is known by its name alone
// (isTemporaryName) and can be cleared away by the next writer that holds
// the folder's lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelvora {

// ".<name>.<pid>.tmp" beside `target`.
std::filesystem::path temporaryNameFor(const std::filesystem::path& target);

// Whether a file name has the form temporaryNameFor gives, whatever the file
// and the process it was made for.
bool isTemporaryName(std::string_view name);

// Writes `bytes` to the temporary file of `target` (temporaryNameFor), made
// anew. Returns the empty text on success, else a one-line reason; on
// failure nothing is left behind.
std::string writeTemporaryFor(const std::filesystem::path& target, std::string_view bytes);

// Writes `bytes` to `target` through its temporary file, renamed over
// whatever stands at `target`. Returns the empty text on success, else a
// one-line reason; on failure the target is unchanged and the temporary file
// is removed.
std::string writeFileAtomically(const std::filesystem::path& target, const std::string& bytes);

// The temporary files a writer left in `folder` (regular files only), by
// name, with their size in bytes in total.
struct LeftOver {
  size_t files = 0;
  uint64_t bytes = 0;
};
LeftOver findTemporaryFiles(const std::filesystem::path& folder);

// Removes them; the count of those removed, or an error text in `error`.
LeftOver removeTemporaryFiles(const std::filesystem::path& folder, std::string& error);

}  // namespace zelvora
