// zelvora call, recents and springboard: the simulated phone, with the
// library loaded into its host programs the way the hooking host loads it.
#include <iostream>

#include "commands.h"
#include "common/preferences_check.h"
#include "device_install.h"
#include "host/foundation/device.h"
#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host_process.h"
#include "lookup/country_tables.h"

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

// The options that the host program draws by: "--png" FILE and "--verbose",
// taken out of `arguments` and handed on as they came. Gives an error text for
// a --png without a file name.
struct Display {
  std::vector<std::string> hostArguments;
  std::string error;
};
Display takeDisplayOptions(std::vector<std::string>& arguments) {
  Display display;
  std::vector<std::string> rest;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--verbose") {
      display.hostArguments.push_back("--verbose");
    } else if (arguments[i] == "--png") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        display.error = "--png needs a file name";
        return display;
      }
      display.hostArguments.insert(display.hostArguments.end(), {"--png", arguments[++i]});
    } else {
      rest.push_back(arguments[i]);
    }
  }
  arguments = std::move(rest);
  return display;
}

// Whether the device region names a calling code that a lookup would take as
// the home one when none is stored.
bool regionGivesCallingCode() {
  id region = NSLocaleCurrentCountryCode();
  return region && callingCodeForCountry(ns::units(region)).has_value();
}

// Runs a host program for call or recents, then says once on standard error
// when the device has no home country, as lookup does: national numbers find
// no area until one is given. (A host that looked nothing up, a Recents list
// with no annotated rows, stored nothing; the region still counts then.)
int runPhoneHost(const std::string& program, const std::vector<std::string>& hostArguments,
                 const std::string* input, const apps::CommonOptions& options) {
  const int status = runHostProgram(program, hostArguments, input);
  if (status == 0 && apps::setUpDevice(options).empty() && !regionGivesCallingCode()) {
    if (std::string problem = apps::homeCountryProblem(); !problem.empty()) {
      std::cerr << "zelvora: " << problem << '\n';
    }
  }
  return status;
}

}  // namespace

int runCall(const Arguments& allArguments, const apps::CommonOptions& options) {
  Arguments arguments = allArguments;
  Display display = takeDisplayOptions(arguments);
  if (!display.error.empty()) return fail(2, display.error);
  bool outgoing = false;
  std::vector<std::string> numbers;
  for (const auto& argument : arguments) {
    if (argument == "--outgoing") {
      outgoing = true;
    } else {
      numbers.push_back(argument);
    }
  }
  if (numbers.size() != 1) {
    return fail(2, "usage: zelvora call NUMBER [--outgoing] [--png FILE] [--verbose]");
  }
  if (!singleLine(numbers[0])) return fail(2, "the number must not contain a line break");
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  const std::string script =
      std::string(outgoing ? "outgoing " : "call ") + numbers[0] + "\nanswer\nquit\n";
  std::vector<std::string> hostArguments = prepared.hostArguments;
  hostArguments.insert(hostArguments.end(), display.hostArguments.begin(),
                       display.hostArguments.end());
  return runPhoneHost("SpringBoard", hostArguments, &script, options);
}

int runRecents(const Arguments& allArguments, const apps::CommonOptions& options) {
  Arguments arguments = allArguments;
  Display display = takeDisplayOptions(arguments);
  if (!display.error.empty()) return fail(2, display.error);
  std::vector<std::string> numbers;
  bool again = false;
  for (const auto& argument : arguments) {
    if (argument == "--again") {
      again = true;
    } else {
      numbers.push_back(argument);
    }
  }
  if (numbers.empty()) {
    return fail(2, "usage: zelvora recents NUMBER... [--again] [--png FILE] [--verbose]");
  }
  for (const auto& number : numbers) {
    if (!singleLine(number)) return fail(2, "a number must not contain a line break");
  }
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  std::vector<std::string> hostArguments = prepared.hostArguments;
  if (again) hostArguments.push_back("--again");
  hostArguments.insert(hostArguments.end(), display.hostArguments.begin(),
                       display.hostArguments.end());
  hostArguments.push_back("--");
  hostArguments.insert(hostArguments.end(), numbers.begin(), numbers.end());
  return runPhoneHost("MobilePhone", hostArguments, nullptr, options);
}

int runSpringBoard(const Arguments& arguments, const apps::CommonOptions& options) {
  const bool verbose = arguments == Arguments{"--verbose"};
  if (!arguments.empty() && !verbose) {
    return fail(2, "springboard takes only --verbose; it reads commands from standard input");
  }
  Prepared prepared = prepareDevice(options);
  if (!prepared.error.empty()) return fail(1, prepared.error);
  std::vector<std::string> hostArguments = prepared.hostArguments;
  if (verbose) hostArguments.push_back("--verbose");
  return runHostProgram("SpringBoard", hostArguments, nullptr);
}

int fail(int status, const std::string& message) {
  std::cerr << "zelvora: " << message << "\n";
  return status;
}

}  // namespace zelvora
