// Number normalisation and the area-code scan, in memory, with no file and no
// preference store: arbitrary numbers, home countries and file texts.
//
// The scan is checked against a plain reference that follows its contract
// line by line (decode the whole text, cut it into lines, split each at "|",
// keep the longest matching key, the first of equal length, the last line of a
// repeated key), so any slip of its word-at-a-time and chunked fast paths
// shows. splitNumber is checked against a plain reading of the number, one
// rule at a time: layout marks, dots and slashes between digits, "+" or the
// home region's international call prefix, a bracketed trunk prefix, and the
// home's national prefixes.
//
// Inputs are kept to a kilobyte (number_scan_fuzzer.options): that is dozens
// of lines and sixteen of the scan's 64-byte chunks, enough for every path
// through it, and it keeps the target fast.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "host/foundation/values.h"
#include "lookup/area_scan.h"
#include "lookup/country_tables.h"
#include "lookup/normalise.h"
#include "state/ns_exception.h"

// The checks below are the harness's own code: they are left out of the
// coverage that guides the fuzzer, so that only the code under test steers it
// (and runs are faster).
#define UNGUIDED __attribute__((no_sanitize("coverage")))

namespace {

UNGUIDED void check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// --- The reference scan ------------------------------------------------------

// The code points of UTF-8 `text`, or none when it is not valid UTF-8
// (shortest forms of scalar values only).
UNGUIDED std::optional<std::u32string> decodeStrictly(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < shortest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    out += c;
    i += length;
  }
  return out;
}

UNGUIDED std::u16string utf16(std::u32string_view points) {
  std::u16string out;
  for (char32_t c : points) {
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

struct ReferenceScan {
  AreaScan::Result result = AreaScan::Result::noMatch;
  std::u16string areaText;
};

UNGUIDED ReferenceScan referenceScan(std::string_view text, size_t skipped,
                                     std::u16string_view national) {
  // A byte-order mark at the very start is not part of the first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::optional<std::u32string> points = decodeStrictly(text);
  if (!points) return {AreaScan::Result::notUtf8, {}};
  bool found = false;
  std::u16string bestKey;
  ReferenceScan best;
  auto record = [&](std::u32string_view line) {
    const size_t firstBar = line.find(U'|');
    const std::u16string key = utf16(line.substr(0, firstBar));
    if (key.size() < skipped || !national.starts_with(std::u16string_view(key).substr(skipped))) {
      return;
    }
    if (found && (key.size() < bestKey.size() || (key.size() == bestKey.size() && key != bestKey)))
      return;
    found = true;
    bestKey = key;
    const size_t lastBar = line.rfind(U'|');
    best = {AreaScan::Result::match,
            utf16(firstBar == std::u32string_view::npos ? line : line.substr(lastBar + 1))};
  };
  // Lines, without their terminators; a terminator at the very end adds no
  // empty line.
  const std::u32string_view all = *points;
  size_t start = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const char32_t c = all[i];
    if (c != U'\n' && c != U'\r' && c != 0x85 && c != 0x2028 && c != 0x2029) continue;
    record(all.substr(start, i - start));
    if (c == U'\r' && i + 1 < all.size() && all[i + 1] == U'\n') ++i;
    start = i + 1;
  }
  if (start < all.size()) record(all.substr(start));
  return best;
}

// --- Normalisation -----------------------------------------------------------

// The reference reads the number in plain steps, one rule at a time, where
// splitNumber does it in one pass: layout out, then "+" or the international
// call prefix, then the bracketed or national trunk prefix.

UNGUIDED bool isDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

UNGUIDED bool layoutMark(char16_t c) {
  static const std::u16string marks =
      u" \t-\u00A0\u2007\u202F\u2010\u2011\u2012\u2013\u2014\u2015\u2212\u200E\u200F"
      u"\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069";
  return marks.find(c) != std::u16string::npos;
}

struct ReferenceRead {
  std::u16string kept;  // without layout; a leading "+" (and every "+" after it) out
  bool leadingPlus = false;
  size_t groupStart = std::u16string::npos;
  size_t groupEnd = std::u16string::npos;
};

UNGUIDED ReferenceRead referenceRead(std::u16string_view number) {
  // First the marks that lay a number out, brackets apart.
  std::u16string units;
  for (char16_t c : number) {
    if (!layoutMark(c)) units += c;
  }
  ReferenceRead read;
  bool inGroup = false;
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    if (c == u'(' || c == u')') {
      if (c == u'(' && read.groupStart == std::u16string::npos) {
        read.groupStart = read.kept.size();
        inGroup = true;
      } else if (c == u')' && inGroup) {
        read.groupEnd = read.kept.size();
        inGroup = false;
      }
      continue;
    }
    const bool betweenDigits = !read.kept.empty() && isDigit(read.kept.back()) &&
                               i + 1 < units.size() && isDigit(units[i + 1]);
    if ((c == u'.' || c == u'/') && betweenDigits) continue;
    if (c == u'+' && read.kept.empty() && !read.leadingPlus) {
      read.leadingPlus = true;
      continue;
    }
    if (c == u'+' && read.leadingPlus) continue;
    read.kept += c;
  }
  return read;
}

