#include "file_placement.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "atomic_file.h"
#include "host/foundation/file_move.h"
#include "host/foundation/files.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

using Outcome = Placement::Outcome;

Placement failure(const std::string& what, int error) {
  return {Outcome::failed, what + ": " + std::strerror(error), {}};
}

bool unsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// Puts another's file, now at `aside`, back at `target`; when a file has
// taken `target` meanwhile, at the first free "<target>.yours",
// "<target>.yours.1", ... instead, never under a name taken for a temporary
// file.
Placement putBack(const fs::path& aside, const fs::path& target) {
  Placement result{Outcome::someones, {}, {}};
  int error = host::moveWithoutReplacing(aside, target);
  for (int n = 0; error == EEXIST && n < 100; ++n) {
    fs::path yours = target;
    yours += n == 0 ? ".yours" : ".yours." + std::to_string(n);
    error = host::moveWithoutReplacing(aside, yours);
    if (error == 0) result.note = yours.string();
  }
  if (error == 0) return result;
  return failure("cannot put " + target.string() + " back from " + aside.string(), error);
}

}  // namespace

std::string contentChecksum(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  char text[40];
  std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(hash),
                bytes.size());
  return text;
}

std::string fileChecksum(const fs::path& path) {
  std::string bytes;
  if (!host::readWholeFile(path.string(), bytes)) return {};
  return contentChecksum(bytes);
}

Placement placeFile(const fs::path& target, std::string_view bytes,
                    const std::set<std::string>& replaceable) {
  if (std::string problem = writeTemporaryFor(target, bytes); !problem.empty()) {
    return {Outcome::failed, problem, {}};
  }
  const fs::path temporary = temporaryNameFor(target);
  auto finish = [&temporary](Placement placement) {
    ::unlink(temporary.c_str());
    return placement;
  };
  // A name that is free is taken without replacing; one that is not is
  // swapped only after its file was found to be the installer's. Should the
  // name be freed in between, it is tried again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int error = host::moveWithoutReplacing(temporary, target);
    if (error == 0) return {};
    if (error != EEXIST) return finish(failure("cannot write " + target.string(), error));
    if (!replaceable.contains(fileChecksum(target))) return finish({Outcome::someones, {}, {}});
    error = host::exchangeFiles(temporary, target);
    if (error == ENOENT) continue;
    if (unsupported(error)) {
      // The file system cannot swap: the look just taken is the check.
      if (::rename(temporary.c_str(), target.c_str()) == 0) return {};
      return finish(failure("cannot write " + target.string(), errno));
    }
    if (error != 0) return finish(failure("cannot write " + target.string(), error));
    // What stood at the name now stands at the temporary one.
    if (replaceable.contains(fileChecksum(temporary))) return finish({});
    // Put there between the look and the swap: it goes back.
    if (host::exchangeFiles(temporary, target) == 0) return finish({Outcome::someones, {}, {}});
    ::unlink(target.c_str());
    return putBack(temporary, target);
  }
  return finish({Outcome::failed, "cannot write " + target.string() + ": it keeps changing", {}});
}

Placement removePlacedFile(const fs::path& target, const std::set<std::string>& removable) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0) {
    return errno == ENOENT ? Placement{} : failure("cannot remove " + target.string(), errno);
  }
  if (!removable.contains(fileChecksum(target))) return {Outcome::someones, {}, {}};
  // Moved out of its name first and looked at there, so that a file put in
  // its place meanwhile is not the one removed.
  const fs::path aside = temporaryNameFor(target);
  ::unlink(aside.c_str());
  const int error = host::moveWithoutReplacing(target, aside);
  if (error == ENOENT) return {};
  if (error != 0) return failure("cannot remove " + target.string(), error);
  if (removable.contains(fileChecksum(aside))) {
    if (::unlink(aside.c_str()) == 0) return {};
    return failure("cannot remove " + aside.string(), errno);
  }
  return putBack(aside, target);
}

}  // namespace zelvora
