// zelvora-index: the prebuilt indexes of a bundled data folder.
//
//   zelvora-index [--mirror SOURCE] FOLDER   makes FOLDER/codes/<cc>.idx beside
//                                            every FOLDER/codes/<cc>.txt whose
//                                            index is missing or not current
//   zelvora-index --check FOLDER             lists the texts without a current
//                                            index; exit status 1 when any
//
// With --mirror, FOLDER is first made a copy of the data folder SOURCE: a file
// whose bytes differ is copied (through a temporary file renamed over it), a
// file SOURCE no longer has is removed, and an unchanged file is left as it
// is, so its index stays current. The build makes its bundled data folder this
// way, from the source tree's data/ folder; the install rules and the Debian
// package make the indexes of the installed copy, since an index belongs only
// to the very file it was made from.
//
// Exit status 0 when done, 1 when a file could not be handled (each one named
// on standard error), 2 on a usage error.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/area_index_writer.h"
#include "lookup/normalise.h"

namespace fs = std::filesystem;

namespace {

int usage() {
  std::cerr << "usage: zelvora-index [--mirror SOURCE | --check] FOLDER\n";
  return 2;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (!fs::is_regular_file(b, error) || fs::file_size(a, error) != fs::file_size(b, error)) {
    return false;
  }
  std::string first;
  std::string second;
  return host::readWholeFile(a.string(), first) && host::readWholeFile(b.string(), second) &&
         first == second;
}

// Makes `folder` a copy of `source`, leaving the indexes in it. Gives the
// number of problems, each named on standard error.
int mirror(const fs::path& source, const fs::path& folder) {
  int problems = 0;
  std::error_code error;
  std::vector<fs::path> kept;
  for (fs::recursive_directory_iterator it(source, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    const fs::path relative = it->path().lexically_relative(source);
    const fs::path target = folder / relative;
    kept.push_back(relative);
    if (sameBytes(it->path(), target)) continue;
    const fs::path temporary = target.parent_path() / ("." + target.filename().string() + ".tmp");
    std::error_code failed;
    fs::create_directories(target.parent_path(), failed);
    if (!failed) fs::copy_file(it->path(), temporary, fs::copy_options::overwrite_existing, failed);
    if (!failed) fs::rename(temporary, target, failed);
    if (failed) {
      std::cerr << "zelvora-index: cannot copy " << it->path().string() << ": " << failed.message()
                << "\n";
      ++problems;
    }
  }
  if (error) {
    std::cerr << "zelvora-index: cannot read " << source.string() << ": " << error.message()
              << "\n";
    return problems + 1;
  }
  std::sort(kept.begin(), kept.end());
  std::vector<fs::path> gone;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    const fs::path relative = it->path().lexically_relative(folder);
    if (relative.extension() == ".idx") continue;
    if (!std::binary_search(kept.begin(), kept.end(), relative)) gone.push_back(it->path());
  }
  for (const fs::path& path : gone) {
    std::error_code failed;
    fs::remove(path, failed);
  }
  return problems;
}

// The area-code files of `folder`/codes: those named by a calling code.
std::vector<fs::path> areaCodeFiles(const fs::path& folder) {
  std::vector<fs::path> texts;
  std::error_code error;
  for (fs::directory_iterator it(folder / "codes", error), end; !error && it != end;
       it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() == ".txt" && isFileSafeCallingCode(toUtf16(path.stem().string()))) {
      texts.push_back(path);
    }
  }
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Removes the indexes whose text has gone.
void removeOrphans(const fs::path& folder) {
  std::error_code error;
  std::vector<fs::path> orphans;
  for (fs::directory_iterator it(folder / "codes", error), end; !error && it != end;
       it.increment(error)) {
    fs::path text = it->path();
    if (text.extension() != ".idx") continue;
    if (!fs::exists(text.replace_extension(".txt"), error)) orphans.push_back(it->path());
  }
  for (const fs::path& path : orphans) fs::remove(path, error);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string source;
  bool check = false;
  if (arguments.size() == 3 && arguments[0] == "--mirror") {
    source = arguments[1];
  } else if (arguments.size() == 2 && arguments[0] == "--check") {
    check = true;
  } else if (arguments.size() != 1 || arguments[0].starts_with("-")) {
    return usage();
  }
  const fs::path folder = arguments.back();
  int problems = source.empty() ? 0 : mirror(source, folder);
  const std::vector<fs::path> texts = areaCodeFiles(folder);
  if (texts.empty()) {
    std::cerr << "zelvora-index: no area-code files in " << (folder / "codes").string() << "\n";
    return 1;
  }
  for (const fs::path& text : texts) {
    if (areaIndexBesideIsCurrent(text.string())) continue;
    if (check) {
      std::cout << text.string() << ": no current index\n";
      ++problems;
    } else if (std::string problem = writeAreaIndexBeside(text.string()); !problem.empty()) {
      std::cerr << "zelvora-index: " << problem << "\n";
      ++problems;
    }
  }
  if (!check) removeOrphans(folder);
  return problems == 0 ? 0 : 1;
}
