// Start-up shared by the simulated host programs and the command-line tool:
// the device root, the device region, and the bundled data that serves as the
// host application's own resources.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace apps {

// The options every program takes: --root DIR and --region XX (also written
// --root=DIR, --region=XX). They may stand anywhere among the arguments; "--"
// ends option parsing.
struct CommonOptions {
  std::optional<std::string> root;
  std::optional<std::string> region;
  std::vector<std::string> rest;  // the other arguments, in order
  std::string error;              // set on a usage error
};

// Parses `argv` (without the program name). `flags` are further options
// without a value (such as "--outgoing") that are kept in `rest`.
CommonOptions parseCommonOptions(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& flags = {});

// The device root to use: --root, else $ZELVORA_ROOT, else
// $XDG_DATA_HOME/zelvora/device when that is an absolute path (a relative one
// is ignored), else ~/.local/share/zelvora/device. The folder is created when
// missing; an error names what went wrong.
struct RootChoice {
  std::string root;
  std::string error;
};
RootChoice chooseDeviceRoot(const std::optional<std::string>& explicitRoot);

// The folder that holds the running program.
std::string programDir();

// The folder of the simulated host programs, the library ZelvoraPro.dylib and
// its filter: beside the program in the build tree, <prefix>/libexec/zelvora
// when installed (found relative to the program, so an installed tree can be
// moved as a whole).
std::string helperDir();

// The folder of the bundled data (holding "codes/", each area-code file with
// its prebuilt index): the build folder's share/zelvora, a copy of the source
// tree's data folder, for a program run from its build folder, else
// <prefix>/share/zelvora relative to the installed programs.
std::string bundledDataDir();

// Sets the device root, the region (from --region, $ZELVORA_REGION or the
// locale) and the application resources for this process. Returns an error
// text for an unusable root or region, else empty.
std::string setUpDevice(const CommonOptions& options);

}  // namespace apps
