// The built zelvora tool's commands as its help shows them: `zelvora --help`
// names the commands, and each `zelvora COMMAND... --help` its usage, options,
// arguments and subcommands. Read from the help text, independently of the
// command table the manual page and the completion are made from, so that a
// command the table leaves out is noticed.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"

namespace e2e {

struct CommandHelp {
  Texts words;        // after the program's name: {"settings", "get"}
  std::string usage;  // "zelvora settings get [OPTIONS] KEY"
  Texts options;      // every name: "-h", "--help", "--png", ...
  Texts arguments;    // "KEY", "NUMBER", ...
  Texts subcommands;  // their names: "get", "set", "unset"
};

// The names an entry of a help section begins with: "  --png FILE   ..."
// gives {"--png"}, "  -h,--help   ..." {"-h", "--help"}; none for a line that
// is not an entry (a continued description is indented further).
inline Texts entryNames(const std::string& line) {
  if (line.size() < 3 || !line.starts_with("  ") || line[2] == ' ') return {};
  std::string head = line.substr(2, line.find(' ', 2) - 2);
  Texts names;
  std::istringstream parts(head);
  for (std::string name; std::getline(parts, name, ',');) names.push_back(name);
  return names;
}

inline CommandHelp commandHelp(const Texts& words) {
  Texts arguments{program("zelvora")};
  arguments.insert(arguments.end(), words.begin(), words.end());
  arguments.push_back("--help");
  const Outcome outcome = run(arguments);
  EXPECT_EQ(outcome.status, 0) << describe(outcome);
  CommandHelp help{words, {}, {}, {}, {}};
  std::istringstream in(outcome.out);
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("Usage: ")) {
      help.usage = line.substr(7);
    } else if (!line.empty() && line[0] != ' ') {
      section = line;
    } else if (line.empty()) {
      section.clear();
    } else if (Texts names = entryNames(line); names.empty()) {
      continue;
    } else if (section == "Options:") {
      help.options.insert(help.options.end(), names.begin(), names.end());
    } else if (section == "Positionals:") {
      help.arguments.push_back(names.front());
    } else if (section == "Subcommands:") {
      help.subcommands.push_back(names.front());
    }
  }
  return help;
}

// The program itself first, then every command and subcommand it lists.
inline std::vector<CommandHelp> everyCommandHelp() {
  std::vector<CommandHelp> all{commandHelp({})};
  for (size_t next = 0; next < all.size(); ++next) {
    for (const std::string& sub : Texts(all[next].subcommands)) {
      Texts words = all[next].words;
      words.push_back(sub);
      all.push_back(commandHelp(words));
    }
  }
  return all;
}

}  // namespace e2e
