// The command table (`zelvora --command-table`) that the manual page and the
// completions are made from, read directly and held against each command's
// own help.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include "e2e/command_help.h"

namespace {

using e2e::Texts;

struct TableCommand {
  std::string usage, kind;
  Texts options, arguments;
};

Texts fieldsOf(const std::string& line) {
  Texts fields;
  std::istringstream parts(line);
  for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
  return fields;
}

// Guards the table's rows: every command with the usage line its help
// prints, its kind, every option name and every argument, in fields that no
// tab or line break inside a description can split.
TEST(CommandTable, EachCommandAsItsHelpShowsIt) {
  const e2e::Outcome outcome = e2e::run({e2e::program("zelvora"), "--command-table"});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  std::map<std::string, TableCommand> table;
  std::istringstream lines(outcome.out);
  for (std::string line; std::getline(lines, line);) {
    const Texts fields = fieldsOf(line);
    ASSERT_GE(fields.size(), 2u) << line;
    TableCommand& command = table[fields[1]];
    if (fields[0] == "command") {
      ASSERT_EQ(fields.size(), 5u) << line;
      command.usage = fields[2];
      command.kind = fields[3];
    } else if (fields[0] == "option") {
      ASSERT_EQ(fields.size(), 5u) << line;
      std::istringstream names(fields[2]);
      for (std::string name; std::getline(names, name, ',');) command.options.push_back(name);
    } else {
      ASSERT_EQ(fields[0], "argument") << line;
      ASSERT_EQ(fields.size(), 6u) << line;
      command.arguments.push_back(fields[2]);
    }
  }
  size_t commands = 0;
  for (const e2e::CommandHelp& help : e2e::everyCommandHelp()) {
    std::string path = "zelvora";
    for (const std::string& word : help.words) path += " " + word;
    SCOPED_TRACE(path);
    ASSERT_EQ(table.count(path), 1u);
    TableCommand& command = table[path];
    EXPECT_EQ(command.usage, help.usage);
    EXPECT_EQ(command.kind, help.words.empty() ? "own" : "parent");
    Texts options = help.options;
    std::sort(options.begin(), options.end());
    std::sort(command.options.begin(), command.options.end());
    EXPECT_EQ(command.options, options);
    EXPECT_EQ(command.arguments, help.arguments);
    ++commands;
  }
  EXPECT_EQ(commands, table.size()) << "the table has a command the help does not show";
}

}  // namespace
