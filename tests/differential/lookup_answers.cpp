// Looks up a fixed, generated list of numbers through the library's lookup
// entry on the bundled data and prints every answer, one line per number:
//   <home region>|<number as written>|<area, or "-">
// Built for every architecture the library runs on, its output must be the
// same bytes on each (tools/cross_test.sh compares them).
//
// The numbers come from a generator of its own that uses nothing but 64-bit
// integer arithmetic, so the list is the same on every machine. Every calling
// code gets the same share of them, under four home regions each (the code's
// own country first), in every form the number reader takes: "+" and the
// calling code, the home region's international call prefix, the trunk prefix
// in brackets, national numbers with and without the trunk prefix; with
// blanks of every kind, dashes, dots and slashes between digits, brackets and
// direction marks, and now and then something that ends a plain number. Most
// national parts begin with a key of the code's file, so that areas are found.
//
//   lookup_answers DATA_FOLDER [COUNT]   (COUNT defaults to 200000)
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/country_tables.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/state.h"

namespace {

// SplitMix64: the same sequence everywhere.
class Generator {
 public:
  explicit Generator(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // A number below `n` (n > 0).
  uint64_t below(uint64_t n) { return next() % n; }
  bool oneIn(uint64_t n) { return below(n) == 0; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<size_t>(below(from.size()))];
  }

