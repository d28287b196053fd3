// Reading whole files.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// Reads the whole file at `path` into `contents`, replacing what it held: a
// copy of what readFileBytes gives, for the small files (property lists) that
// are then parsed.
// Returns false, leaving `contents` empty, when the file is missing, is not a
// regular file, or cannot be read.
bool readWholeFile(const std::string& path, std::string& contents);

// The bytes of a whole file in a buffer of its own size (plus one spare byte),
// without first clearing the buffer: for the large files that are read on
// every lookup. The buffer belongs to the object and lives as long as it.
class FileBytes {
 public:
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  friend std::optional<FileBytes> readFileBytes(const std::string& path);
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

// The file's bytes, or none when it is missing, not a regular file, or cannot
// be read.
std::optional<FileBytes> readFileBytes(const std::string& path);

}  // namespace host
