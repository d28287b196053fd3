// zelvora: the command-line face of ZelvoraPro.
//
// The command line is parsed with CLI11. Every command is registered in
// addCommands below, with its own options and --help; what a command does
// lives in its own file (commands.h), and gets its arguments as a list of
// texts, as it would from the command line.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command_table.h"
#include "commands.h"
#include "common/host_setup.h"
#include "common/standard_streams.h"
#include "host/foundation/preferences.h"
#include "lookup/country_data.h"
#include "lookup/preference_keys.h"
#include "output.h"
#include "settings_values.h"
#include "waiting.h"

namespace {

constexpr const char* kExitStatus =
    "Exit status:\n"
    "  0  done\n"
    "  1  failed: a number, setting or file could not be handled, a setting asked for\n"
    "     is absent, another process held a lock longer than --wait allows, or the\n"
    "     output or input could not be used\n"
    "  2  usage error: unknown command or option, missing or bad argument or value\n";

// What the parsed command line asks for: the global options, the values of
// the chosen command, and the command to run with them.
struct Invocation {
  apps::CommonOptions options;
  std::vector<std::string> numbers;
  std::string key, value, png, language;
  bool outgoing = false, again = false, verbose = false, carrier = false;
  bool explain = false, json = false;
  std::function<int()> run;
  // Commands that do not start a host program work on the device in this
  // process, which is set up for them first.
  bool needsDevice = true;
};

CLI::App* addCommand(CLI::App& app, const std::string& name, const std::string& description) {
  CLI::App* command = app.add_subcommand(name, description);
  command->footer(std::string("Every command also takes --root DIR, --region XX and --wait "
                              "SECONDS (see zelvora --help).\n\n") +
                  kExitStatus);
  return command;
}

// --png FILE and --verbose of call and recents, handed on to the command as
// they would be written.
void addPictureOptions(CLI::App* command, Invocation& invocation) {
  command->add_option("--png", invocation.png, "also draw the screen as a PNG picture into FILE")
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](std::string& file) { return file.empty() ? "--png needs a file name" : ""; }, ""));
  command->add_flag("--verbose", invocation.verbose, "also list the views of the window");
}

void handOnPictureOptions(const Invocation& invocation, zelvora::Arguments& arguments) {
  if (!invocation.png.empty()) arguments.insert(arguments.end(), {"--png", invocation.png});
  if (invocation.verbose) arguments.push_back("--verbose");
}

// Refuses a key that is not one of the settings, before anything is read.
const CLI::Validator kSettingKey(
    [](std::string& key) {
      return zelvora::knownSetting(key)
                 ? std::string()
                 : "unknown setting \"" + key +
                       "\" (the settings are countryCode, trunkPrefixx and recents)";
    },
    "countryCode|trunkPrefixx|recents");

void addPhoneCommands(CLI::App& app, Invocation& invocation) {
  CLI::App* call = addCommand(
      app, "call",
      "a call rings in (or, --outgoing, is placed) on the simulated home screen: the call "
      "alert with the caller's area");
  call->add_option("NUMBER", invocation.value, "the other party's number")->required();
  call->add_flag("--outgoing", invocation.outgoing, "the call is placed instead of ringing in");
  addPictureOptions(call, invocation);
  call->callback([&invocation] {
    invocation.needsDevice = false;
    invocation.run = [&invocation] {
      zelvora::Arguments arguments;
      if (invocation.outgoing) arguments.push_back("--outgoing");
      handOnPictureOptions(invocation, arguments);
      arguments.push_back(invocation.value);
      return zelvora::runCall(arguments, invocation.options);
    };
  });

  CLI::App* recents = addCommand(app, "recents",
                                 "the simulated phone's Recents list, one row per number, with "
                                 "the area on the first rows");
  recents->add_option("NUMBER", invocation.numbers, "the rows' numbers, top first")->required();
  recents->add_flag("--again", invocation.again,
                    "show the list a second time, as rows scrolled back");
  addPictureOptions(recents, invocation);
  recents->callback([&invocation] {
    invocation.needsDevice = false;
    invocation.run = [&invocation] {
      zelvora::Arguments arguments;
      if (invocation.again) arguments.push_back("--again");
      handOnPictureOptions(invocation, arguments);
      arguments.insert(arguments.end(), invocation.numbers.begin(), invocation.numbers.end());
      return zelvora::runRecents(arguments, invocation.options);
    };
  });

  CLI::App* springboard =
      addCommand(app, "springboard",
                 "the home screen, driven by commands on standard input, one a line: call N, "
                 "outgoing N, answer, end, refresh, quit");
  springboard->add_flag("--verbose", invocation.verbose, "also list the views of the window");
  springboard->callback([&invocation] {
    invocation.needsDevice = false;
    invocation.run = [&invocation] {
      zelvora::Arguments arguments;
      if (invocation.verbose) arguments.push_back("--verbose");
      return zelvora::runSpringBoard(arguments, invocation.options);
    };
  });
}

