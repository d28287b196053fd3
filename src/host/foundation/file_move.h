// Moving a file to another name in the same folder without ever replacing a
// file that stands there, and swapping two names at once.
//
// Both work on names, as rename() does: whatever a name holds when the call
// is made is what moves, and nothing is copied. They return 0 or the errno
// that says why not. Nothing here throws; thread-safe.
#pragma once

#include <string>

namespace host {

// Moves `from` to `to` unless `to` exists: EEXIST then, and nothing moved.
// renameat2(RENAME_NOREPLACE) where the file system has it; elsewhere a hard
// link and the removal of the old name, which fails the same way; on a file
// system without either, a look that `to` is free right before rename().
int moveWithoutReplacing(const std::string& from, const std::string& to);

// Swaps what the names `first` and `second` hold, in one step: a reader sees
// one or the other, never neither. EINVAL (or ENOSYS) where the file system
// cannot, and nothing changed.
int exchangeFiles(const std::string& first, const std::string& second);

}  // namespace host
