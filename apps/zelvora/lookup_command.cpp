// zelvora lookup NUMBER... | -
//
// Each number goes the library's own way: into phoneNumber, area emptied,
// initVals run. One line per number: the number as given, a tab, the area
// (empty when none). Answers are written as soon as they are known: standard
// input is read in chunks of whatever has arrived, and the answers to the
// lines of one chunk go out together in one write. A program that sends one
// line at a time through a pipe gets each answer at once; a file of numbers
// is answered in few writes. A standard input that cannot be read (closed,
// a folder) is an error: what was answered stays answered, and the status is 1.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <string_view>

#include "commands.h"
#include "common/preferences_check.h"
#include "common/standard_streams.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "output.h"
#include "state/state.h"

namespace zelvora {
namespace {

// Appends the answer line for `number` to `answers`.
void lookUpOne(std::string_view number, std::string& answers) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
  answers.append(number);
  answers += '\t';
  if (auto* found = objectAs<NSString>(area)) answers += toUtf8(found->units());
  answers += '\n';
  phoneNumber = nil;
  area = nil;
}

void writeAnswers(std::string& answers) {
  if (answers.empty()) return;
  if (int error = writeOutput(answers.data(), answers.size()); error != 0) {
    endAfterOutputFailure(error);
  }
  answers.clear();
}

// The line without its ending (LF, or CR LF).
std::string_view withoutEnding(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
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
  std::string answers;
  for (const auto& argument : arguments) {
    if (argument != "-") {
      lookUpOne(argument, answers);
      writeAnswers(answers);
      tellNoHome();
      continue;
    }
    // `pending` holds what has arrived of lines not yet answered.
    std::string pending;
    char chunk[1 << 16];
    for (;;) {
      ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // Standard input shared with a program that made it non-blocking.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        ::poll(&input, 1, -1);
        continue;
      }
      if (got < 0) return fail(1, apps::describeInputFailure(errno));
      if (got == 0) break;
      pending.append(chunk, static_cast<size_t>(got));
      size_t lineStart = 0;
      for (size_t end; (end = pending.find('\n', lineStart)) != std::string::npos;
           lineStart = end + 1) {
        lookUpOne(withoutEnding(std::string_view(pending).substr(lineStart, end + 1 - lineStart)),
                  answers);
      }
      pending.erase(0, lineStart);
      writeAnswers(answers);
      tellNoHome();
    }
    if (!pending.empty()) {
      lookUpOne(withoutEnding(pending), answers);
      writeAnswers(answers);
      tellNoHome();
    }
  }
  return 0;
}

}  // namespace zelvora
