// The zelvora tool's command table in a form a build script reads. The manual
// page and the shell completions are made from it, so a command, option or
// argument registered with CLI11 shows in both without a second edit.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace zelvora {

// Every command of `app`, `app` itself first and then its subcommands depth
// first in the order the help lists them, each followed by its options and
// arguments. One record a line, its fields separated by tabs:
//
//   command   PATH  USAGE  PARENT  DESCRIPTION
//   option    PATH  NAMES  VALUE   DESCRIPTION
//   argument  PATH  NAME   VALUE   COUNT  DESCRIPTION
//
// PATH is the command's words from the program's name ("zelvora settings
// get"); USAGE is its usage line as its help prints it, without "Usage: ".
// PARENT is "parent" when the command also takes the options of the command
// above it, else "own". NAMES are an option's names joined by commas
// ("-h,--help"); VALUE is the name of the value it takes (CLI11's type name,
// such as "DIR", or "TEXT:countryCode|trunkPrefixx|recents" for a value that
// must be one of those), empty for a flag. An argument's COUNT is "one" or
// "many". Tabs and line breaks inside a text become spaces. Options without a
// group are hidden from the help and left out here too.
std::string commandTable(const CLI::App& app);

// Adds the hidden flag --command-table to `app`: it writes commandTable(app)
// to standard output and throws CLI::Success, before any command is required,
// so the caller ends with status 0.
void addCommandTableFlag(CLI::App& app);

}  // namespace zelvora
