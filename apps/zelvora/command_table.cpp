#include "command_table.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace zelvora {
namespace {

// A text as one field: a tab or line break inside it would start another.
std::string field(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// The usage line the command's help prints, from the same formatter.
std::string usageOf(const CLI::App& command, const std::string& path) {
  auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(command.get_formatter());
  if (!formatter) return path;
  std::string usage = formatter->make_usage(&command, path);
  if (usage.starts_with("Usage: ")) usage.erase(0, 7);
  while (!usage.empty() && (usage.back() == '\n' || usage.back() == ' ')) usage.pop_back();
  return usage;
}

void describe(const CLI::App& command, const std::string& path, std::string& table) {
  const bool parent = command.get_parent() != nullptr && command.get_fallthrough();
  table += "command\t" + path + "\t" + field(usageOf(command, path)) + "\t" +
           (parent ? "parent" : "own") + "\t" + field(command.get_description()) + "\n";
  for (const CLI::Option* option :
       command.get_options([](const CLI::Option* o) { return !o->get_group().empty(); })) {
    const std::string value = option->get_type_size() == 0 ? "" : option->get_type_name();
    if (option->get_positional()) {
      const bool many = option->get_items_expected_max() > 1;
      table += "argument\t" + path + "\t" + field(option->get_name(true, false)) + "\t" +
               field(value) + "\t" + (many ? "many" : "one") + "\t" +
               field(option->get_description()) + "\n";
    } else {
      table += "option\t" + path + "\t" + field(option->get_name(false, true)) + "\t" +
               field(value) + "\t" + field(option->get_description()) + "\n";
    }
  }
  for (const CLI::App* sub :
       command.get_subcommands([](const CLI::App* s) { return !s->get_name().empty(); })) {
    describe(*sub, path + " " + sub->get_name(), table);
  }
}

}  // namespace

std::string commandTable(const CLI::App& app) {
  std::string table;
  describe(app, app.get_name(), table);
  return table;
}

void addCommandTableFlag(CLI::App& app) {
  app.add_flag_callback("--command-table",
                        [&app] {
                          std::cout << commandTable(app) << std::flush;
                          throw CLI::Success();
                        })
      ->group("");
}

}  // namespace zelvora
