// The prebuilt indexes (lookup/area_index_file.h) of the area-code files that
// `zelvora data install` puts into the device's data folder: "<cc>.idx" beside
// each "<cc>.txt". They make the first lookup under a calling code in a new
// process read a few hundred kilobytes instead of reading and indexing the
// text, and are used only while the text is the very version they were made
// from, so a file the user edits later is simply read again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zelvora {

// Writes the index beside each of the files `names` of `folder`, made from
// the file as it now is (waiting, about a twentieth of a second, until the
// files just written are old enough to be told from a later change), and
// removes every index in the folder whose file is gone. Returns "" or one
// line per file that could not be indexed.
std::string indexInstalledFiles(const std::filesystem::path& folder,
                                const std::vector<std::string>& names);

// Removes the index beside each of the files `names` of `folder`, and every
// index whose file is gone.
void removeInstalledIndexes(const std::filesystem::path& folder,
                            const std::vector<std::string>& names);

}  // namespace zelvora
