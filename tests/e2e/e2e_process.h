// Running the built programs from the end-to-end tests: start a program with
// pipes on its standard input, output and error, feed it, read what it prints
// (with a generous time limit that only guards against a hung child), and
// reap it. Also the small parsers for what the home screen and the phone
// application print, and paths on a device root.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_device.h"

namespace e2e {

// Long enough for a sanitizer build on a loaded machine; only a guard.
inline constexpr std::chrono::seconds kGuard{120};

inline std::string program(std::string_view name) {
  return testing_support::binDir() + "/" + std::string(name);
}

// How a finished program ended and what it printed.
struct Outcome {
  bool exited = false;    // ended by exit (status below)
  int status = -1;        // the exit status when exited
  int signal = 0;         // the signal that ended it, else 0
  bool timedOut = false;  // killed by the guard
  std::string out;
  std::string err;
};

inline std::string describe(const Outcome& outcome) {
  std::ostringstream text;
  if (outcome.timedOut) text << "killed after the time limit; ";
  if (outcome.exited) text << "exit status " << outcome.status;
  if (outcome.signal) text << "ended by signal " << outcome.signal;
  text << "\n--- stdout:\n" << outcome.out << "--- stderr:\n" << outcome.err << "---";
  return text.str();
}

// The non-empty lines of `text`.
inline std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// A program started with pipes; killed and reaped when it goes away unless
// finish() reaped it first.
class Child {
 public:
  explicit Child(std::vector<std::string> arguments) {
    ::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not end the test
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe2 failed");
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::execv(argv[0], argv.data());
      static const char message[] = "e2e: exec failed\n";
      [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    output_ = out[0];
    error_ = err[0];
  }

  ~Child() {
    closeInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    if (output_ >= 0) ::close(output_);
    if (error_ >= 0) ::close(error_);
  }

  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Writes `text` to the program's standard input; false when it stopped
  // reading.
  bool send(std::string_view text) {
    while (!text.empty()) {
      if (input_ < 0) return false;
      ssize_t count = ::write(input_, text.data(), text.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return false;
      text.remove_prefix(static_cast<size_t>(count));
    }
    return true;
  }

  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  // Reads until `done(standard output so far)` holds; false when the program
  // closed its output or the guard ran out first.
  bool readUntil(const std::function<bool(const std::string&)>& done,
                 std::chrono::seconds guard = kGuard) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!done(out_)) {
      if (output_ < 0 || !pump(deadline)) return done(out_);
    }
    return true;
  }

  // Reads until `text` appears in the standard output.
  bool readUntilText(const std::string& text, std::chrono::seconds guard = kGuard) {
    return readUntil([&](const std::string& out) { return out.find(text) != std::string::npos; },
                     guard);
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // Closes the input, reads both outputs to their end and reaps the program,
  // killing it when the guard runs out.
  Outcome finish(std::chrono::seconds guard = kGuard) {
    closeInput();
    const auto deadline = std::chrono::steady_clock::now() + guard;
    Outcome outcome;
    while (output_ >= 0 || error_ >= 0) {
      if (!pump(deadline)) {
        outcome.timedOut = true;
        ::kill(pid_, SIGKILL);
        break;
      }
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    outcome.exited = WIFEXITED(status);
    outcome.status = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.out = out_;
    outcome.err = err_;
    return outcome;
  }

 private:
  // Waits for either output and takes what is there; false when the deadline
  // passed first.
  bool pump(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{output_, POLLIN, 0}, {error_, POLLIN, 0}};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    if (ready <= 0) return std::chrono::steady_clock::now() < deadline;
    take(fds[0], output_, out_);
    take(fds[1], error_, err_);
    return true;
  }

  static void take(const pollfd& polled, int& fd, std::string& into) {
    if (fd < 0 || polled.revents == 0) return;
    char buffer[4096];
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) return;
    if (count <= 0) {
      ::close(fd);
      fd = -1;
      return;
    }
    into.append(buffer, static_cast<size_t>(count));
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int error_ = -1;
  std::string out_;
  std::string err_;
};

// Runs a program to its end with `input` on its standard input.
inline Outcome run(std::vector<std::string> arguments, const std::string& input = {}) {
  Child child(std::move(arguments));
  child.send(input);
  return child.finish();
}

// The zelvora tool on the device `root`, with the region when given.
inline Outcome zelvora(const std::string& root, std::vector<std::string> arguments,
                       const std::string& input = {}) {
  arguments.insert(arguments.begin(), {program("zelvora"), "--root", root});
  return run(std::move(arguments), input);
}

// Whether the program ended by itself with status 0.
inline bool cleanExit(const Outcome& outcome) {
  return !outcome.timedOut && outcome.exited && outcome.status == 0;
}

// What `zelvora settings get KEY` prints on the device, or "(absent)" when it
// finds nothing.
inline std::string setting(const std::string& root, const std::string& key) {
  Outcome outcome = zelvora(root, {"settings", "get", key});
  if (outcome.exited && outcome.status == 1 && outcome.out.empty()) return "(absent)";
  EXPECT_TRUE(cleanExit(outcome)) << describe(outcome);
  return outcome.out;
}

// Stores a setting with `zelvora settings set`.
inline void storeSetting(const std::string& root, const std::string& key,
                         const std::string& value) {
  Outcome outcome = zelvora(root, {"settings", "set", key, value});
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
}

// ---- the home screen's output

// One printed call alert window: the command line after "-- " and the drawing
// with its legend.
struct Window {
  std::string command;
  std::string drawing;
};

// The windows in the home screen's output, in order.
inline std::vector<Window> windowsOf(const std::string& out) {
  std::vector<Window> windows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("-- ")) {
      windows.push_back({line.substr(3), {}});
    } else if (!windows.empty()) {
      windows.back().drawing += line + "\n";
    }
  }
  return windows;
}

