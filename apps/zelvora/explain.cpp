#include "explain.h"

#include <filesystem>
#include <sstream>

#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/country_tables.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

std::string text(std::u16string_view units) {
  return toUtf8(units);
}

std::string fileName(const std::string& path) {
  return fs::path(path).filename().string();
}

// The trunk prefix as the lookup holds it, or none when it is not a text.
std::optional<std::string> trunkText(const HomeCountry& home) {
  if (const auto* trunk = objectAs<NSString>(home.trunkPrefix)) return text(trunk->units());
  return std::nullopt;
}

std::string regionOfDevice() {
  const std::optional<std::string>& region = host::deviceRegion();
  return region ? *region : std::string();
}

// How the number was written, as one word of the JSON output.
const char* readingOf(const LookupTrace& trace) {
  if (trace.stage == LookupTrace::Stage::noNumber || trace.stage == LookupTrace::Stage::refusedNul)
    return "none";
  if (!trace.parts.international) return "national";
  return trace.parts.internationalPrefix.empty() ? "plus" : "internationalPrefix";
}

const char* deviceFileWord(AreaLookupDetail::DeviceFile device) {
  switch (device) {
    case AreaLookupDetail::DeviceFile::used:
      return "used";
    case AreaLookupDetail::DeviceFile::missing:
      return "missing";
    case AreaLookupDetail::DeviceFile::unusable:
      return "unusable";
    case AreaLookupDetail::DeviceFile::notUtf8:
      return "notUtf8";
    case AreaLookupDetail::DeviceFile::failed:
      return "failed";
  }
  return "missing";
}

// The matched key: the calling code and the compared part of the number.
std::string keyOf(const LookupTrace& trace) {
  return text(trace.parts.callingCode) +
         text(std::u16string_view(trace.parts.nationalNumber).substr(0, trace.area.matchedUnits));
}

// "the bundled 44.txt" or "the device's 44.txt".
std::string fileWords(const LookupTrace& trace) {
  const bool bundled = trace.area.file == AreaLookupDetail::File::bundled;
  return std::string(bundled ? "the bundled " : "the device's ") + fileName(trace.area.path);
}

}  // namespace

ExplainContext::ExplainContext(const std::string& dataDir) {
  hasManifest_ = readManifest(dataFolder(), manifest_);
  std::string lines;
  if (host::readWholeFile((fs::path(dataDir) / "country-lines.txt").string(), lines)) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      const size_t bar = line.find('|');
      if (bar != std::string::npos) countryLines_[line.substr(0, bar)] = line.substr(bar + 1);
    }
  }
}

std::optional<std::string> ExplainContext::languageCodeOf(const AreaLookupDetail& area) const {
  if (area.file == AreaLookupDetail::File::bundled) return "en";
  if (area.file != AreaLookupDetail::File::device || !hasManifest_) return std::nullopt;
  const fs::path path(area.path);
  if (!writtenByTheTool(path.parent_path(), manifest_, path.filename().string()))
    return std::nullopt;
  return manifest_.language;
}

std::string ExplainContext::languageOf(const AreaLookupDetail& area) const {
  std::optional<std::string> language = languageCodeOf(area);
  if (!language) return "(your own file)";
  return "(language " + *language +
         (area.file == AreaLookupDetail::File::device ? ", installed)" : ")");
}

std::optional<std::string> ExplainContext::countryLineOf(const std::string& key) const {
  auto found = countryLines_.find(key);
  if (found == countryLines_.end()) return std::nullopt;
  return found->second;
}

std::string explainHome(const LookupTrace& trace) {
  const HomeCountry& home = trace.home;
  if (!home.callingCode) {
    return "home: none (countryCode is not set and the device region gives no calling code), "
           "so national numbers have no area";
  }
  const std::string code = text(*home.callingCode);
  std::string line = "home: calling code " + code;
  const std::optional<std::string> trunk = trunkText(home);
  line += !trunk           ? ", trunk prefix of the wrong kind (not a text)"
          : trunk->empty() ? ", no trunk prefix"
                           : ", trunk prefix " + *trunk;
  if (home.region.empty()) {
    line += ", no region: " + code + " is no calling code of a country the tables know";
  } else {
    line += ", region " + text(home.region) +
            (text(home.region) == regionOfDevice() ? " (the device region)"
                                                   : " (the main country of " + code + ")");
  }
  return line;
}

