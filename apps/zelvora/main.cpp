// zelvora: the command-line face of ZelvoraPro.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "common/host_setup.h"

namespace {

constexpr const char* kUsage =
    "usage: zelvora [--root DIR] [--region XX] COMMAND [ARGUMENTS]\n"
    "\n"
    "  call NUMBER [--outgoing]     a call rings in (or, --outgoing, is placed) on the\n"
    "                               simulated home screen: the call alert with the area\n"
    "  recents NUMBER... [--again]  the simulated phone's Recents list with areas\n"
    "                               (--again: the list is shown a second time)\n"
    "    with call and recents: --png FILE  also draw the screen into FILE (PNG)\n"
    "                           --verbose   also list the screen's views\n"
    "  springboard [--verbose]      the home screen, driven by commands on standard input:\n"
    "                               call N, outgoing N, answer, end, refresh, quit\n"
    "  lookup NUMBER... | -         the area of each number (-: numbers from standard input)\n"
    "  home                         settles and prints the home calling code and trunk prefix\n"
    "  settings                     lists the settings\n"
    "  settings get KEY             prints one setting\n"
    "  settings set KEY VALUE       changes countryCode, trunkPrefixx or recents\n"
    "  settings unset KEY           removes a setting\n"
    "  data                         shows the area-code set installed on the device\n"
    "  data install [--language LANG] [--carrier]\n"
    "                               installs the area names in LANG (with carriers)\n"
    "  data remove                  removes it: the bundled English set answers again\n"
    "\n"
    "  --root DIR    the simulated device (default: $ZELVORA_ROOT, else\n"
    "                $XDG_DATA_HOME/zelvora/device)\n"
    "  --region XX   the device region (default: $ZELVORA_REGION, else the locale)\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty() || arguments[0] == "--help" || arguments[0] == "-h" ||
      arguments[0] == "help") {
    std::cout << kUsage;
    return arguments.empty() ? 2 : 0;
  }
  apps::CommonOptions options =
      apps::parseCommonOptions(arguments, {"--outgoing", "--again", "--png", "--verbose",
                                           "--language", "--carrier"});
  if (!options.error.empty()) return zelvora::fail(2, options.error + " (see zelvora --help)");
  if (options.rest.empty()) return zelvora::fail(2, "no command given (see zelvora --help)");

  const std::string command = options.rest.front();
  const zelvora::Arguments rest(options.rest.begin() + 1, options.rest.end());
  for (const auto& argument : rest) {
    if (argument == "--outgoing" && command != "call") {
      return zelvora::fail(2, "--outgoing goes with call only");
    }
    if (argument == "--again" && command != "recents") {
      return zelvora::fail(2, "--again goes with recents only");
    }
    if (argument == "--png" && command != "call" && command != "recents") {
      return zelvora::fail(2, "--png goes with call and recents only");
    }
    if (argument == "--verbose" && command != "call" && command != "recents" &&
        command != "springboard") {
      return zelvora::fail(2, "--verbose goes with call, recents and springboard only");
    }
    if ((argument == "--language" || argument == "--carrier") && command != "data") {
      return zelvora::fail(2, argument + " goes with data install only");
    }
  }
  if (command == "call") return zelvora::runCall(rest, options);
  if (command == "recents") return zelvora::runRecents(rest, options);
  if (command == "springboard") return zelvora::runSpringBoard(rest, options);

  if (std::string error = apps::setUpDevice(options); !error.empty())
    return zelvora::fail(2, error);
  if (command == "lookup") return zelvora::runLookup(rest);
  if (command == "home") return zelvora::runHome(rest);
  if (command == "settings") return zelvora::runSettings(rest);
  if (command == "data") return zelvora::runData(rest);
  return zelvora::fail(2, "unknown command \"" + command + "\" (see zelvora --help)");
}
