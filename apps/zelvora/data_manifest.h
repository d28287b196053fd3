// The manifest of the area-code sets that `zelvora data install` puts into the
// device's data folder: which language it installed, and the checksums of the
// contents it wrote under each file name. A file the manifest does not name,
// or whose contents are none the tool wrote, is the user's own.
//
// The manifest is ".zelvora-data-manifest" in the data folder, plain text:
// "language L", "carriers yes|no", "unfinished" while an install or removal is
// under way, and "file NAME SUM..." for each file. Reading never throws.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace zelvora {

inline constexpr const char* kManifestName = ".zelvora-data-manifest";

struct Manifest {
  std::string language;
  bool carriers = false;
  // Written before files are put in place or taken away, and replaced once
  // all are: a manifest still marked was left by an install or removal that
  // did not finish.
  bool unfinished = false;
  // name -> checksums of contents the tool wrote under that name.
  std::map<std::string, std::set<std::string>> files;
};

// The device's data folder, where installed sets go.
std::filesystem::path dataFolder();

// Reads the manifest of `folder` into `manifest`; false when there is none
// or it cannot be read. Only plain file names of the folder are taken.
bool readManifest(const std::filesystem::path& folder, Manifest& manifest);

// Writes the manifest of `folder` in one step; "" or why it could not.
std::string writeManifest(const std::filesystem::path& folder, const Manifest& manifest);

// Whether `name` in `folder` holds contents the manifest says the tool wrote.
bool writtenByTheTool(const std::filesystem::path& folder, const Manifest& manifest,
                      const std::string& name);

}  // namespace zelvora
