// zelvora lookup NUMBER... | -
//
// Each number goes the library's own way: into phoneNumber, area emptied,
// initVals run. One line per number: the number as given, a tab, the area
// (empty when none).
#include <iostream>
#include <string>

#include "commands.h"
#include "common/preferences_check.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "state/state.h"

namespace zelvora {
namespace {

void lookUpOne(const std::string& number) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
  auto* found = objectAs<NSString>(area);
  std::cout << number << '\t' << (found ? toUtf8(found->units()) : std::string()) << '\n';
  phoneNumber = nil;
  area = nil;
}

}  // namespace

int runLookup(const Arguments& arguments) {
  if (arguments.empty())
    return fail(2, "lookup needs at least one number, or - for standard input");
  if (std::string problem = apps::preferencesProblem(); !problem.empty()) return fail(1, problem);
  // Without a home country national numbers find nothing: said once.
  bool toldNoHome = false;
  auto tellNoHome = [&toldNoHome] {
    if (toldNoHome) return;
    std::string problem = apps::homeCountryProblem();
    if (!problem.empty()) std::cerr << "zelvora: " << problem << '\n';
    toldNoHome = !problem.empty();
  };
  for (const auto& argument : arguments) {
    if (argument == "-") {
      std::string line;
      while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lookUpOne(line);
        tellNoHome();
      }
    } else {
      lookUpOne(argument);
      tellNoHome();
    }
  }
  std::cout << std::flush;
  return 0;
}

}  // namespace zelvora
