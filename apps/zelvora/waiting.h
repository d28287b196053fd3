// How long the zelvora tool waits for a lock another process holds (a
// preference store, an area-code install), and what it says meanwhile.
//
// The limit is 10 s unless --wait SECONDS gave another (0: no waiting at all).
// After a second of waiting the tool says on standard error what it waits
// for and why, once; at the limit the caller gives up, with exit status 1 and
// the reason, and changes nothing. Process-wide.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/foundation/file_lock.h"

namespace zelvora {

// The longest --wait accepted, in seconds: a day.
inline constexpr double kLongestWait = 86400;

// The limit in ns for a --wait value such as "10" or "0.5", or none (with
// `error` set) for anything that is not a number of seconds from 0 to
// kLongestWait.
std::optional<int64_t> parseWaitSeconds(const std::string& text, std::string& error);

void setWaitLimit(int64_t ns);
int64_t waitLimit();

// The wait for the lock `lockPath()` names (asked for only when it is
// announced), held for `purpose` ("to store the preferences", say).
host::LockWait lockWait(std::function<std::string()> lockPath, const std::string& purpose);

}  // namespace zelvora
