#include "waiting.h"

#include <cmath>
#include <cstdlib>
#include <iostream>

namespace zelvora {
namespace {

constexpr int64_t kSecond = 1000000000;
int64_t limitNs = 10 * kSecond;

}  // namespace

std::optional<int64_t> parseWaitSeconds(const std::string& text, std::string& error) {
  char* end = nullptr;
  const double seconds = text.empty() ? NAN : std::strtod(text.c_str(), &end);
  if (!std::isfinite(seconds) || *end != '\0' || seconds < 0 || seconds > kLongestWait ||
      text.find_first_not_of("0123456789.") != std::string::npos) {
    error = "--wait takes a number of seconds from 0 to 86400, not \"" + text + "\"";
    return std::nullopt;
  }
  return static_cast<int64_t>(std::llround(seconds * 1e9));
}

void setWaitLimit(int64_t ns) {
  limitNs = ns;
}

int64_t waitLimit() {
  return limitNs;
}

host::LockWait lockWait(std::function<std::string()> lockPath, const std::string& purpose) {
  return {limitNs, kSecond, [lockPath = std::move(lockPath), purpose] {
            std::cerr << "zelvora: waiting for the lock " << lockPath() << ", which another "
                      << "process holds, " << purpose << "; giving up after "
                      << host::describeSeconds(limitNs) << " (--wait SECONDS)\n";
          }};
}

}  // namespace zelvora