void addLookupCommands(CLI::App& app, Invocation& invocation) {
  CLI::App* lookup = addCommand(app, "lookup", "the area of each number, one line each");
  lookup
      ->add_option("NUMBER", invocation.numbers,
                   "a number, or - for numbers from standard input, one a line; put -- "
                   "before a number that begins with -")
      ->required();
  CLI::Option* explain = lookup->add_flag(
      "--explain", invocation.explain,
      "say how each number was read, one step a line: the home country, how it was written, "
      "its calling code and national number, the key, file and language that gave the area");
  lookup
      ->add_flag("--json", invocation.json,
                 "write one JSON object a line for each number, with the same facts as fields")
      ->excludes(explain);
  lookup->callback([&invocation] {
    invocation.run = [&invocation] {
      return zelvora::runLookup(invocation.numbers,
                                invocation.explain ? zelvora::LookupOutput::explain
                                : invocation.json  ? zelvora::LookupOutput::json
                                                   : zelvora::LookupOutput::area);
    };
  });

  CLI::App* home = addCommand(
      app, "home", "settle and print the home calling code and trunk prefix, tab-separated");
  home->callback([&invocation] { invocation.run = [] { return zelvora::runHome({}); }; });
}

void addSettingsCommands(CLI::App& app, Invocation& invocation) {
  CLI::App* settings =
      addCommand(app, "settings",
                 "list the settings (countryCode, trunkPrefixx, recents): key, value and kind");
  settings->require_subcommand(0, 1);
  settings->callback([settings, &invocation] {
    if (settings->get_subcommands().empty()) {
      invocation.run = [] { return zelvora::runSettings({}); };
    }
  });

  CLI::App* get = addCommand(*settings, "get",
                             "print one setting (exit status 1 and nothing printed when it "
                             "is not stored)");
  get->add_option("KEY", invocation.key, "the setting")->required()->check(kSettingKey);
  get->callback([&invocation] {
    invocation.run = [&invocation] { return zelvora::runSettings({"get", invocation.key}); };
  });

  CLI::App* set = addCommand(*settings, "set",
                             "check and store a setting, and tell running programs: "
                             "countryCode digits without +, trunkPrefixx digits or "
                             "nothing, recents a whole number of 0 or more");
  set->add_option("KEY", invocation.key, "the setting")->required()->check(kSettingKey);
  set->add_option("VALUE", invocation.value, "the new value")->required();
  set->callback([&invocation] {
    invocation.run = [&invocation] {
      return zelvora::runSettings({"set", invocation.key, invocation.value});
    };
  });

  CLI::App* unset = addCommand(*settings, "unset", "remove a setting, and tell running programs");
  unset->add_option("KEY", invocation.key, "the setting")->required()->check(kSettingKey);
  unset->callback([&invocation] {
    invocation.run = [&invocation] { return zelvora::runSettings({"unset", invocation.key}); };
  });
}

void addDataCommands(CLI::App& app, Invocation& invocation) {
  CLI::App* data = addCommand(app, "data",
                              "show the area-code set installed on the device (language, "
                              "carriers, files the user put there)");
  data->require_subcommand(0, 1);
  data->callback([data, &invocation] {
    if (data->get_subcommands().empty()) {
      invocation.run = [] { return zelvora::runData({}); };
    }
  });

  CLI::App* install = addCommand(*data, "install",
                                 "install a complete area-code set in LANG into the device "
                                 "folder, each file replaced atomically");
  install->add_option("--language", invocation.language, "the language (default: en)")
      ->type_name("LANG");
  install->add_flag("--carrier", invocation.carrier, "add the carrier's name to mobile prefixes");
  install->callback([&invocation] {
    invocation.run = [&invocation] {
      zelvora::Arguments arguments{"install"};
      if (!invocation.language.empty())
        arguments.insert(arguments.end(), {"--language", invocation.language});
      if (invocation.carrier) arguments.push_back("--carrier");
      return zelvora::runData(arguments);
    };
  });

  CLI::App* remove = addCommand(*data, "remove",
                                "remove the installed set, leaving files the user put there or "
                                "changed; the bundled English set answers again");
  remove->callback([&invocation] { invocation.run = [] { return zelvora::runData({"remove"}); }; });
}

