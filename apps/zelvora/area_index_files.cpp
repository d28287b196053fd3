#include "area_index_files.h"

#include <system_error>

#include "lookup/area_index_file.h"
#include "lookup/area_index_writer.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

void removeOrphanIndexes(const fs::path& folder) {
  std::error_code error;
  std::vector<fs::path> orphans;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    fs::path text = it->path();
    if (text.extension() != ".idx" || text.filename().string().starts_with(".")) continue;
    std::error_code missing;
    if (!fs::exists(text.replace_extension(".txt"), missing) && !missing) {
      orphans.push_back(it->path());
    }
  }
  for (const fs::path& index : orphans) fs::remove(index, error);
}

}  // namespace

std::string indexInstalledFiles(const fs::path& folder, const std::vector<std::string>& names) {
  std::string problems;
  for (const std::string& name : names) {
    if (std::string problem = writeAreaIndexBeside((folder / name).string()); !problem.empty()) {
      problems += (problems.empty() ? "" : "\n") + problem + " (lookups read the file instead)";
    }
  }
  removeOrphanIndexes(folder);
  return problems;
}

void removeInstalledIndexes(const fs::path& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) removeAreaIndexBeside((folder / name).string());
  removeOrphanIndexes(folder);
}

}  // namespace zelvora
