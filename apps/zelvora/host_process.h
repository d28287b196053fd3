// Running a simulated host program for the zelvora tool. The program's
// standard output passes through the tool, so that a write error or a reader
// that has gone away is handled the same way as for the tool's own output.
#pragma once

#include <string>
#include <vector>

namespace zelvora {

// Runs `program` from the helper folder (see apps::helperDir) with
// `arguments`. When `input` is given it is written to the program's standard
// input, which is then closed; otherwise the program shares the tool's
// standard input. Standard error is shared.
//
// Returns the program's exit status, or 1 after a one-line message when it
// could not be started or was ended by a signal. When the tool's standard
// output fails, the program's output pipe and input are closed, it is given a
// second to end and then stopped (SIGTERM, SIGKILL two seconds later), and the
// tool ends through endAfterOutputFailure.
int runHostProgram(const std::string& program, std::vector<std::string> arguments,
                   const std::string* input);

}  // namespace zelvora
