#include "atomic_file.h"

#include <unistd.h>

#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace zelvora {

std::string writeFileAtomically(const fs::path& target, const std::string& bytes) {
  const fs::path temporary = target.parent_path() / ("." + target.filename().string() + "." +
                                                     std::to_string(::getpid()) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return "cannot write " + temporary.string();
    }
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot write " + target.string() + ": " + error.message();
  }
  return {};
}

}  // namespace zelvora
