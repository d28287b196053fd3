// Why a number reads as it does: what `zelvora lookup --explain` and `--json`
// say of each lookup.
//
// Both describe a LookupTrace (lookup/lookup_trace.h), which initVals fills
// from its own steps, so they say what the lookup did, not what a second
// reading of the number would guess. A Context adds what the lookup does not
// know: the device region, which files of the data folder the tool installed
// and in which language, and which keys of the data are country lines.
// Nothing here throws but std::bad_alloc.
#pragma once

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "data_manifest.h"
#include "lookup/lookup_trace.h"

namespace zelvora {

class ExplainContext {
 public:
  // Reads the device's manifest and the bundle's country lines from
  // `dataDir` (the bundled data folder); what cannot be read is left out.
  explicit ExplainContext(const std::string& dataDir);

  // "(language en)", "(language de, installed)", "(your own file)": where
  // the text of an area file comes from.
  std::string languageOf(const AreaLookupDetail& area) const;
  // The language code of the answering file, or none for a user's own file.
  std::optional<std::string> languageCodeOf(const AreaLookupDetail& area) const;
  // The region of a country line whose key is `key`, or none.
  std::optional<std::string> countryLineOf(const std::string& key) const;

 private:
  Manifest manifest_;
  bool hasManifest_ = false;
  std::map<std::string, std::string> countryLines_;
};

// The home country as the lookup settled it, in one line: "home: calling
// code 44, trunk prefix 0, region GB (the device region)".
std::string explainHome(const LookupTrace& trace);

// `number` and, indented below it, one line per step of its reading.
std::string explainNumber(std::string_view number, const LookupTrace& trace,
                          const ExplainContext& context);

// The same as one JSON object (see README.md for its fields).
nlohmann::ordered_json describeNumber(std::string_view number, const LookupTrace& trace,
                                      const ExplainContext& context);

}  // namespace zelvora