std::string explainNumber(std::string_view number, const LookupTrace& trace,
                          const ExplainContext& context) {
  std::string out(number);
  out += '\n';
  auto say = [&out](const std::string& line) { out += "  " + line + "\n"; };
  const NumberParts& parts = trace.parts;
  const HomeCountry& home = trace.home;
  switch (trace.stage) {
    case LookupTrace::Stage::noNumber:
      say("no number");
      return out;
    case LookupTrace::Stage::refusedNul:
      say("holds a NUL character, which no telephone number holds: refused");
      say("area: none");
      return out;
    default:
      break;
  }

  if (parts.international && parts.internationalPrefix.empty()) {
    say("written in international form, with \"+\"");
  } else if (parts.international) {
    say("written as a national number beginning with " + text(home.region) +
        "'s international call prefix " + text(parts.internationalPrefix));
  } else if (home.callingCode) {
    say("written as a national number: the home calling code " + text(*home.callingCode));
  } else {
    say("written as a national number, but there is no home country to look it up under");
  }
  if (trace.stage == LookupTrace::Stage::noLookup) {
    if (parts.international) say("no calling code that the tables know begins its digits");
    say("area: none");
    return out;
  }

  const std::string code = text(parts.callingCode);
  const std::optional<std::string> trunk = trunkText(home);
  if (parts.international && !parts.droppedPrefix.empty()) {
    say("the trunk prefix " + text(parts.droppedPrefix) + " in brackets after calling code " +
        code + " is left out");
  } else if (!parts.international && !parts.droppedPrefix.empty()) {
    if (trunk && text(parts.droppedPrefix) == *trunk) {
      say("the trunk prefix " + *trunk + " is dropped");
    } else {
      say("the national prefix " + text(parts.droppedPrefix) +
          " is dropped in place of the trunk " + "prefix " + trunk.value_or("?"));
    }
  } else if (!parts.international && trunk && !trunk->empty()) {
    say("it does not begin with the trunk prefix " + *trunk + ": every digit is kept");
  }
  say("calling code " + code +
      (parts.nationalNumber.empty() ? ", and no national number"
                                    : ", national number " + text(parts.nationalNumber)));
  if (!isKnownCallingCode(parts.callingCode)) {
    say("calling code " + code + " is no calling code that the tables know");
  }

  const AreaLookupDetail& area = trace.area;
  if (area.file == AreaLookupDetail::File::bundled &&
      area.device != AreaLookupDetail::DeviceFile::missing) {
    const char* why = area.device == AreaLookupDetail::DeviceFile::notUtf8 ? "is not valid UTF-8"
                      : area.device == AreaLookupDetail::DeviceFile::failed
                          ? "could not be read just now"
                          : "is not a file that can be read";
    say("the device's " + fileName(area.path) + " " + why + ", so the bundled copy is read");
  }
  if (area.file == AreaLookupDetail::File::none) {
    say("no readable " + code + ".txt on the device or in the bundle");
  } else if (trace.found) {
    const std::string key = keyOf(trace);
    std::string line = "key " + key + " in " + fileWords(trace) + " " + context.languageOf(area);
    if (context.languageCodeOf(area)) {
      if (std::optional<std::string> region = context.countryLineOf(key)) {
        line += ": the country line of " + *region + ", as no key names an area";
      }
    }
    say(line);
  } else {
    say("no key of " + fileWords(trace) + " " + context.languageOf(area) + " begins " +
        (parts.nationalNumber.empty() ? std::string("an empty national number")
                                      : text(parts.nationalNumber)));
  }
  say("area: " + (trace.found ? text(*trace.found) : std::string("none")));
  return out;
}

nlohmann::ordered_json describeNumber(std::string_view number, const LookupTrace& trace,
                                      const ExplainContext& context) {
  using json = nlohmann::ordered_json;
  auto textOrNull = [](std::u16string_view units) {
    return units.empty() ? json(nullptr) : json(text(units));
  };
  const NumberParts& parts = trace.parts;
  const AreaLookupDetail& area = trace.area;
  const bool lookedUp = trace.stage == LookupTrace::Stage::lookedUp;
  const bool hasFile = lookedUp && area.file != AreaLookupDetail::File::none;
  json home = json::object();
  home["callingCode"] = trace.home.callingCode ? json(text(*trace.home.callingCode)) : json();
  const std::optional<std::string> trunk = trunkText(trace.home);
  home["trunkPrefix"] = trunk ? json(*trunk) : json();
  home["region"] = textOrNull(trace.home.region);

  json out = json::object();
  out["number"] = std::string(number);
  out["area"] = trace.found ? json(text(*trace.found)) : json();
  out["callingCode"] = lookedUp ? json(text(parts.callingCode)) : json();
  out["nationalNumber"] = lookedUp ? json(text(parts.nationalNumber)) : json();
  out["reading"] = readingOf(trace);
  out["internationalPrefix"] = textOrNull(parts.internationalPrefix);
  out["droppedPrefix"] = textOrNull(parts.droppedPrefix);
  const std::string key = trace.found ? keyOf(trace) : std::string();
  out["key"] = trace.found ? json(key) : json();
  out["countryLine"] = json();
  if (trace.found && context.languageCodeOf(area)) {
    if (std::optional<std::string> region = context.countryLineOf(key))
      out["countryLine"] = *region;
  }
  out["file"] = hasFile ? json(area.path) : json();
  out["source"] = !hasFile                                       ? json()
                  : area.file == AreaLookupDetail::File::bundled ? json("bundled")
                                                                 : json("device");
  const std::optional<std::string> language = hasFile ? context.languageCodeOf(area) : std::nullopt;
  out["language"] = language ? json(*language) : json();
  out["deviceFile"] = lookedUp ? json(deviceFileWord(area.device)) : json();
  out["home"] = home;
  return out;
}

}  // namespace zelvora
