// The manual page zelvora(1), as the build writes it: every command the tool's
// help lists has a subsection under its usage line naming its arguments and
// options, and the program's own options are under OPTIONS.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "e2e/command_help.h"

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

// The page's text under each heading (".SH NAME" gives "NAME", `.SS "zelvora
// call [OPTIONS] NUMBER"` gives the usage line), with roff's font changes and
// escapes taken out. The text before the first heading is under "".
std::map<std::string, std::string> manualSections() {
  std::ifstream file(ZELVORA_MANUAL);
  EXPECT_TRUE(file) << "no manual page " << ZELVORA_MANUAL;
  std::map<std::string, std::string> sections;
  std::string heading;
  for (std::string line; std::getline(file, line);) {
    for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP", "\\&"}) replaceAll(line, font, "");
    replaceAll(line, "\\-", "-");
    replaceAll(line, "\\e", "\\");
    if (line.starts_with(".SH ") || line.starts_with(".SS ")) {
      heading = line.substr(4);
      if (heading.size() >= 2 && heading.front() == '"' && heading.back() == '"')
        heading = heading.substr(1, heading.size() - 2);
    } else {
      sections[heading] += line + "\n";
    }
  }
  return sections;
}

TEST(ManualPage, DocumentsEveryCommandWithItsArgumentsAndOptions) {
  const auto sections = manualSections();
  const auto commands = e2e::everyCommandHelp();
  ASSERT_GT(commands.size(), 1u) << "the help lists no commands";
  for (const e2e::CommandHelp& command : commands) {
    const bool program = command.words.empty();
    const std::string heading = program ? "OPTIONS" : command.usage;
    SCOPED_TRACE(heading);
    const auto found = sections.find(heading);
    ASSERT_NE(found, sections.end()) << "the manual page has no section " << heading;
    for (const std::string& name : command.arguments) {
      EXPECT_NE(found->second.find(name), std::string::npos) << "argument " << name;
    }
    for (const std::string& name : command.options) {
      // Every command's -h and --help is said once, under OPTIONS.
      if (!program && (name == "-h" || name == "--help")) continue;
      EXPECT_NE(found->second.find(name), std::string::npos) << "option " << name;
    }
  }
}

TEST(ManualPage, IsThisVersionsPage) {
  std::ifstream file(ZELVORA_MANUAL);
  std::string title;
  while (std::getline(file, title) && !title.starts_with(".TH ")) {
  }
  EXPECT_NE(title.find("\"zelvora " ZELVORA_VERSION "\""), std::string::npos) << title;
}

}  // namespace
