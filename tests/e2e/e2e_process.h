// Running the built programs from the end-to-end tests, reading what the home
// screen and the phone application print, and preparing device roots. A hung
// child is left to the test's own CTest time limit.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_device.h"

namespace e2e {

using Texts = std::vector<std::string>;

inline std::string program(const std::string& name) {
  return testing_support::binDir() + "/" + name;
}

struct Outcome {
  int status = -1;  // the exit status, or minus the signal that ended the program
  std::string out, err;
};

inline std::string describe(const Outcome& outcome) {
  return "status " + std::to_string(outcome.status) + "\n--- stdout:\n" + outcome.out +
         "--- stderr:\n" + outcome.err + "---";
}

// Whether `text` is exactly one line.
inline bool oneLine(const std::string& text) {
  return std::count(text.begin(), text.end(), '\n') == 1 && text.ends_with('\n');
}

// What has been written to a temporary file so far (read without moving the
// offset the child writes at).
inline std::string contentsOf(std::FILE* file) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::pread(::fileno(file), buffer, sizeof buffer, text.size())) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// A program with a pipe on its standard input; its standard output and error
// go to temporary files.
class Child {
 public:
  explicit Child(std::vector<std::string> arguments) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not end the test
    int in[2];
    if (!out_ || !err_ || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(::fileno(out_), STDOUT_FILENO);
      ::dup2(::fileno(err_), STDERR_FILENO);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    in_ = in[1];
  }
  ~Child() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    if (pid_ > 0) finish();
    std::fclose(out_);
    std::fclose(err_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Writes a short text (one pipe buffer at most) to the standard input.
  bool send(const std::string& text) {
    return ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // Whether the program has not ended yet (it is not reaped).
  bool running() {
    siginfo_t ended = {};
    return !(::waitid(P_PID, pid_, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid);
  }

  // Waits until `text` shows in the standard output (the standard error when
  // `error`); false when the program ended without it.
  bool waitFor(const std::string& text, bool error = false) {
    std::FILE* file = error ? err_ : out_;
    for (siginfo_t ended = {}; contentsOf(file).find(text) == std::string::npos; ::usleep(10000)) {
      if (::waitid(P_PID, pid_, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid) {
        return contentsOf(file).find(text) != std::string::npos;
      }
    }
    return true;
  }

  // Closes the standard input and waits at most `seconds` for the program to
  // end; one still running then is killed, and its status is -SIGKILL.
  Outcome finishWithin(int seconds) {
    ::close(in_);
    in_ = -1;
    for (int waited = 0; waited < seconds * 100; ++waited) {
      siginfo_t ended = {};
      if (::waitid(P_PID, pid_, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid) break;
      ::usleep(10000);
    }
    ::kill(pid_, SIGKILL);  // nothing when it has ended, as it was not reaped yet
    return finish();
  }

  // Ends the program with SIGKILL and reaps it.
  Outcome kill() {
    ::kill(pid_, SIGKILL);
    return finish();
  }

  // Closes the standard input and waits for the program to end.
  Outcome finish() {
    ::close(in_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), contentsOf(out_),
            contentsOf(err_)};
  }

 private:
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  pid_t pid_ = -1;
  int in_ = -1;
};

// A program whose standard input is the folder "/" or closed, rather than a
// pipe, given at most 15 s to end.
enum class Input { folder, closed };
inline Outcome runWithInput(Input input, std::vector<std::string> arguments) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(STDIN_FILENO);
    if (input == Input::folder) ::open("/", O_RDONLY | O_DIRECTORY);  // takes descriptor 0
    ::dup2(::fileno(out), STDOUT_FILENO);
    ::dup2(::fileno(err), STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  for (int waited = 0; waited < 1500 && ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
    ::usleep(10000);
  }
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), contentsOf(out),
                  contentsOf(err)};
  std::fclose(out);
  std::fclose(err);
  return outcome;
}

// The zelvora tool on the device `root`, given at most `seconds` to end.
inline Outcome zelvoraWithin(int seconds, const std::string& root,
                             std::vector<std::string> arguments, const std::string& input = {}) {
  arguments.insert(arguments.begin(), {program("zelvora"), "--root", root});
  Child child(std::move(arguments));
  child.send(input);
  return child.finishWithin(seconds);
}

inline Outcome run(std::vector<std::string> arguments, const std::string& input = {}) {
  Child child(std::move(arguments));
  child.send(input);
  return child.finish();
}

// The zelvora tool on the device `root`.
inline Outcome zelvora(const std::string& root, std::vector<std::string> arguments,
                       const std::string& input = {}) {
  arguments.insert(arguments.begin(), {program("zelvora"), "--root", root});
  return run(std::move(arguments), input);
}

// What `zelvora settings get KEY` prints, or "(absent)".
inline std::string setting(const std::string& root, const std::string& key) {
  Outcome outcome = zelvora(root, {"settings", "get", key});
  return outcome.status == 1 && outcome.out.empty() ? "(absent)" : outcome.out;
}

inline testing::AssertionResult storeSetting(const std::string& root, const std::string& key,
                                             const std::string& value) {
  Outcome outcome = zelvora(root, {"settings", "set", key, value});
  if (outcome.status == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << describe(outcome);
}

// The home screen prints "-- COMMAND" and then the call alert window, whose
// legend (with --verbose) has a line per label. For each window: the command and the texts of
// the area labels along the bottom of the 320 x 480 window.
using Areas = std::vector<std::pair<std::string, Texts>>;
inline Areas areasOf(const std::string& out) {
  Areas areas;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    size_t text = line.find(" text \"");
    if (line.starts_with("-- ")) {
      areas.push_back({line.substr(3), {}});
    } else if (!areas.empty() && line.find("UILabel frame (0, 458, 320, 22) ") != line.npos &&
               text != line.npos && line.ends_with('"')) {
      areas.back().second.push_back(line.substr(text + 7, line.size() - text - 8));
    }
  }
  return areas;
}

// The caller kinds (second labels) of the Recents rows the phone application
// prints under the line `heading` (or "`heading` (... loaded)").
inline Texts recentsKinds(const std::string& out, const std::string& heading) {
  Texts kinds;
  bool inside = false;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("Recents")) {
      inside = line == heading || line.starts_with(heading + " (");
    } else if (inside && line.size() >= 31) {  // "NNN  " + number in 24 + "  " + kind
      kinds.push_back(line.substr(31));
    }
  }
  return kinds;
}

