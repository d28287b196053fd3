#include "atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <system_error>

namespace fs = std::filesystem;

namespace zelvora {
namespace {

constexpr std::string_view kTemporarySuffix = ".tmp";

// Calls `each(path, size)` for every temporary file in `folder`.
void forEachTemporaryFile(const fs::path& folder,
                          const std::function<void(const fs::path&, uint64_t)>& each) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!isTemporaryName(it->path().filename().string())) continue;
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    each(it->path(), static_cast<uint64_t>(info.st_size));
  }
}

}  // namespace

fs::path temporaryNameFor(const fs::path& target) {
  return target.parent_path() /
         ("." + target.filename().string() + "." + std::to_string(::getpid()) + ".tmp");
}

bool isTemporaryName(std::string_view name) {
  if (!name.starts_with('.') || !name.ends_with(kTemporarySuffix)) return false;
  name.remove_suffix(kTemporarySuffix.size());
  const size_t dot = name.rfind('.');
  // A file's name (at least one character) between the leading dot and the
  // process number.
  if (dot == std::string_view::npos || dot < 2 || dot + 1 == name.size()) return false;
  return name.substr(dot + 1).find_first_not_of("0123456789") == std::string_view::npos;
}

std::string writeTemporaryFor(const fs::path& target, std::string_view bytes) {
  const fs::path temporary = temporaryNameFor(target);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    out.close();
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot write " + temporary.string();
  }
  return {};
}

std::string writeFileAtomically(const fs::path& target, const std::string& bytes) {
  if (std::string problem = writeTemporaryFor(target, bytes); !problem.empty()) return problem;
  const fs::path temporary = temporaryNameFor(target);
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot write " + target.string() + ": " + error.message();
  }
  return {};
}

LeftOver findTemporaryFiles(const fs::path& folder) {
  LeftOver found;
  forEachTemporaryFile(folder, [&found](const fs::path&, uint64_t size) {
    ++found.files;
    found.bytes += size;
  });
  return found;
}

LeftOver removeTemporaryFiles(const fs::path& folder, std::string& error) {
  LeftOver removed;
  forEachTemporaryFile(folder, [&](const fs::path& path, uint64_t size) {
    if (!error.empty()) return;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      error = "cannot remove " + path.string() + ": " + std::generic_category().message(errno);
      return;
    }
    ++removed.files;
    removed.bytes += size;
  });
  return removed;
}

}  // namespace zelvora
