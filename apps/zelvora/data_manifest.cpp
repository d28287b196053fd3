#include "data_manifest.h"

#include <sstream>

#include "atomic_file.h"
#include "file_placement.h"
#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "lookup/area_file.h"

namespace fs = std::filesystem;

namespace zelvora {

fs::path dataFolder() {
  return host::devicePath(kAreaCodeFolder);
}

bool readManifest(const fs::path& folder, Manifest& manifest) {
  std::string text;
  if (!host::readWholeFile((folder / kManifestName).string(), text)) return false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "language") words >> manifest.language;
    if (kind == "carriers") {
      std::string value;
      words >> value;
      manifest.carriers = value == "yes";
    }
    if (kind == "unfinished") manifest.unfinished = true;
    if (kind == "file") {
      std::string name, sum;
      words >> name;
      // Only plain file names of this folder: a damaged manifest cannot reach
      // anything else.
      if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') continue;
      auto& sums = manifest.files[name];
      while (words >> sum) sums.insert(sum);
    }
  }
  return true;
}

std::string writeManifest(const fs::path& folder, const Manifest& manifest) {
  std::string text =
      "language " + manifest.language + "\ncarriers " + (manifest.carriers ? "yes" : "no") + "\n";
  if (manifest.unfinished) text += "unfinished\n";
  for (const auto& [name, sums] : manifest.files) {
    text += "file " + name;
    for (const auto& sum : sums) text += " " + sum;
    text += "\n";
  }
  return writeFileAtomically(folder / kManifestName, text);
}

bool writtenByTheTool(const fs::path& folder, const Manifest& manifest, const std::string& name) {
  auto sums = manifest.files.find(name);
  return sums != manifest.files.end() && sums->second.contains(fileChecksum(folder / name));
}

}  // namespace zelvora
