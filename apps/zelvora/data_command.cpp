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
// temporary file in the same folder and put in its place in one step, so a
// lookup never sees half a file. A manifest in the folder names every file the
// tool wrote with the checksums of the contents it wrote; a file the manifest
// does not name, or whose contents changed since, is the user's and is never
// overwritten or removed, checked at the moment each file is put in place or
// taken away (file_placement.h). The manifest is written before the files,
// listing both the old and the new contents and marked as unfinished, so an
// interrupted install can still be removed. Each file the tool put in place
// gets a prebuilt index beside it (area_index_files.h).
//
// One install or removal runs at a time: each holds a lock on the data folder
// (waited for as --wait says, and announced), and a second one runs on what
// the first left. It first clears away what a killed one left behind (its
// temporary files, known by their names); until then `data` reports them.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "area_index_files.h"
#include "atomic_file.h"
#include "commands.h"
#include "common/host_setup.h"
#include "data_manifest.h"
#include "data_sets.h"
#include "file_placement.h"
#include "host/foundation/device.h"
#include "host/foundation/file_lock.h"
#include "host/foundation/files.h"
#include "lookup/area_file.h"
#include "waiting.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

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

std::string describeBytes(uint64_t bytes) {
  char text[32];
  if (bytes < 10 * 1024) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

// The lock on the data folder that one install or removal holds at a time,
// waited for as --wait says and announced.
host::LockWait dataLockWait(const fs::path& folder, const std::string& purpose) {
  return lockWait([folder] { return folder.string(); }, purpose);
}

// What an install or removal killed before it finished left in the folder:
// removed, and said, before anything else is done. Returns an error text.
std::string clearLeftOvers(const fs::path& folder) {
  std::string error;
  LeftOver removed = removeTemporaryFiles(folder, error);
  if (removed.files > 0) {
    std::cout << "removed " << removed.files << " temporary files (" << describeBytes(removed.bytes)
              << ") that an interrupted install left\n";
  }
  return error;
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
      std::string sum = fileChecksum(folder / name);
      if (sum.empty())
        ++missing;
      else if (!sums.contains(sum))
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
  std::error_code error;
  if (fs::is_directory(folder, error)) {
    // Temporary files are what a killed install left only while no install
    // runs: one that holds the folder's lock is still writing them.
    host::FileLock lock(folder.string(), host::LockWait{});
    if (lock.busy()) {
      std::cout << "an install or removal is running now\n";
    } else if (LeftOver left = findTemporaryFiles(folder); left.files > 0 || manifest.unfinished) {
      std::cout << "an install or removal was interrupted";
      if (left.files > 0) {
        std::cout << ", leaving " << left.files << " temporary files (" << describeBytes(left.bytes)
                  << ")";
      }
      std::cout << "; the next zelvora data install or remove clears it up\n";
    }
  }
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
  host::FileLock lock(folder.string(), dataLockWait(folder, "to install area codes"));
  if (!lock.held()) return fail(1, "cannot install: " + lock.error());
  if (std::string problem = clearLeftOvers(folder); !problem.empty()) return fail(1, problem);

  Manifest old;
  readManifest(folder, old);
  Manifest next{language, carriers, false, {}};
  Manifest during = old;  // old and new contents, while the files are put in place
  during.language = language;
  during.carriers = carriers;
  during.unfinished = true;
  std::map<std::string, std::string> texts;
  std::vector<std::string> keptOwn;
  for (const auto& [code, records] : composed.set) {
    const std::string name = code + ".txt";
    const fs::path path = folder / name;
    // Without records and without a bundled file the code has no text either
    // way; an empty file is written only to hide a bundled English one.
    if (records.empty() && !fs::exists(fs::path(dataDir) / "codes" / name, error)) continue;
    // A first look, so the user's files are not even written for; the one
    // that counts is taken as each file is put in place.
    if (fs::exists(path, error)) {
      auto ours = old.files.find(name);
      if (ours == old.files.end() || !ours->second.contains(fileChecksum(path))) {
        keptOwn.push_back(name);
        during.files.erase(name);
        continue;
      }
    }
    texts[name] = formatRecords(records);
    next.files[name].insert(contentChecksum(texts[name]));
    during.files[name].insert(contentChecksum(texts[name]));
  }
  if (std::string problem = writeManifest(folder, during); !problem.empty())
    return fail(1, problem);
  size_t written = 0;
  for (const auto& [name, text] : texts) {
    auto ours = old.files.find(name);
    Placement placed = placeFile(folder / name, text,
                                 ours == old.files.end() ? std::set<std::string>{} : ours->second);
    if (placed.outcome == Placement::Outcome::failed) return fail(1, placed.error);
    if (placed.outcome == Placement::Outcome::someones) {
      keptOwn.push_back(placed.note.empty() ? name : name + " (now " + placed.note + ")");
      next.files.erase(name);
      continue;
    }
    ++written;
  }
  // Files of the earlier install that this one does not write.
  for (const auto& [name, sums] : old.files) {
    if (texts.contains(name)) continue;
    Placement removed = removePlacedFile(folder / name, sums);
    if (removed.outcome == Placement::Outcome::failed) return fail(1, removed.error);
  }
  if (std::string problem = writeManifest(folder, next); !problem.empty()) return fail(1, problem);
  std::sort(keptOwn.begin(), keptOwn.end());
  std::vector<std::string> placed;
  for (const auto& [name, sums] : next.files) placed.push_back(name);
  if (std::string problem = indexInstalledFiles(folder, placed); !problem.empty())
    return fail(1, problem);
  std::cout << "installed language " << language << (carriers ? " with carriers" : "") << ": "
            << written << " files in " << folder.string() << "\n";
  if (!keptOwn.empty()) std::cout << "left your own files alone: " << joined(keptOwn) << "\n";
  return 0;
}

int remove() {
  const fs::path folder = dataFolder();
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    std::cout << "nothing installed\n";
    return 0;
  }
  host::FileLock lock(folder.string(), dataLockWait(folder, "to remove area codes"));
  if (!lock.held()) return fail(1, "cannot remove: " + lock.error());
  if (std::string problem = clearLeftOvers(folder); !problem.empty()) return fail(1, problem);
  Manifest manifest;
  if (!readManifest(folder, manifest)) {
    std::cout << "nothing installed\n";
    return 0;
  }
  manifest.unfinished = true;
  if (std::string problem = writeManifest(folder, manifest); !problem.empty())
    return fail(1, problem);
  size_t removed = 0;
  std::vector<std::string> kept;
  for (const auto& [name, sums] : manifest.files) {
    const bool present = fs::exists(folder / name, error);
    Placement taken = removePlacedFile(folder / name, sums);
    if (taken.outcome == Placement::Outcome::failed) return fail(1, taken.error);
    if (taken.outcome == Placement::Outcome::someones) {
      kept.push_back(taken.note.empty() ? name : name + " (now " + taken.note + ")");
    } else if (present) {
      ++removed;
    }
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