// A label in a window's legend.
struct LegendLabel {
  std::string description;  // from "frame" to the end of the line
  std::string text;         // the quoted text, unquoted
};

// The labels of the window's legend with the frame `frame`, such as
// "(0, 458, 320, 22)", bottom to top.
inline std::vector<LegendLabel> labelsAt(const std::string& drawing, const std::string& frame) {
  static const std::regex legendLine(R"re(^ +\d+\. UILabel (frame \((.*)\) .* text "(.*)")$)re");
  std::vector<LegendLabel> labels;
  std::istringstream in(drawing);
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (std::regex_match(line, match, legendLine) && "(" + match[2].str() + ")" == frame) {
      labels.push_back({match[1].str(), match[3].str()});
    }
  }
  return labels;
}

// The texts of the area labels along the bottom of the 320 x 480 call alert.
inline std::vector<std::string> areaTexts(const Window& window) {
  std::vector<std::string> texts;
  for (const auto& label : labelsAt(window.drawing, "(0, 458, 320, 22)")) {
    texts.push_back(label.text);
  }
  return texts;
}

// The window printed for `command`, or an empty one when there is none.
inline Window windowFor(const std::vector<Window>& windows, const std::string& command) {
  for (const auto& window : windows) {
    if (window.command == command) return window;
  }
  return {};
}

// ---- the Recents list

struct RecentsRow {
  std::string name;  // the first label, without its padding
  std::string kind;  // the second label
};

// The rows printed under `heading` (a line of its own) by the phone
// application.
inline std::vector<RecentsRow> recentsRows(const std::string& out, const std::string& heading) {
  static const std::regex rowLine(R"re(^ *\d+  (.{24})  (.*)$)re");
  std::vector<RecentsRow> rows;
  std::istringstream in(out);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (std::regex_match(line, match, rowLine)) {
      if (inside) {
        std::string name = match[1].str();
        name.erase(name.find_last_not_of(' ') + 1);
        rows.push_back({name, match[2].str()});
      }
    } else {
      inside = line == heading || line.starts_with(heading + " (");
    }
  }
  return rows;
}

inline std::vector<std::string> kindsOf(const std::vector<RecentsRow>& rows) {
  std::vector<std::string> kinds;
  for (const auto& row : rows) kinds.push_back(row.kind);
  return kinds;
}

// ---- the device root

inline std::string extensionsFolder(const std::string& root) {
  return root + "/Library/MobileSubstrate/DynamicLibraries";
}

inline std::string preferencesFile(const std::string& root) {
  return root + "/var/mobile/Library/Preferences/org.tarnwick.ZelvoraPrefs.plist";
}

inline void writeFile(const std::string& path, std::string_view contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

inline std::optional<std::string> readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

// Copies the built library and, when asked, its filter into the device's
// extension folder, as the package manager installs them.
inline void installLibrary(const std::string& root, bool withFilter = true) {
  const std::string folder = extensionsFolder(root);
  std::filesystem::create_directories(folder);
  for (const char* name : {"ZelvoraPro.dylib", "ZelvoraPro.plist"}) {
    if (!withFilter && std::string_view(name).ends_with(".plist")) continue;
    std::filesystem::copy_file(program(name), folder + "/" + name,
                               std::filesystem::copy_options::overwrite_existing);
  }
}

// A filter property list naming `bundles`.
inline std::string filterFor(const std::vector<std::string>& bundles) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<plist version=\"1.0\">\n<dict>\n\t<key>Filter</key>\n\t<dict>\n"
      "\t\t<key>Bundles</key>\n\t\t<array>\n";
  for (const auto& bundle : bundles) text += "\t\t\t<string>" + bundle + "</string>\n";
  return text + "\t\t</array>\n\t</dict>\n</dict>\n</plist>\n";
}

}  // namespace e2e
