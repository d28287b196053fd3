// zelvora data: the area-code sets installed on the device.
//
//   data                                        what is installed
//   data install [--language LANG] [--carrier]  puts the complete set of LANG
//                                               (default en), with carrier names
//                                               when asked, into the device's data
//                                               folder
//   data remove                                 takes away what install put there
//
// The device's data folder is read before the bundled set, so an installed set
// answers instead of the bundled English one. Each file is written to a
// temporary file in the same folder and renamed over its place, so a lookup
// never sees half a file. A manifest in the folder names every file the tool
// wrote with the checksums of the contents it wrote; a file the manifest does
// not name, or whose contents changed since, is the user's and is never
// overwritten or removed. The manifest is written before the files, listing
// both the old and the new contents, so an interrupted install can still be
// removed. Each file written gets a prebuilt index beside it
// (area_index_files.h).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>

#include "area_index_files.h"
#include "atomic_file.h"
#include "commands.h"
#include "common/host_setup.h"
#include "data_sets.h"
#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "lookup/area_file.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

constexpr const char* kManifestName = ".zelvora-data-manifest";

// name -> checksums of contents the tool wrote under that name.
struct Manifest {
  std::string language;
  bool carriers = false;
  std::map<std::string, std::set<std::string>> files;
};

std::string checksum(std::string_view bytes) {
  // FNV-1a, 64 bits, with the length: enough to tell a changed file.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  char text[40];
  std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(hash),
                bytes.size());
  return text;
}

fs::path dataFolder() {
  return host::devicePath(kAreaCodeFolder);
}

std::optional<std::string> fileChecksum(const fs::path& path) {
  std::string bytes;
  if (!host::readWholeFile(path.string(), bytes)) return std::nullopt;
  return checksum(bytes);
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
  for (const auto& [name, sums] : manifest.files) {
    text += "file " + name;
    for (const auto& sum : sums) text += " " + sum;
    text += "\n";
  }
  return writeFileAtomically(folder / kManifestName, text);
}

// The area-code files in the folder that the manifest does not name.
std::vector<std::string> usersOwnFiles(const fs::path& folder, const Manifest& manifest) {
  std::vector<std::string> own;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(".txt") && name[0] != '.' && !manifest.files.contains(name))
      own.push_back(name);
  }
  std::sort(own.begin(), own.end());
  return own;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

int show() {
  const fs::path folder = dataFolder();
  Manifest manifest;
  const bool installed = readManifest(folder, manifest);
  if (!installed) {
    std::cout << "installed: nothing (the bundled English set answers)\n";
  } else {
    size_t changed = 0;
    size_t missing = 0;
    for (const auto& [name, sums] : manifest.files) {
      std::optional<std::string> sum = fileChecksum(folder / name);
      if (!sum)
        ++missing;
      else if (!sums.contains(*sum))
        ++changed;
    }
    std::cout << "installed: language " << manifest.language << ", carriers "
              << (manifest.carriers ? "yes" : "no") << ", " << manifest.files.size() << " files";
    if (changed) std::cout << " (" << changed << " changed since)";
    if (missing) std::cout << " (" << missing << " missing)";
    std::cout << "\n";
  }
  if (auto own = usersOwnFiles(folder, manifest); !own.empty())
    std::cout << "your own files: " << joined(own) << "\n";
  std::cout << "folder: " << folder.string() << "\n";
  return 0;
}

