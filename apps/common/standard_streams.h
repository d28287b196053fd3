// The standard descriptors of the programs: none left closed, and a failed
// read of standard input told in words.
#pragma once

#include <string>

namespace apps {

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, opened so
// that using it fails as a closed descriptor does (standard input for
// writing only, the outputs for reading only): a program started with one
// closed then reports a failed read or write instead of taking the file it
// opens next for its input or output. Call first thing in main.
void guardStandardDescriptors();

// Why reading standard input failed with errno `error`, in a few words:
// "standard input is closed", "standard input is a folder", or "cannot read
// standard input: REASON".
std::string describeInputFailure(int error);

}  // namespace apps