// The start of a command line that runs a program as user and group "nobody"
// (65534). A coverage build's counters of such a run go to a folder of this
// test program's own, open to everyone and removed when it ends, so that
// writing them cannot fail or meet counters of another build and add to what
// the program prints; they count for nothing.
inline Texts asNobody() {
  static const std::string counters = [] {
    std::string folder =
        (std::filesystem::temp_directory_path() / "zelvora-nobody-counters-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) throw std::runtime_error("no counters folder");
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    static const std::string removed = folder;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removed, ignored);
    });
    return folder;
  }();
  return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
          "--clear-groups",   "/usr/bin/env",  "GCOV_PREFIX=" + counters};
}

// ---- device roots

inline const std::string kExtensions = "/Library/MobileSubstrate/DynamicLibraries/";
inline const std::string kPreferences =
    "/var/mobile/Library/Preferences/org.tarnwick.ZelvoraPrefs.plist";

// The contents of a file beside the test programs.
inline std::string builtFile(const std::string& name) {
  std::ifstream file(program(name), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// Installs the built library and its filter, as the package manager does.
inline void installLibrary(const testing_support::TempDevice& device) {
  for (std::string name : {"ZelvoraPro.dylib", "ZelvoraPro.plist"}) {
    device.writeFile(kExtensions + name, builtFile(name));
  }
}

}  // namespace e2e
