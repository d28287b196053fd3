// The bash completion of zelvora, as the build writes it, sourced into bash
// and asked to complete command lines the way an interactive shell does: it
// offers the commands and options the tool's help lists, the settings, the
// languages `data install` accepts, files and folders, and nothing for free
// text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "e2e/command_help.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

// Completes the last of `words` (after the program's name) with the function
// the script registers for zelvora, and gives what it offers, sorted.
Texts completions(const Texts& words) {
  static const char* const kComplete = R"(source "$1" || exit 3; shift
spec=$(complete -p zelvora) || exit 4
function=${spec##*-F }; function=${function%% *}
COMP_WORDS=(zelvora "$@"); COMP_CWORD=$#
COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
"$function" zelvora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}")";
  Texts arguments{"/bin/bash", "--norc", "--noprofile",          "-c",
                  kComplete,   "bash",   ZELVORA_BASH_COMPLETION};
  arguments.insert(arguments.end(), words.begin(), words.end());
  const e2e::Outcome outcome = e2e::run(arguments);
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.err, "");
  Texts offered;
  std::istringstream in(outcome.out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) offered.push_back(line);
  std::sort(offered.begin(), offered.end());
  return offered;
}

Texts sorted(Texts texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

Texts with(Texts words, const std::string& last) {
  words.push_back(last);
  return words;
}

TEST(Completion, OffersTheSubcommandsOfEveryCommand) {
  size_t checked = 0;
  for (const e2e::CommandHelp& command : e2e::everyCommandHelp()) {
    if (command.subcommands.empty()) continue;
    SCOPED_TRACE("zelvora " + command.usage);
    EXPECT_EQ(completions(with(command.words, "")), sorted(command.subcommands));
    ++checked;
  }
  EXPECT_GE(checked, 3u) << "the program, settings and data have commands";
}

// Each command's own options, and those of the commands above it, which the
// tool takes after a command's name too; nothing else.
TEST(Completion, OffersEveryOptionOfEveryCommand) {
  const auto commands = e2e::everyCommandHelp();
  std::map<Texts, Texts> optionsOf;
  for (const e2e::CommandHelp& command : commands) optionsOf[command.words] = command.options;
  for (const e2e::CommandHelp& command : commands) {
    SCOPED_TRACE("zelvora " + command.usage);
    const Texts offered = completions(with(command.words, "-"));
    std::set<std::string> allowed;
    for (Texts above = command.words;; above.pop_back()) {
      allowed.insert(optionsOf[above].begin(), optionsOf[above].end());
      if (above.empty()) break;
    }
    for (const std::string& option : command.options)
      EXPECT_TRUE(std::count(offered.begin(), offered.end(), option)) << "lacks " << option;
    for (const char* option : {"--root", "--region"})
      EXPECT_TRUE(std::count(offered.begin(), offered.end(), option)) << "lacks " << option;
    for (const std::string& option : offered)
      EXPECT_TRUE(allowed.count(option)) << "offers " << option << ", which it does not take";
  }
}

TEST(Completion, CompletesArgumentsByPositionAndSkipsOptionValues) {
  const Texts keys{"countryCode", "recents", "trunkPrefixx"};
  const std::pair<Texts, Texts> cases[] = {
      {{"settings", "get", ""}, keys},
      {{"settings", "unset", "t"}, {"trunkPrefixx"}},
      {{"settings", "set", "recents", ""}, {}},  // the value is free text
      {{"settings", "set", "--region", "GB", ""}, keys},
      {{"--region", "GB", "se"}, {"settings"}},
      {{"--root", "home", "ho"}, {"home"}},  // "home" was the folder, not the command
      {{"data", "install", "--language", "=", "d"}, {"de"}},
      {{"data", "install", "--language", "="}, completions({"data", "install", "--language", ""})},
      {{"lookup", "--", "-"}, {}},  // after "--", a number
      {{"recents", "1", "2", ""}, {}},
      {{"call", "1", ""}, {}},
  };
  for (const auto& [words, offered] : cases) {
    std::string line;
    for (const auto& word : words) line += " " + word;
    SCOPED_TRACE("zelvora" + line);
    EXPECT_EQ(completions(words), offered);
  }
}

TEST(Completion, OffersTheLanguagesDataInstallAccepts) {
  testing_support::TempDevice device;
  const e2e::Outcome refused = e2e::zelvora(device.root(), {"data", "install", "--language", "?"});
  const std::string listed = "the bundle has: ";
  const size_t at = refused.err.find(listed);
  ASSERT_EQ(refused.status, 2) << e2e::describe(refused);
  ASSERT_NE(at, std::string::npos) << refused.err;
  Texts accepted;
  std::istringstream in(refused.err.substr(at + listed.size()));
  for (std::string language; in >> language;) accepted.push_back(language);
  EXPECT_EQ(completions({"data", "install", "--language", ""}), sorted(accepted));
  EXPECT_GE(accepted.size(), 2u);
}

TEST(Completion, CompletesFilesForPicturesAndFoldersForTheDevice) {
  testing_support::TempDevice place;
  place.writeFile("/picture.png", "");
  ASSERT_EQ(::mkdir((place.root() + "/pictures").c_str(), 0755), 0);
  const std::string start = place.root() + "/pic";
  const Texts both{place.root() + "/picture.png", place.root() + "/pictures"};
  EXPECT_EQ(completions({"call", "--png", start}), both);
  EXPECT_EQ(completions({"recents", "--png", start}), both);
  EXPECT_EQ(completions({"--root", start}), Texts{place.root() + "/pictures"});
  EXPECT_EQ(completions({"lookup", "--root", start}), Texts{place.root() + "/pictures"});
}

}  // namespace
