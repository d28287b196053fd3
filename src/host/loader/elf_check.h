// A check of a shared object's file before it is handed to the system
// loader. The system loader maps the file's loadable segments and touches
// them; a file cut off short of its segments would kill the process with
// SIGBUS instead of failing to load. This check turns that into a reason.
#pragma once

#include <string>

namespace host {

// Empty when `path` is an ELF file of this machine's word size whose program
// headers and loadable segments all lie within the file; otherwise a short
// reason, such as "file is cut off" or "the library is a FIFO" (see
// regular_file.h). The file is opened without
// blocking, so a FIFO or a device in its place does not hold up the caller.
// Never raises but std::bad_alloc.
std::string elfProblem(const std::string& path);

}  // namespace host
