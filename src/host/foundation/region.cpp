#include "host/foundation/region.h"

#include <cstdlib>

namespace host {
namespace {

bool asciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

RegionChoice parseRegion(std::string_view value, std::string_view source) {
  if (value.size() != 2 || !asciiLetter(value[0]) || !asciiLetter(value[1])) {
    return {std::nullopt, std::string(source) + " \"" + std::string(value) +
                              "\" is not a two-letter region code such as GB"};
  }
  return {std::string{upper(value[0]), upper(value[1])}, {}};
}

std::optional<std::string> regionOfLocaleName(std::string_view localeName) {
  size_t end = localeName.find_first_of(".@");
  std::string_view base = localeName.substr(0, end);
  size_t underscore = base.find('_');
  if (underscore == std::string_view::npos) return std::nullopt;
  std::string_view region = base.substr(underscore + 1);
  if (region.size() != 2 || !asciiLetter(region[0]) || !asciiLetter(region[1])) {
    return std::nullopt;
  }
  return std::string{upper(region[0]), upper(region[1])};
}

RegionChoice chooseRegion(const std::optional<std::string>& explicitRegion) {
  if (explicitRegion) return parseRegion(*explicitRegion, "--region");
  if (const char* env = std::getenv("ZELVORA_REGION"); env && *env) {
    return parseRegion(env, "ZELVORA_REGION");
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return {regionOfLocaleName(value), {}};
  }
  return {};
}

}  // namespace host
