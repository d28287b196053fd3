// The commands of the `zelvora` tool. Each takes the arguments after its name
// (global options already removed and applied) and returns the exit status:
// 0 done, 1 failed (with a one-line message on standard error), 2 usage error.
#pragma once

#include <string>
#include <vector>

#include "common/host_setup.h"

namespace zelvora {

using Arguments = std::vector<std::string>;

int runHome(const Arguments& arguments);
int runSettings(const Arguments& arguments);
// What `lookup` writes for each number: its area, how it was read, or a JSON
// object with both.
enum class LookupOutput { area, explain, json };
int runLookup(const Arguments& arguments, LookupOutput output = LookupOutput::area);
// data [install [--language LANG] [--carrier] | remove]: the area-code sets
// installed in the device's data folder.
int runData(const Arguments& arguments);
// The simulated phone: call and recents run a host program once, springboard
// hands the terminal to the home screen. `options` are passed on to it.
int runCall(const Arguments& arguments, const apps::CommonOptions& options);
int runRecents(const Arguments& arguments, const apps::CommonOptions& options);
int runSpringBoard(const Arguments& arguments, const apps::CommonOptions& options);

// Prints "zelvora: <message>" on standard error and returns `status`.
int fail(int status, const std::string& message);

}  // namespace zelvora
