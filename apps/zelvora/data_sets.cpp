#include "data_sets.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "host/foundation/files.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Calls `record(key, text)` for every non-empty line of `text`: the key is the
// text before the first "|", the text the one after the last "|", as the
// lookup reads a record.
template <typename Record>
void forEachRecord(std::string_view text, Record record) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const size_t first = line.find('|');
    const size_t last = line.rfind('|');
    record(line.substr(0, first), first == std::string_view::npos ? line : line.substr(last + 1));
  }
}

// The calling codes of calling-codes.txt, else of the files in codes/. They
// are prefix-free, so at most one begins a key.
std::vector<std::string> callingCodes(const fs::path& dataDir) {
  std::vector<std::string> codes;
  std::string text;
  if (host::readWholeFile((dataDir / "calling-codes.txt").string(), text)) {
    forEachRecord(text, [&](std::string_view code, std::string_view) {
      if (isDigits(code)) codes.emplace_back(code);
    });
  }
  std::error_code error;
  for (fs::directory_iterator it(dataDir / "codes", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(".txt") && isDigits(name.substr(0, name.size() - 4)))
      codes.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  return codes;
}

const std::string* codeOf(const std::vector<std::string>& codes, std::string_view key) {
  for (const auto& code : codes)
    if (key.starts_with(code)) return &code;
  return nullptr;
}

// language -> base, from lang/index.txt.
std::vector<std::pair<std::string, std::string>> languageIndex(const fs::path& dataDir) {
  std::vector<std::pair<std::string, std::string>> index;
  std::string text;
  if (!host::readWholeFile((dataDir / "lang" / "index.txt").string(), text)) return index;
  forEachRecord(text, [&](std::string_view language, std::string_view base) {
    // A line without "|" reads as its own base; that names no base.
    index.emplace_back(std::string(language), base == language ? "" : std::string(base));
  });
  return index;
}

// Lays the records of the one file `path` over `set`, each under its calling
// code. A missing file is an error only when `required`.
std::string layOver(AreaSet& set, const std::vector<std::string>& codes, const fs::path& path,
                    bool required) {
  std::string text;
  std::error_code error;
  if (!fs::exists(path, error) && !required) return {};
  if (!host::readWholeFile(path.string(), text)) return "cannot read " + path.string();
  std::string problem;
  forEachRecord(text, [&](std::string_view key, std::string_view value) {
    const std::string* code = codeOf(codes, key);
    if (!code) {
      if (problem.empty()) problem = path.string() + ": key " + std::string(key) + " has no file";
      return;
    }
    set[*code][std::string(key)] = std::string(value);
  });
  return problem;
}

std::string composeLanguage(AreaSet& set, const fs::path& dataDir,
                            const std::vector<std::string>& codes, const std::string& language,
                            int depth) {
  if (language == "en") {
    for (const auto& code : codes) {
      const fs::path path = dataDir / "codes" / (code + ".txt");
      std::string text;
      AreaRecords& records = set[code];
      std::error_code error;
      if (!fs::exists(path, error)) continue;
      if (!host::readWholeFile(path.string(), text)) return "cannot read " + path.string();
      forEachRecord(text, [&](std::string_view key, std::string_view value) {
        records[std::string(key)] = std::string(value);
      });
    }
    return {};
  }
  const auto index = languageIndex(dataDir);
  auto entry = std::find_if(index.begin(), index.end(),
                            [&](const auto& item) { return item.first == language; });
  if (entry == index.end()) return "the bundle has no language " + language;
  if (depth > 8) return "lang/index.txt: the bases of " + language + " run in a circle";
  if (!entry->second.empty()) {
    if (std::string problem = composeLanguage(set, dataDir, codes, entry->second, depth + 1);
        !problem.empty())
      return problem;
  }
  for (const auto& code : codes) set[code];
  return layOver(set, codes, dataDir / "lang" / (language + ".txt"), true);
}

// The text of the longest key of `records` that begins `key`, down to the
// calling code alone; null when there is none.
const std::string* longestPrefixText(const AreaRecords& records, const std::string& key,
                                     size_t codeLength) {
  for (size_t length = key.size(); length >= codeLength && length > 0; --length) {
    auto found = records.find(key.substr(0, length));
    if (found != records.end()) return &found->second;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> bundledLanguages(const std::string& dataDir) {
  if (callingCodes(dataDir).empty()) return {};
  std::vector<std::string> languages{"en"};
  for (const auto& [language, base] : languageIndex(dataDir)) languages.push_back(language);
  return languages;
}

AreaSetResult composeAreaSet(const std::string& dataDir, const std::string& language,
                             bool carriers) {
  AreaSetResult result;
  const std::vector<std::string> codes = callingCodes(dataDir);
  if (codes.empty()) return {{}, "no area-code files in " + dataDir + "/codes"};
  result.error = composeLanguage(result.set, dataDir, codes, language, 0);
  if (!result.error.empty() || !carriers) return result;

  AreaSet carrierSet;
  const fs::path folder = fs::path(dataDir) / "carriers";
  result.error = layOver(carrierSet, codes, folder / "en.txt", true);
  if (result.error.empty() && language != "en")
    result.error = layOver(carrierSet, codes, folder / (language + ".txt"), false);
  if (!result.error.empty()) return result;

  for (const auto& [code, carrierRecords] : carrierSet) {
    const AreaRecords& areas = result.set[code];
    AreaRecords composed;
    auto compose = [&](const std::string& key) {
      const std::string* area = longestPrefixText(areas, key, code.size());
      const std::string* carrier = longestPrefixText(carrierRecords, key, code.size());
      std::string text = area ? *area : std::string();
      if (carrier && !carrier->empty())
        text = text.empty() ? *carrier : text + " (" + *carrier + ")";
      composed[key] = std::move(text);
    };
    for (const auto& entry : areas) compose(entry.first);
    for (const auto& entry : carrierRecords) compose(entry.first);
    result.set[code] = std::move(composed);
  }
  return result;
}

std::string formatRecords(const AreaRecords& records) {
  std::string text;
  for (const auto& [key, value] : records) {
    text += key;
    text += '|';
    text += value;
    text += '\n';
  }
  return text;
}

}  // namespace zelvora
