// The zelvora tool's standard output. A failed write ends the tool at once:
// quietly when the reader has gone away (a closed pipe), else with a one-line
// message on standard error and exit status 1, so that a full disk or an I/O
// error is never taken for success.
#pragma once

#include <cstddef>

namespace zelvora {

// Routes std::cout through a buffer that writes straight to descriptor 1 and
// calls endAfterOutputFailure on the first failed write. Call once, first
// thing in main; the buffer lives until the process ends.
void guardStandardOutput();

// Writes all of `data` to descriptor 1, retrying short and interrupted
// writes. Returns 0, or the errno of the failed write.
int writeOutput(const char* data, size_t size);

// Ends the process after a failed write of the standard output with errno
// `error`. EPIPE: as a program that met a closed pipe does by default, by
// SIGPIPE, and with status 1 and no message when that signal is ignored or
// blocked. Any other error: "zelvora: cannot write the output: REASON" on
// standard error and status 1. Never returns.
[[noreturn]] void endAfterOutputFailure(int error);

}  // namespace zelvora