UNGUIDED std::optional<std::u16string> knownCodeAt(std::u16string_view digits) {
  for (size_t length = 1; length <= 3 && length <= digits.size(); ++length) {
    if (isKnownCallingCode(digits.substr(0, length)))
      return std::u16string(digits.substr(0, length));
  }
  return std::nullopt;
}

UNGUIDED void checkSplit(std::u16string_view number, const HomeCountry& home,
                         const NumberParts& parts) {
  const ReferenceRead read = referenceRead(number);
  check(parts.lookedUp() || parts.nationalNumber.empty(), "national digits without a code");
  const std::u16string& digits = read.kept;

  // An international number, and where its calling code begins.
  std::optional<std::u16string> code;
  size_t codeStart = 0;
  if (read.leadingPlus) {
    code = knownCodeAt(digits);
  } else {
    // The shortest of the home region's prefixes after which a digit other
    // than 0 begins a known calling code.
    size_t best = std::u16string::npos;
    for (std::u16string_view prefix : home.internationalPrefixes) {
      if (!std::u16string_view(digits).starts_with(prefix)) continue;
      const std::u16string_view rest = std::u16string_view(digits).substr(prefix.size());
      if (rest.empty() || rest.front() == u'0' || !knownCodeAt(rest)) continue;
      if (prefix.size() < best) best = prefix.size();
    }
    if (best != std::u16string::npos) {
      codeStart = best;
      code = knownCodeAt(std::u16string_view(digits).substr(best));
    }
  }
  const bool international = read.leadingPlus || code.has_value();
  check(parts.international == international, "international as the reference reads it");
  if (international) {
    if (!code) {
      check(!parts.lookedUp(), "an unknown calling code has no lookup");
      return;
    }
    check(parts.callingCode == *code, "the calling code the reference finds");
    size_t nationalStart = codeStart + code->size();
    const std::u16string_view trunk = trunkPrefixByCallingCode(*code);
    if (!trunk.empty() && read.groupStart == nationalStart &&
        read.groupEnd == nationalStart + trunk.size() &&
        digits.compare(nationalStart, trunk.size(), trunk) == 0) {
      nationalStart += trunk.size();
    }
    check(parts.nationalNumber == digits.substr(nationalStart), "international digits kept");
    return;
  }
  if (!home.callingCode) {
    check(!parts.lookedUp(), "no home code, no lookup");
    return;
  }
  if (!parts.lookedUp()) return;
  check(parts.callingCode == *home.callingCode, "national numbers use the home code");
  if (home.callingCode->find(u'+') != std::u16string::npos) return;
  // What follows the home code is the national number, less the longest
  // national prefix that begins it, or less the trunk prefix alone.
  std::u16string expected = digits;
  if (!home.nationalPrefixes.empty()) {
    size_t longest = 0;
    for (const country_data::NationalPrefix& national : home.nationalPrefixes) {
      if (expected.starts_with(national.prefix))
        longest = std::max(longest, national.prefix.size());
    }
    expected.erase(0, longest);
  } else {
    const std::u16string& trunk = static_cast<const NSString&>(*home.trunkPrefix).units();
    if (expected.starts_with(trunk)) expected.erase(0, trunk.size());
  }
  check(parts.nationalNumber == expected, "national digits kept, trunk prefix dropped");
}