int install(const std::string& language, bool carriers) {
  const std::string dataDir = apps::bundledDataDir();
  const std::vector<std::string> languages = bundledLanguages(dataDir);
  if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
    return fail(2, "unknown language \"" + language + "\"; the bundle has: " + joined(languages));
  }
  AreaSetResult composed = composeAreaSet(dataDir, language, carriers);
  if (!composed.error.empty()) return fail(1, composed.error);

  const fs::path folder = dataFolder();
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder, error)) return fail(1, "cannot create " + folder.string());

  Manifest old;
  readManifest(folder, old);
  Manifest next{language, carriers, {}};
  Manifest during = old;  // old and new contents, while the files are replaced
  during.language = language;
  during.carriers = carriers;
  std::map<std::string, std::string> texts;
  std::vector<std::string> keptOwn;
  for (const auto& [code, records] : composed.set) {
    const std::string name = code + ".txt";
    const fs::path path = folder / name;
    // Without records and without a bundled file the code has no text either
    // way; an empty file is written only to hide a bundled English one.
    if (records.empty() && !fs::exists(fs::path(dataDir) / "codes" / name, error)) continue;
    if (fs::exists(path, error)) {
      auto ours = old.files.find(name);
      std::optional<std::string> sum = fileChecksum(path);
      if (ours == old.files.end() || !sum || !ours->second.contains(*sum)) {
        keptOwn.push_back(name);
        during.files.erase(name);
        continue;
      }
    }
    texts[name] = formatRecords(records);
    next.files[name].insert(checksum(texts[name]));
    during.files[name].insert(checksum(texts[name]));
  }
  if (std::string problem = writeManifest(folder, during); !problem.empty())
    return fail(1, problem);
  for (const auto& [name, text] : texts) {
    if (std::string problem = writeFileAtomically(folder / name, text); !problem.empty())
      return fail(1, problem);
  }
  // Files of the earlier install that this one does not write.
  for (const auto& [name, sums] : old.files) {
    if (next.files.contains(name)) continue;
    std::optional<std::string> sum = fileChecksum(folder / name);
    if (sum && sums.contains(*sum)) fs::remove(folder / name, error);
  }
  if (std::string problem = writeManifest(folder, next); !problem.empty()) return fail(1, problem);
  std::vector<std::string> written;
  for (const auto& [name, text] : texts) written.push_back(name);
  if (std::string problem = indexInstalledFiles(folder, written); !problem.empty())
    return fail(1, problem);
  std::cout << "installed language " << language << (carriers ? " with carriers" : "") << ": "
            << texts.size() << " files in " << folder.string() << "\n";
  if (!keptOwn.empty()) std::cout << "left your own files alone: " << joined(keptOwn) << "\n";
  return 0;
}

int remove() {
  const fs::path folder = dataFolder();
  Manifest manifest;
  if (!readManifest(folder, manifest)) {
    std::cout << "nothing installed\n";
    return 0;
  }
  size_t removed = 0;
  std::vector<std::string> kept;
  std::error_code error;
  for (const auto& [name, sums] : manifest.files) {
    std::optional<std::string> sum = fileChecksum(folder / name);
    if (!sum) continue;
    if (!sums.contains(*sum)) {
      kept.push_back(name);
      continue;
    }
    if (!fs::remove(folder / name, error) || error)
      return fail(1, "cannot remove " + (folder / name).string() + ": " + error.message());
    ++removed;
  }
  std::vector<std::string> named;
  for (const auto& [name, sums] : manifest.files) named.push_back(name);
  removeInstalledIndexes(folder, named);
  if (!fs::remove(folder / kManifestName, error) || error)
    return fail(1, "cannot remove the manifest in " + folder.string());
  std::cout << "removed " << removed << " files; the bundled English set answers again\n";
  if (!kept.empty()) std::cout << "left alone, changed since the install: " << joined(kept) << "\n";
  return 0;
}

}  // namespace

int runData(const Arguments& arguments) {
  if (arguments.empty()) return show();
  const std::string& action = arguments[0];
  if (action == "remove" && arguments.size() == 1) return remove();
  if (action != "install")
    return fail(2,
                "usage: zelvora data [install [--language LANG] "
                "[--carrier] | remove]");
  std::string language = "en";
  bool carriers = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == "--carrier") {
      carriers = true;
    } else if (arguments[i] == "--language" && i + 1 < arguments.size()) {
      language = arguments[++i];
    } else {
      return fail(2,
                  "data install takes --language LANG and --carrier, not \"" + arguments[i] + "\"");
    }
  }
  return install(language, carriers);
}

}  // namespace zelvora
