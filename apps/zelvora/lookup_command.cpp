// zelvora lookup NUMBER... | -
//
// Each number goes the library's own way: into phoneNumber, area emptied,
// initVals run. One line per number: the number as given, a tab, the area
// (empty when none). Each answer is written out as soon as it is known, with
// one write, so a program can drive the command line by line through pipes.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "commands.h"
#include "common/preferences_check.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "output.h"
#include "state/state.h"

namespace zelvora {
namespace {

void lookUpOne(std::string_view number, std::string& answer) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
  answer.assign(number);
  answer += '\t';
  if (auto* found = objectAs<NSString>(area)) answer += toUtf8(found->units());
  answer += '\n';
  if (int error = writeOutput(answer.data(), answer.size()); error != 0) {
    endAfterOutputFailure(error);
  }
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
  std::string answer;
  for (const auto& argument : arguments) {
    if (argument == "-") {
      // getline from the C library: buffered reads that still return each
      // line as soon as it has arrived.
      char* buffer = nullptr;
      size_t capacity = 0;
      ssize_t length;
      while ((length = ::getline(&buffer, &capacity, stdin)) >= 0) {
        std::string_view line(buffer, static_cast<size_t>(length));
        if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lookUpOne(line, answer);
        tellNoHome();
      }
      std::free(buffer);
    } else {
      lookUpOne(argument, answer);
      tellNoHome();
    }
  }
  return 0;
}

}  // namespace zelvora
