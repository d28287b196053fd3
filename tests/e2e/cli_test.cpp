// The zelvora tool's command-line conventions: help and version on standard
// output, usage errors on standard error with status 2, "--" before a number
// that begins with "-", and output that cannot be written: reported with
// status 1 when the disk is full, quiet when the reader has gone away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

// Runs zelvora on `root` with its standard output on the descriptor `output`
// and SIGPIPE at its default action or ignored, as a shell or another
// program may start it.
e2e::Outcome runWithOutput(const std::string& root, Texts arguments, int output,
                           bool ignorePipeSignal) {
  arguments.insert(arguments.begin(), {e2e::program("zelvora"), "--root", root, "--region", "GB"});
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::FILE* err = std::tmpfile();
  pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGPIPE, ignorePipeSignal ? SIG_IGN : SIG_DFL);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, STDIN_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  e2e::Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), "",
                       e2e::contentsOf(err)};
  std::fclose(err);
  return outcome;
}

// Each prints something on a fresh device: call comes first, and its home
// screen stores the settings that settings then lists.
const Texts kEveryCommand[] = {
    {"call", "+44 20 7946 0000"},
    {"recents", "+44 20 7946 0000"},
    {"lookup", "+44 20 7946 0000"},
    {"home"},
    {"settings"},
    {"--help"},
};

// Guards help and version: on standard output with status 0, every command
// with a help of its own that gives the exit statuses.
TEST(CommandLine, HelpAndVersionGoToStandardOutput) {
  testing_support::TempDevice device;
  const std::pair<Texts, std::string> cases[] = {
      {{"--help"}, "Usage: zelvora [OPTIONS] SUBCOMMAND"},
      {{"call", "--help"}, "Usage: zelvora call [OPTIONS] NUMBER"},
      {{"recents", "-h"}, "Usage: zelvora recents [OPTIONS] NUMBER..."},
      {{"springboard", "--help"}, "Usage: zelvora springboard"},
      {{"lookup", "--help"}, "Usage: zelvora lookup [OPTIONS] NUMBER..."},
      {{"home", "--help"}, "Usage: zelvora home"},
      {{"settings", "--help"}, "Usage: zelvora settings [OPTIONS] [SUBCOMMAND]"},
      {{"settings", "set", "--help"}, "Usage: zelvora settings set [OPTIONS] KEY VALUE"},
      {{"-V"}, "zelvora " ZELVORA_VERSION "\ndata: libphonenumber 9.0.35\n"},
      {{"lookup", "1", "--version"}, "zelvora " ZELVORA_VERSION "\ndata: libphonenumber 9.0.35\n"},
  };
  for (const auto& [arguments, shown] : cases) {
    SCOPED_TRACE(arguments.front() + " " + arguments.back());
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    if (shown.starts_with("zelvora ")) {
      EXPECT_EQ(outcome.out, shown);
    } else {
      EXPECT_NE(outcome.out.find(shown), std::string::npos) << outcome.out;
      EXPECT_NE(outcome.out.find("Exit status:\n  0  done\n"), std::string::npos) << outcome.out;
    }
  }
}