// The home country of the first line: "<calling code>|<trunk prefix>|<region>",
// with the trunk prefix and the region optional. An empty calling code means
// none, as settleHomeCountry gives for an empty preference; a trunk prefix "#"
// stands for a preference value of the wrong kind (a number). The region's
// international call prefixes, and the code's national prefixes while the
// trunk prefix is the tables' own, are the tables'.
UNGUIDED HomeCountry homeOf(std::string_view line) {
  HomeCountry home;
  const size_t bar = line.find('|');
  const std::u16string code = fuzz_input::unitsOf(line.substr(0, bar));
  if (!code.empty()) home.callingCode = code;
  std::string_view rest = bar == std::string_view::npos ? "" : line.substr(bar + 1);
  const size_t second = rest.find('|');
  const std::string_view trunk = rest.substr(0, second);
  const std::string_view region = second == std::string_view::npos ? "" : rest.substr(second + 1);
  home.trunkPrefix =
      trunk == "#" ? NSNumber::integer(0) : NSString::make(fuzz_input::unitsOf(trunk));
  if (home.callingCode) {
    home.region = fuzz_input::unitsOf(region);
    home.internationalPrefixes = internationalPrefixesOf(home.region);
    if (trunk != "#" && fuzz_input::unitsOf(trunk) == trunkPrefixByCallingCode(code))
      home.nationalPrefixes = nationalPrefixesOf(code);
  }
  return home;
}

// The file text, with each byte 0x01 followed by a byte n replaced by the
// first n % 24 code units of `digits` (as UTF-8): keys that match the number
// under test are otherwise rare.
UNGUIDED std::string fileText(std::string raw, std::u16string_view digits) {
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x01' && i + 1 < raw.size()) {
      const size_t count = static_cast<unsigned char>(raw[++i]) % 24;
      text += toUtf8(digits.substr(0, count));
    } else {
      text += raw[i];
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // The home country, the number, and the text of the area-code file.
  std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const HomeCountry home = homeOf(fuzz_input::nextLine(input));
  const std::u16string number = fuzz_input::unitsOf(fuzz_input::nextLine(input));

  NumberParts parts;
  try {
    parts = splitNumber(number, home);
  } catch (const NSException&) {
    // Only a trunk prefix that is not a text may raise.
    check(!objectAs<NSString>(home.trunkPrefix), "splitNumber raised on good input");
    return 0;
  }
  if (objectAs<NSString>(home.trunkPrefix)) checkSplit(number, home, parts);

  // The scan under the number's own calling code, or, when it has none, under
  // a calling code of a fuzzed length against the stripped number.
  size_t skipped = parts.callingCode.size();
  std::u16string national = parts.nationalNumber;
  if (!parts.lookedUp()) {
    skipped = input.size() % 4;
    national = referenceRead(number).kept;
  }
  const std::string text = fileText(std::string(input), parts.callingCode + national);
  const AreaScan scan = scanAreaCodes(text, skipped, national);
  const ReferenceScan expected = referenceScan(text, skipped, national);
  check(scan.result == expected.result, "scan result differs from the reference");
  if (scan.result == AreaScan::Result::match) {
    check(scan.areaText.data() >= text.data() &&
              scan.areaText.data() + scan.areaText.size() <= text.data() + text.size(),
          "area text lies within the file");
    check(toUtf16(scan.areaText) == expected.areaText, "area text differs from the reference");
  }
  return 0;
}
