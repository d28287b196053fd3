// Working out the device region for a command-line host.
//
// The region comes from, in this order: an explicit value (a --region option),
// the ZELVORA_REGION environment variable, then the region part of the first
// of LC_ALL, LC_MESSAGES and LANG that is set ("en_GB.UTF-8" gives "GB").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

struct RegionChoice {
  std::optional<std::string> region;  // two capital letters, or none
  std::string error;                  // non-empty when an explicit value is unusable
};

// Checks a region given by the user: two ASCII letters, upper-cased. Anything
// else yields an error naming the value.
RegionChoice parseRegion(std::string_view value, std::string_view source);

// The region part of a locale name such as "en_GB.UTF-8" or "de_AT@euro";
// none for "C", "POSIX" or a name without a two-letter region.
std::optional<std::string> regionOfLocaleName(std::string_view localeName);

// The full rule above. `explicitRegion` is the --region value, if given.
RegionChoice chooseRegion(const std::optional<std::string>& explicitRegion);

}  // namespace host
