// Number normalisation and the area-code scan, in memory, with no file and no
// preference store: arbitrary numbers, home countries and file texts.
//
// The scan is checked against a plain reference that follows its contract
// line by line (decode the whole text, cut it into lines, split each at "|",
// keep the longest matching key, the first of equal length, the last line of a
// repeated key), so any slip of its word-at-a-time and chunked fast paths
// shows. splitNumber is checked for what it must keep: the digits it is given
// come back as calling code, dropped trunk prefix and national number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/values.h"
#include "lookup/area_scan.h"
#include "lookup/normalise.h"
#include "state/ns_exception.h"

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// --- The reference scan ------------------------------------------------------

// The code points of UTF-8 `text`, or none when it is not valid UTF-8
// (shortest forms of scalar values only).
std::optional<std::u32string> decodeStrictly(std::string_view text) {
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

std::u16string utf16(std::u32string_view points) {
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

ReferenceScan referenceScan(std::string_view text, size_t skipped, std::u16string_view national) {
  std::optional<std::u32string> points = decodeStrictly(text);
  if (!points) return {AreaScan::Result::notUtf8, {}};
  // Lines, without their terminators; a terminator at the very end adds no
  // empty line.
  std::vector<std::u32string_view> lines;
  std::u32string_view all = *points;
  size_t start = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const char32_t c = all[i];
    if (c != U'\n' && c != U'\r' && c != 0x85 && c != 0x2028 && c != 0x2029) continue;
    lines.push_back(all.substr(start, i - start));
    if (c == U'\r' && i + 1 < all.size() && all[i + 1] == U'\n') ++i;
    start = i + 1;
  }
  if (start < all.size()) lines.push_back(all.substr(start));

  bool found = false;
  std::u16string bestKey;
  ReferenceScan best;
  for (std::u32string_view line : lines) {
    const size_t firstBar = line.find(U'|');
    const size_t lastBar = line.rfind(U'|');
    const std::u16string key = utf16(line.substr(0, firstBar));
    const std::u16string areaText =
        utf16(firstBar == std::u32string_view::npos ? line : line.substr(lastBar + 1));
    if (key.size() < skipped || !national.starts_with(std::u16string_view(key).substr(skipped))) {
      continue;
    }
    if (found && (key.size() < bestKey.size() || (key.size() == bestKey.size() && key != bestKey)))
      continue;
    found = true;
    bestKey = key;
    best = {AreaScan::Result::match, areaText};
  }
  return best;
}

// --- Normalisation -----------------------------------------------------------

bool formatting(char16_t c) {
  return c == u' ' || c == u'(' || c == u')' || c == u'-';
}

bool allDigits(std::u16string_view text) {
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

void checkSplit(std::u16string_view number, const HomeCountry& home, const NumberParts& parts) {
  std::u16string stripped;
  for (char16_t c : number) {
    if (!formatting(c)) stripped += c;
  }
  check(parts.lookedUp() || parts.nationalNumber.empty(), "national digits without a code");
  if (!stripped.empty() && stripped.front() == u'+') {
    check(parts.international, "a leading + is international");
    if (!parts.lookedUp()) return;
    std::u16string digits;
    for (char16_t c : stripped) {
      if (c != u'+') digits += c;
    }
    check(allDigits(parts.callingCode), "an international calling code is digits");
    check(isFileSafeCallingCode(parts.callingCode), "the calling code names a file");
    check(digits == parts.callingCode + parts.nationalNumber, "international digits kept");
    return;
  }
  check(!parts.international, "no leading + is national");
  if (!home.callingCode) {
    check(!parts.lookedUp(), "no home code, no lookup");
    return;
  }
  if (!parts.lookedUp()) return;
  check(parts.callingCode == *home.callingCode, "national numbers use the home code");
  if (home.callingCode->find(u'+') != std::u16string::npos) return;
  // What follows the home code is the national number, less the trunk prefix
  // when it begins with one.
  const std::u16string& trunk = static_cast<const NSString&>(*home.trunkPrefix).units();
  const std::u16string expected =
      stripped.starts_with(trunk) ? stripped.substr(trunk.size()) : stripped;
  check(parts.nationalNumber == expected, "national digits kept, trunk prefix dropped");
}

std::u16string fuzzedUnits(FuzzedDataProvider& data, size_t most) {
  static constexpr char16_t kCommon[] = u"0123456789+ ()-\u00A0./|\u2028";
  std::u16string units;
  const size_t count = data.ConsumeIntegralInRange<size_t>(0, most);
  for (size_t i = 0; i < count && data.remaining_bytes() > 0; ++i) {
    // Mostly the characters numbers are made of, sometimes any code unit.
    if (data.ConsumeIntegralInRange(0, 7) != 0) {
      units += kCommon[data.ConsumeIntegralInRange<size_t>(0, std::size(kCommon) - 2)];
    } else {
      units += data.ConsumeIntegral<char16_t>();
    }
  }
  return units;
}

HomeCountry fuzzedHome(FuzzedDataProvider& data) {
  static const char16_t* const kCodes[] = {u"44", u"1", u"7", u"86", u"380", u"+44"};
  static const char16_t* const kTrunks[] = {u"0", u"", u"8", u"00", u"1"};
  HomeCountry home;
  switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0:
      break;  // no home country
    case 1:
      // Any text but the empty one, which counts as no home country.
      home.callingCode = u"9" + fuzzedUnits(data, 3);
      break;
    default:
      home.callingCode = kCodes[data.ConsumeIntegralInRange<size_t>(0, std::size(kCodes) - 1)];
  }
  switch (data.ConsumeIntegralInRange(0, 9)) {
    case 0:
      home.trunkPrefix = NSNumber::integer(0);  // a preference of the wrong kind
      break;
    case 1:
      home.trunkPrefix = NSString::make(fuzzedUnits(data, 3));
      break;
    default:
      home.trunkPrefix =
          NSString::make(kTrunks[data.ConsumeIntegralInRange<size_t>(0, std::size(kTrunks) - 1)]);
  }
  return home;
}

// The file text, with each byte 0x01 followed by a byte n replaced by the
// first n % 24 code units of `digits` (as UTF-8): keys that match the number
// under test are otherwise rare.
std::string fileText(std::string raw, std::u16string_view digits) {
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
  FuzzedDataProvider data(bytes, size);
  const HomeCountry home = fuzzedHome(data);
  const std::u16string number = fuzzedUnits(data, 40);
  const size_t extraSkip = data.ConsumeIntegralInRange(0, 3);

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
    skipped = extraSkip;
    national.clear();
    for (char16_t c : number) {
      if (!formatting(c)) national += c;
    }
  }
  const std::string text =
      fileText(data.ConsumeRemainingBytesAsString(), parts.callingCode + national);
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
