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
//
// With --explain each answer is the number and, indented below it, how the
// lookup read it, one step a line; the home country comes first, once, and
// again whenever it changes. With --json each answer is one JSON object a
// line (JSON Lines), with the same facts as fields. Both describe what the
// lookup itself did (lookup/lookup_trace.h).
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <string_view>

#include "commands.h"
#include "common/host_setup.h"
#include "common/preferences_check.h"
#include "common/standard_streams.h"
#include "explain.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "lookup/lookup_trace.h"
#include "output.h"
#include "state/state.h"

namespace zelvora {
namespace {

// How each number is answered, with what it needs kept between numbers.
class Answerer {
 public:
  explicit Answerer(LookupOutput output) : output_(output) {
    if (output_ != LookupOutput::area) {
      context_.emplace(apps::bundledDataDir());
      setLookupTrace(&trace_);
    }
  }
  ~Answerer() { setLookupTrace(nullptr); }
  Answerer(const Answerer&) = delete;
  Answerer& operator=(const Answerer&) = delete;

  // Appends the answer for `number` to `answers`.
  void answer(std::string_view number, std::string& answers) {
    phoneNumber = NSString::fromUtf8(number);
    area = nil;
    initVals();
    switch (output_) {
      case LookupOutput::area:
        answers.append(number);
        answers += '\t';
        if (auto* found = objectAs<NSString>(area)) answers += toUtf8(found->units());
        answers += '\n';
        break;
      case LookupOutput::explain:
        if (std::string home = explainHome(trace_); home != lastHome_) {
          answers += home + "\n";
          lastHome_ = home;
        }
        answers += explainNumber(number, trace_, *context_);
        break;
      case LookupOutput::json:
        // Invalid UTF-8 in what was given is shown replaced, not refused.
        answers += describeNumber(number, trace_, *context_)
                       .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        answers += '\n';
        break;
    }
    phoneNumber = nil;
    area = nil;
  }

 private:
  LookupOutput output_;
  LookupTrace trace_;
  std::optional<ExplainContext> context_;
  std::string lastHome_;
};

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

int runLookup(const Arguments& arguments, LookupOutput output) {
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
  Answerer answerer(output);
  auto lookUpOne = [&answerer](std::string_view number, std::string& answers) {
    answerer.answer(number, answers);
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
