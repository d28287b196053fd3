// The host programs as the tool runs them: their exit status passes through,
// one that a signal ends or that cannot start is reported, and a call's
// script reaches the program's standard input.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

// Runs a copy of the tool beside a stand-in SpringBoard (a shell script), so
// that it starts the stand-in as its host program.
TEST(HostProgram, StatusSignalsAndStartFailuresAreReported) {
  testing_support::TempDevice device;
  const fs::path tools = device.path("/tools");
  fs::create_directories(tools);
  for (const char* name : {"zelvora", "ZelvoraPro.dylib", "ZelvoraPro.plist"}) {
    fs::copy_file(e2e::program(name), tools / name);
  }
  const std::string springBoard = (tools / "SpringBoard").string();
  const fs::perms runnable = fs::perms::owner_all;
  struct {
    const char* script;
    fs::perms perms;
    e2e::Texts call;
    int status;
    std::string out, err;  // err: compared when not "*"
  } const cases[] = {
      {"exit 3", runnable, {"springboard"}, 3, "", ""},
      {"echo before; kill -TERM $$",
       runnable,
       {"springboard"},
       1,
       "before\n",
       "zelvora: SpringBoard stopped by signal 15\n"},
      {"exec cat",
       runnable,
       {"call", "020 7946 0000"},
       0,
       "call 020 7946 0000\nanswer\nquit\n",
       "*"},
      {"exit 0",
       fs::perms::owner_read | fs::perms::owner_write,
       {"springboard"},
       127,
       "",
       "zelvora: cannot start " + springBoard + ": Permission denied\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    device.writeFile("/tools/SpringBoard", std::string("#!/bin/sh\n") + c.script + "\n");
    fs::permissions(springBoard, c.perms);
    e2e::Texts arguments = {(tools / "zelvora").string(), "--root", device.root(), "--region",
                            "GB"};
    arguments.insert(arguments.end(), c.call.begin(), c.call.end());
    const e2e::Outcome outcome = e2e::run(arguments);
    EXPECT_EQ(outcome.status, c.status) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, c.out);
    if (c.err != "*") {
      EXPECT_EQ(outcome.err, c.err);
    }
  }
}

}  // namespace