 private:
  uint64_t state_;
};

std::string utf8(std::u16string_view text) {
  return toUtf8(text);
}

// The national parts of the keys of the bundled file of `code`.
std::vector<std::string> keysOf(const std::string& dataFolder, const std::string& code) {
  std::vector<std::string> keys;
  std::ifstream in(dataFolder + "/codes/" + code + ".txt", std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t bar = line.find('|');
    if (bar == std::string::npos || bar <= code.size()) continue;
    if (line.compare(0, code.size(), code) != 0) continue;
    keys.push_back(line.substr(code.size(), bar - code.size()));
  }
  return keys;
}

// Layout that may stand between two groups of digits.
const std::vector<std::string> kSeparators = {
    " ",      " ",  "",    "-",      ".",      "/",      "\u00A0", "\u202F",
    "\u2007", "\t", " - ", "\u2010", "\u2013", "\u2212", " . ",
};

// Direction marks and embeddings that phones wrap numbers in.
const std::vector<std::pair<std::string, std::string>> kWrappings = {
    {"", ""},
    {"", ""},
    {"", ""},
    {"\u202A", "\u202C"},
    {"\u200E", "\u200E"},
    {"\u2066", "\u2069"},
    {"\u202D", "\u202C"},
    {" ", " "},
};

// Things after which a number is no longer plain.
const std::vector<std::string> kEndings = {"#", ",123", ";ext=7", "*", "x5", "p2"};

// `digits` cut into groups, with one separator between all of them and,
// sometimes, the first group in brackets.
std::string laidOut(const std::string& digits, Generator& random) {
  const std::string& separator = random.pick(kSeparators);
  const bool bracketFirst = random.oneIn(6);
  std::string out;
  size_t at = 0;
  bool first = true;
  while (at < digits.size()) {
    const size_t size = 2 + static_cast<size_t>(random.below(3));
    std::string group = digits.substr(at, size);
    at += group.size();
    if (!first) out += separator;
    if (first && bracketFirst && at < digits.size()) group = "(" + group + ")";
    out += group;
    first = false;
  }
  return out;
}

std::string randomDigits(Generator& random, size_t count) {
  std::string digits;
  for (size_t i = 0; i < count; ++i) digits += char('0' + random.below(10));
  return digits;
}

// A national part for `keys`: mostly a key and a few more digits.
std::string nationalPart(const std::vector<std::string>& keys, Generator& random) {
  // One draw per statement: the order of operands is not fixed, the order of
  // statements is.
  if (keys.empty() || random.oneIn(8)) return randomDigits(random, 4 + random.below(8));
  std::string part = random.pick(keys);
  part += randomDigits(random, random.below(7));
  return part;
}

struct Home {
  std::string region;
  std::string callingCode;
  std::string trunkPrefix;
  std::vector<std::string> internationalPrefixes;
};

Home homeOf(const std::string& region) {
  Home home{region, {}, {}, {}};
  const std::u16string units = toUtf16(region);
  if (auto code = callingCodeForCountry(units)) {
    home.callingCode = utf8(*code);
    home.trunkPrefix = utf8(trunkPrefixByCallingCode(*code));
  }
  for (std::u16string_view prefix : internationalPrefixesOf(units)) {
    home.internationalPrefixes.push_back(utf8(prefix));
  }
  return home;
}

// A number of `code` (international forms) written by someone at `home`.
std::string internationalNumber(const std::string& code, const std::string& trunk, const Home& home,
                                const std::string& national, Generator& random) {
  const std::string& separator = random.pick(kSeparators);
  std::string front;
  switch (random.below(4)) {
    case 0:
    case 1:
      front = "+" + code;
      break;
    case 2:
      front = home.internationalPrefixes.empty()
                  ? "+" + code
                  : random.pick(home.internationalPrefixes) + separator + code;
      break;
    default:
      front = "+" + code + (trunk.empty() ? "" : separator + "(" + trunk + ")");
      break;
  }
  return front + separator + laidOut(national, random);
}

// A number written within the home country, with or without its trunk prefix.
std::string nationalNumber(const Home& home, const std::string& national, Generator& random) {
  const bool withTrunk = !home.trunkPrefix.empty() && !random.oneIn(4);
  return (withTrunk ? home.trunkPrefix : "") + laidOut(national, random);
}

// Makes `home` the device's home: its region, and no stored home values, so
// the lookup derives them again (and stores them) at its next run.
void moveTo(const Home& home) {
  host::setDeviceRegion(home.region);
  CFPreferencesSetAppValue(kCountryCodeKey, nil, kPrefsDomain);
  CFPreferencesSetAppValue(kTrunkPrefixKey, nil, kPrefsDomain);
  CFPreferencesAppSynchronize(kPrefsDomain);
}

std::string answerFor(const std::string& number) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
  auto* text = objectAs<NSString>(area);
  std::string answer = text ? toUtf8(text->units()) : "-";
  phoneNumber = nil;
  area = nil;
  return answer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: lookup_answers DATA_FOLDER [COUNT]\n");
    return 2;
  }
  const std::string dataFolder = argv[1];
  const uint64_t count = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 200000;

  std::string root = (std::filesystem::temp_directory_path() / "zelvora-answers-XXXXXX").string();
  if (!::mkdtemp(root.data())) {
    std::perror("lookup_answers: cannot make a device folder");
    return 1;
  }
  host::setDeviceRoot(root);
  host::setMainBundleResourcePath(dataFolder);
  host::setPreferencesFsync(false);  // a throw-away device

  std::vector<std::string> regions;
  for (const CountryCallingCode& country : callingCodeByCountry) {
    regions.push_back(utf8(country.country));
  }
  std::map<std::string, std::vector<std::string>> keys;
  auto keysFor = [&](const std::string& code) -> const std::vector<std::string>& {
    auto found = keys.find(code);
    if (found == keys.end()) found = keys.emplace(code, keysOf(dataFolder, code)).first;
    return found->second;
  };

  Generator random(0x5A17E1B0C0DE2038u);
  constexpr uint64_t kHomesPerCode = 4;
  const uint64_t blocks = callingCodeTrunkList.size() * kHomesPerCode;
  uint64_t block = 0;
  std::string out;
  for (std::u16string_view entry : callingCodeTrunkList) {
    const std::string code = utf8(callingCodeOfEntry(entry));
    const std::string trunk = utf8(trunkPrefixOfEntry(entry));
    for (uint64_t h = 0; h < kHomesPerCode; ++h, ++block) {
      std::optional<std::u16string_view> own;
      if (h == 0) own = mainCountryOfCallingCode(callingCodeOfEntry(entry));
      const Home home = homeOf(own ? utf8(*own) : random.pick(regions));
      moveTo(home);
      // This block's share; numbers of the code first, then national ones,
      // so that the lookup moves between files once.
      const uint64_t numbers = count / blocks + (block < count % blocks ? 1 : 0);
      const uint64_t national = home.callingCode.empty() ? 0 : numbers / 4;
      for (uint64_t i = 0; i < numbers; ++i) {
        std::string number;
        if (i < numbers - national) {
          number =
              internationalNumber(code, trunk, home, nationalPart(keysFor(code), random), random);
        } else {
          number = nationalNumber(home, nationalPart(keysFor(home.callingCode), random), random);
        }
        if (random.oneIn(40)) {
          number += random.pick(kEndings);
          number += randomDigits(random, 2);
        }
        const auto& [before, after] = random.pick(kWrappings);
        number = before + number + after;
        out += home.region + '|' + number + '|' + answerFor(number) + '\n';
      }
      if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
      out.clear();
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
