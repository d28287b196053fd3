// Putting the files of an install in place, and taking them away, without
// ever replacing or removing a file someone else put there meanwhile.
//
// Each function takes the file's final name and the contents the installer
// may replace or remove there, as checksums (contentChecksum) of what it
// wrote before; a file with other contents is someone else's and stays. The
// check is made at the moment of the change, not earlier: a new name is
// taken without replacing (so a file that appeared since is never
// overwritten), and a file about to be replaced or removed is first swapped
// or moved out of its name and looked at there, and put back when it turns
// out not to be the installer's. Callers hold the folder's lock, so no other
// installer moves files meanwhile; other programs may.
//
// A swapped-out file that is put back finds its name taken again only when
// two files were put there within the same instant; it then goes to the first
// free "<name>.yours", "<name>.yours.1", ..., and the outcome says so. Nothing
// here throws but std::bad_alloc.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace zelvora {

// A short text that tells contents apart: 64-bit FNV-1a and the length.
std::string contentChecksum(std::string_view bytes);

// The checksum of the regular file at `path`, or the empty text when there
// is none or it cannot be read.
std::string fileChecksum(const std::filesystem::path& path);

struct Placement {
  enum class Outcome {
    done,      // written, or removed (or already gone)
    someones,  // another's file stands there and was left alone
    failed,    // `error` says why; nothing of another's was touched
  };
  Outcome outcome = Outcome::done;
  std::string error;
  std::string note;  // where another's file went, when it could not go back to its name
};

// Puts `bytes` at `target` (through its temporary file, atomic_file.h). A
// file standing there is replaced only when its checksum is in `replaceable`.
Placement placeFile(const std::filesystem::path& target, std::string_view bytes,
                    const std::set<std::string>& replaceable);

// Removes the file at `target` when its checksum is in `removable`.
Placement removePlacedFile(const std::filesystem::path& target,
                           const std::set<std::string>& removable);

}  // namespace zelvora