// Guards the parsing of the arguments: what is refused with status 2 and a
// message on standard error only, and what goes through.
TEST(CommandLine, RefusesWhatItDoesNotKnowAndTakesNumbersAfterDashes) {
  testing_support::TempDevice device;
  struct Case {
    Texts arguments;
    int status;
    std::string out;
    std::string errorPart;  // in the one line on standard error, or none
  };
  const Case cases[] = {
      {{}, 2, "", "Usage: zelvora"},
      {{"lookup", "-x"}, 2, "", "unknown option -x"},
      {{"lookup", "+44 20 7946 0000", "--frobnicate"}, 2, "", "--frobnicate"},
      {{"call", "--png"}, 2, "", "--png"},
      {{"settings", "get", "nosuchkey"}, 2, "", "unknown setting \"nosuchkey\""},
      {{"settings", "get", "recents"}, 1, "", ""},
      {{"--wait", "-1", "settings", "set", "recents", "3"}, 2, "", "--wait takes a number"},
      {{"settings", "set", "recents", "3", "--wait", "nan"}, 2, "", "not \"nan\""},
      {{"--wait", "1e3", "home"}, 2, "", "from 0 to 86400"},
      {{"--wait", "86401", "home"}, 2, "", "from 0 to 86400"},
      {{"--wait", "0.5", "lookup", "0161 496 0000"}, 0, "0161 496 0000\tManchester\n", ""},
      {{"lookup", "--", "-5", "+44 20 7946 0000"}, 0, "-5\t\n+44 20 7946 0000\tLondon\n", ""},
      {{"lookup", "0161 496 0000", "--root", device.root() + "/other"},
       0,
       "0161 496 0000\tManchester\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(nothing)" : c.arguments.back());
    Texts arguments = {"--region", "GB"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    e2e::Outcome outcome = c.arguments.empty() ? e2e::run({e2e::program("zelvora")})
                                               : e2e::zelvora(device.root(), arguments);
    EXPECT_EQ(outcome.status, c.status) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, c.out);
    if (c.errorPart.empty()) {
      EXPECT_EQ(outcome.err, "");
    } else {
      EXPECT_NE(outcome.err.find(c.errorPart), std::string::npos) << outcome.err;
    }
    if (c.status == 2 && !c.arguments.empty()) {
      EXPECT_TRUE(e2e::oneLine(outcome.err)) << outcome.err;
    }
  }
}

// Guards the words of a usage error: the word that stood where a command,
// option or argument was wanted, or what is missing, and the help of the
// command chosen deepest.
TEST(CommandLine, AUsageErrorNamesTheWordAndTheHelpToRead) {
  testing_support::TempDevice device;
  const std::pair<Texts, std::string> cases[] = {
      {{"--region", "GB"}, "no command given (see zelvora --help)"},
      {{"frob"}, "unknown command \"frob\" (see zelvora --help)"},
      {{"--frob"}, "unknown option --frob (see zelvora --help)"},
      {{"settings", "--frob"}, "unknown option --frob (see zelvora settings --help)"},
      {{"settings", "frob"}, "unexpected argument \"frob\" (see zelvora settings --help)"},
      {{"settings", "set", "recents"}, "VALUE is required (see zelvora settings set --help)"},
      {{"settings", "get", "recents", "x"},
       "unexpected argument \"x\" (see zelvora settings get --help)"},
      {{"lookup"}, "NUMBER is required (see zelvora lookup --help)"},
      {{"lookup", "--explain", "--json", "1"},
       "--explain excludes --json (see zelvora lookup --help)"},
  };
  for (const auto& [arguments, error] : cases) {
    SCOPED_TRACE(arguments.back());
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "zelvora: " + error + "\n");
  }
}

// Guards the handling of output that cannot be written, for the tool's own
// output and for the host programs' output that passes through it.
TEST(CommandLine, FullDiskIsReportedAndAClosedPipeEndsQuietly) {
  testing_support::TempDevice device;
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  int closed[2];
  ASSERT_EQ(::pipe(closed), 0);
  ::close(closed[0]);
  for (const Texts& arguments : kEveryCommand) {
    SCOPED_TRACE(arguments.front());
    e2e::Outcome outcome = runWithOutput(device.root(), arguments, full, false);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "zelvora: cannot write the output: No space left on device\n");
    for (bool ignored : {false, true}) {
      outcome = runWithOutput(device.root(), arguments, closed[1], ignored);
      EXPECT_EQ(outcome.status, ignored ? 1 : -SIGPIPE) << "SIGPIPE ignored: " << ignored;
      EXPECT_EQ(outcome.err, "") << "SIGPIPE ignored: " << ignored;
    }
  }
  ::close(full);
  ::close(closed[1]);
}

}  // namespace