// Every command of the tool, in the order the help lists them. A new command
// is registered here: a function like those above adds the subcommand with
// its options (their values kept in Invocation) and, in its callback, sets
// invocation.run to call the command's body with its arguments.
void addCommands(CLI::App& app, Invocation& invocation) {
  addPhoneCommands(app, invocation);
  addLookupCommands(app, invocation);
  addSettingsCommands(app, invocation);
  addDataCommands(app, invocation);
}

// The most deeply chosen command, for naming its help in an error.
std::string chosenCommand(CLI::App& app) {
  std::string name = "zelvora";
  for (CLI::App* command = &app; !command->get_subcommands().empty();) {
    command = command->get_subcommands().front();
    name += " " + command->get_name();
  }
  return name;
}

// The parse error in words. A missing argument or command is reported as
// the word that stood in its place, when there is one: "lookup -x" is an
// unknown option, not a missing number.
std::string usageError(CLI::App& app, const CLI::ParseError& error) {
  const std::vector<std::string> left = app.remaining(true);
  const bool missing = dynamic_cast<const CLI::RequiredError*>(&error) != nullptr;
  const bool extra = dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr;
  if (missing && left.empty() && app.get_subcommands().empty()) return "no command given";
  if (left.empty() || !(missing || extra)) return error.what();
  if (extra && !left.front().starts_with("-"))
    return "unexpected argument \"" + left.front() + "\"";
  if (left.front().starts_with("-")) return "unknown option " + left.front();
  if (app.get_subcommands().empty()) return "unknown command \"" + left.front() + "\"";
  return "unexpected argument \"" + left.front() + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  apps::guardStandardDescriptors();
  zelvora::guardStandardOutput();
  Invocation invocation;
  CLI::App app("ZelvoraPro: where a telephone number comes from, on a simulated phone.", "zelvora");
  app.footer(kExitStatus);
  app.set_version_flag("-V,--version", "zelvora " ZELVORA_VERSION "\ndata: libphonenumber " +
                                           std::string(country_data::kRelease));
  // The global options are taken before or after the command.
  app.fallthrough();
  app.add_option_function<std::string>(
         "--root", [&invocation](const std::string& root) { invocation.options.root = root; },
         "the simulated device (default: $ZELVORA_ROOT, else $XDG_DATA_HOME/zelvora/device)")
      ->type_name("DIR")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option_function<std::string>(
         "--region",
         [&invocation](const std::string& region) { invocation.options.region = region; },
         "the device region (default: $ZELVORA_REGION, else the locale's)")
      ->type_name("XX")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option_function<std::string>(
         "--wait",
         [](const std::string& text) {
           std::string error;
           std::optional<int64_t> limit = zelvora::parseWaitSeconds(text, error);
           if (!limit) throw CLI::ValidationError(error);
           zelvora::setWaitLimit(*limit);
         },
         "how long a command that stores waits for a lock another process holds before it "
         "gives up (default: 10; 0: not at all)")
      ->type_name("SECONDS")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.require_subcommand(1);
  addCommands(app, invocation);
  zelvora::addCommandTableFlag(app);

  if (argc <= 1) {
    std::cerr << app.help();
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help() << std::flush;
    return 0;
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n" << std::flush;
    return 0;
  } catch (const CLI::Success&) {  // --command-table, already written
    return 0;
  } catch (const CLI::ParseError& error) {
    return zelvora::fail(2, usageError(app, error) + " (see " + chosenCommand(app) + " --help)");
  }

  if (invocation.needsDevice) {
    if (std::string error = apps::setUpDevice(invocation.options); !error.empty())
      return zelvora::fail(2, error);
  }
  // Lookups never wait for the preference lock: what they derive stays
  // pending when another process holds it. Commands that store wait, for a
  // while, and say so.
  host::setPreferencesLockWait(zelvora::lockWait(
      [] { return host::preferencesPath(kPrefsDomain) + ".lock"; }, "to store the preferences"));
  if (!invocation.run) return zelvora::fail(2, "no command given (see zelvora --help)");
  const int status = invocation.run();
  std::cout << std::flush;
  return status;
}
