// zelvora call, recents and springboard: the simulated phone, with the
// library loaded into its host programs the way the hooking host loads it.
#include <iostream>

#include "commands.h"
#include "device_install.h"
#include "host_process.h"

namespace zelvora {
namespace {

struct Prepared {
  std::vector<std::string> hostArguments;  // --root ROOT [--region XX]
  std::string error;
};

// Chooses and prepares the device root and the options the host program gets.
Prepared prepareDevice(const apps::CommonOptions& options) {
  apps::RootChoice root = apps::chooseDeviceRoot(options.root);
  if (!root.error.empty()) return {{}, root.error};
  if (std::string problem = installExtension(root.root); !problem.empty()) return {{}, problem};
  Prepared prepared;
  prepared.hostArguments = {"--root", root.root};
  if (options.region) {
    prepared.hostArguments.push_back("--region");
    prepared.hostArguments.push_back(*options.region);
  }
  return prepared;
}

bool singleLine(const std::string& text) {
  return text.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

int runCall(const Arguments& arguments, const apps::CommonOptions& options) {
  bool outgoing = false;
  std::vector<std::string> numbers;
  for (const auto& argument : arguments) {
    if (argument == "--outgoing") {
      outgoing = true;
    } else {
      numbers.push_back(argument);
    }
  }
  if (numbers.size() != 1) return fail(2, "usage: zelvora call NUMBER [--outgoing]");
  if (!singleLine(numbers[0])) return fail(2, "the number must not contain a line break");
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  const std::string script =
      std::string(outgoing ? "outgoing " : "call ") + numbers[0] + "\nanswer\nquit\n";
  return runHostProgram("SpringBoard", prepared.hostArguments, &script);
}

int runRecents(const Arguments& arguments, const apps::CommonOptions& options) {
  std::vector<std::string> numbers;
  bool again = false;
  for (const auto& argument : arguments) {
    if (argument == "--again") {
      again = true;
    } else {
      numbers.push_back(argument);
    }
  }
  if (numbers.empty()) return fail(2, "usage: zelvora recents NUMBER... [--again]");
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  std::vector<std::string> hostArguments = prepared.hostArguments;
  if (again) hostArguments.push_back("--again");
  hostArguments.push_back("--");
  hostArguments.insert(hostArguments.end(), numbers.begin(), numbers.end());
  return runHostProgram("MobilePhone", hostArguments, nullptr);
}

int runSpringBoard(const Arguments& arguments, const apps::CommonOptions& options) {
  if (!arguments.empty())
    return fail(2, "springboard takes no arguments; it reads commands from standard input");
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  return runHostProgram("SpringBoard", prepared.hostArguments, nullptr);
}

int fail(int status, const std::string& message) {
  std::cerr << "zelvora: " << message << "\n";
  return status;
}

}  // namespace zelvora
