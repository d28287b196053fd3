// The bash and zsh completions of zelvora, as the build writes them, asked to
// complete command lines the way an interactive shell does: they offer the
// commands and options the tool's help lists, the settings, the languages
// `data install` accepts, files and folders, and nothing for free text.
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

// bash: sources the script and calls the function it registers for zelvora,
// with the words as readline splits them ("--opt=value" is "--opt", "=",
// "value").
const char* const kBash = R"script(source "$1" || exit 3; shift
registered=$(complete -p zelvora) || exit 4
function=${registered##*-F }; function=${function%% *}
COMP_WORDS=(zelvora "$@"); COMP_CWORD=$#
COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
"$function" zelvora "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}")script";

// zsh: the completion system's builtins and helpers stand in as functions
// that print what they are given and keep what matches the word being
// completed; _files prints "(files)", or "(folders)" for folders only.
const char* const kZsh = R"script(compadd() { [[ $1 == -- ]] && shift; local c
  for c in "$@"; do [[ $c == ${PREFIX}* ]] && print -r -- $c; done }
_describe() { local c; for c in "${(@P)${@[-1]}}"; do
  c=${c%%:*}; [[ $c == ${PREFIX}* ]] && print -r -- $c; done }
_files() { [[ $1 == -/ ]] && print -r -- "(folders)" || print -r -- "(files)" }
compset() { [[ $1 == -P ]] && PREFIX=${PREFIX#*=} }
compdef() { registered=$* }
source "$1" || exit 3; shift
[[ $registered == "_zelvora zelvora" ]] || exit 4
words=(zelvora "$@"); CURRENT=${#words}; PREFIX=${words[-1]}
_zelvora; true)script";

bool isBash(const std::string& shell) {
  return shell == "bash";
}

// What the completion offers for the last of `words` (after the program's
// name), sorted.
Texts completions(const std::string& shell, const Texts& words) {
  Texts arguments;
  if (isBash(shell)) {
    arguments = {"/bin/bash", "--norc", "--noprofile", "-c", kBash, "bash"};
    arguments.push_back(ZELVORA_BASH_COMPLETION);
    for (const std::string& word : words) {
      const size_t equals = word.find('=');
      if (!word.starts_with("-") || equals == std::string::npos) {
        arguments.push_back(word);
      } else {
        arguments.insert(arguments.end(), {word.substr(0, equals), "=", word.substr(equals + 1)});
        if (arguments.back().empty()) arguments.pop_back();
      }
    }
  } else {
    arguments = {"/usr/bin/zsh", "-f", "-c", kZsh, "zsh", ZELVORA_ZSH_COMPLETION};
    arguments.insert(arguments.end(), words.begin(), words.end());
  }
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

class Completion : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!isBash(GetParam()) && ::access("/usr/bin/zsh", X_OK) != 0)
      GTEST_SKIP() << "zsh is not installed (tools/install-deps.sh installs it)";
  }
  Texts complete(const Texts& words) const { return completions(GetParam(), words); }
};

TEST_P(Completion, OffersTheSubcommandsOfEveryCommand) {
  size_t checked = 0;
  for (const e2e::CommandHelp& command : e2e::everyCommandHelp()) {
    if (command.subcommands.empty()) continue;
    SCOPED_TRACE(command.usage);
    EXPECT_EQ(complete(with(command.words, "")), sorted(command.subcommands));
    ++checked;
  }
  EXPECT_GE(checked, 3u) << "the program, settings and data have commands";
}

// Each command's own options, and those of the commands above it, which the
// tool takes after a command's name too; nothing else.
TEST_P(Completion, OffersEveryOptionOfEveryCommand) {
  const auto commands = e2e::everyCommandHelp();
  std::map<Texts, Texts> optionsOf;
  for (const e2e::CommandHelp& command : commands) optionsOf[command.words] = command.options;
  for (const e2e::CommandHelp& command : commands) {
    SCOPED_TRACE(command.usage);
    const Texts offered = complete(with(command.words, "-"));
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

TEST_P(Completion, CompletesArgumentsByPositionAndSkipsOptionValues) {
  const Texts keys{"countryCode", "recents", "trunkPrefixx"};
  const std::pair<Texts, Texts> cases[] = {
      {{"settings", "get", ""}, keys},
      {{"settings", "unset", "t"}, {"trunkPrefixx"}},
      {{"settings", "set", "recents", ""}, {}},  // the value is free text
      {{"settings", "set", "--region", "GB", ""}, keys},
      {{"settings", "set", "--region=GB", ""}, keys},
      {{"--region", "GB", "se"}, {"settings"}},
      {{"--root", "home", "ho"}, {"home"}},  // "home" was the folder, not the command
      {{"data", "install", "--language", "d"}, {"de"}},
      {{"data", "install", "--language=d"}, {"de"}},
      {{"lookup", "--", "-"}, {}},  // after "--", a number
      {{"recents", "1", "2", ""}, {}},
      {{"call", "1", ""}, {}},
  };
  for (const auto& [words, offered] : cases) {
    std::string line;
    for (const auto& word : words) line += " " + word;
    SCOPED_TRACE("zelvora" + line);
    EXPECT_EQ(complete(words), offered);
  }
}

TEST_P(Completion, OffersTheLanguagesDataInstallAccepts) {
  testing_support::TempDevice device;
  const e2e::Outcome refused = e2e::zelvora(device.root(), {"data", "install", "--language", "?"});
  const std::string listed = "the bundle has: ";
  const size_t at = refused.err.find(listed);
  ASSERT_EQ(refused.status, 2) << e2e::describe(refused);
  ASSERT_NE(at, std::string::npos) << refused.err;
  Texts accepted;
  std::istringstream in(refused.err.substr(at + listed.size()));
  for (std::string language; in >> language;) accepted.push_back(language);
  EXPECT_GE(accepted.size(), 2u);
  EXPECT_EQ(complete({"data", "install", "--language", ""}), sorted(accepted));
  EXPECT_EQ(complete({"data", "install", "--language="}), sorted(accepted));
}

TEST_P(Completion, CompletesFilesForPicturesAndFoldersForTheDevice) {
  testing_support::TempDevice place;
  place.writeFile("/picture.png", "");
  ASSERT_EQ(::mkdir((place.root() + "/pictures").c_str(), 0755), 0);
  const std::string start = place.root() + "/pic";
  // bash lists them; zsh's own _files does, from what it is asked for.
  const Texts files = isBash(GetParam())
                          ? Texts{place.root() + "/picture.png", place.root() + "/pictures"}
                          : Texts{"(files)"};
  const Texts folders = isBash(GetParam()) ? Texts{place.root() + "/pictures"} : Texts{"(folders)"};
  EXPECT_EQ(complete({"call", "--png", start}), files);
  EXPECT_EQ(complete({"recents", "--png", start}), files);
  EXPECT_EQ(complete({"--root", start}), folders);
  EXPECT_EQ(complete({"lookup", "--root", start}), folders);
}

INSTANTIATE_TEST_SUITE_P(Shells, Completion, testing::Values("bash", "zsh"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
