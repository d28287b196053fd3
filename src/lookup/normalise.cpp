#include "lookup/normalise.h"

#include <algorithm>

#include "host/foundation/messages.h"
#include "lookup/country_tables.h"

namespace {

constexpr size_t kNone = std::u16string::npos;

bool isDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Marks that only lay a number out, brackets apart: blanks of every width,
// dashes, and the invisible marks that set the direction of the text around
// a number.
bool layoutMark(char16_t c) {
  switch (c) {
    case u' ':
    case u'\t':
    case u'-':
    case 0x00A0:  // no-break space
    case 0x2007:  // figure space
    case 0x202F:  // narrow no-break space
    case 0x2212:  // minus sign
    case 0x200E:  // left-to-right mark
    case 0x200F:  // right-to-left mark
      return true;
    default:
      return (c >= 0x2010 && c <= 0x2015) ||  // hyphens and dashes
             (c >= 0x202A && c <= 0x202E) ||  // embeddings, overrides, pop
             (c >= 0x2066 && c <= 0x2069);    // isolates
  }
}

// What the stripping noted about the number as written.
struct Layout {
  bool leadingPlus = false;
  // Where the first bracketed group begins and ends among the kept units.
  size_t groupStart = kNone;
  size_t groupEnd = kNone;
};

// Appends `number` without its layout to `out`. A leading "+" is not kept but
// noted, and every later "+" of such a number goes too; in any other number a
// "+" stays. A dot or slash goes when a digit is kept right before it and the
// next unit that is not a blank, dash or direction mark is a digit.
Layout strip(std::u16string_view number, std::u16string& out) {
  Layout layout;
  bool keptAny = false;
  char16_t pendingSeparator = 0;
  bool inGroup = false;
  for (char16_t c : number) {
    if ((c == u'(' || c == u')') && pendingSeparator != 0) {
      out += pendingSeparator;
      pendingSeparator = 0;
    }
    if (c == u'(') {
      if (layout.groupStart == kNone) {
        layout.groupStart = out.size();
        inGroup = true;
      }
      continue;
    }
    if (c == u')') {
      if (inGroup) layout.groupEnd = out.size();
      inGroup = false;
      continue;
    }
    if (layoutMark(c)) continue;
    if (pendingSeparator != 0) {
      if (!isDigit(c)) out += pendingSeparator;
      pendingSeparator = 0;
    }
    if ((c == u'.' || c == u'/') && !out.empty() && isDigit(out.back())) {
      pendingSeparator = c;
      continue;
    }
    if (c == u'+' && (!keptAny || layout.leadingPlus)) {
      layout.leadingPlus = layout.leadingPlus || !keptAny;
      keptAny = true;
      continue;
    }
    keptAny = true;
    out += c;
  }
  if (pendingSeparator != 0) out += pendingSeparator;
  return layout;
}

struct DialledAbroad {
  std::u16string_view prefix;
  std::u16string_view callingCode;
};

// The international call prefix of `prefixes` that begins `digits` and is
// followed by a known calling code (so never by a 0: no code begins with
// one, as the tables assert). Where several
// begin them, the plain prefix comes before the longer forms that select a
// carrier: "00 1 242 ..." dialled in Bolivia calls the Bahamas, though "0012"
// is a prefix there too.
std::optional<DialledAbroad> dialledAbroad(std::u16string_view digits,
                                           const InternationalPrefixes& prefixes) {
  const size_t longest = std::min(digits.size(), country_data::kLongestInternationalPrefix);
  for (size_t length = 1; length <= longest; ++length) {
    const std::u16string_view head = digits.substr(0, length);
    const auto found = std::lower_bound(prefixes.begin(), prefixes.end(), head);
    if (found == prefixes.end() || *found != head) continue;
    if (std::optional<std::u16string_view> code = callingCodeAt(digits.substr(length)))
      return {{*found, *code}};
  }
  return std::nullopt;
}

}  // namespace

NumberParts splitNumber(std::u16string_view number, const HomeCountry& home) {
  std::u16string digits;
  digits.reserve(number.size() + (home.callingCode ? home.callingCode->size() : 0));
  const Layout layout = strip(number, digits);

  NumberParts parts;
  size_t codeStart = 0;
  std::optional<std::u16string_view> code;
  if (layout.leadingPlus) {
    parts.international = true;
    code = callingCodeAt(digits);
    if (!code) return parts;
  } else if (std::optional<DialledAbroad> dialled =
                 dialledAbroad(digits, home.internationalPrefixes)) {
    parts.international = true;
    parts.internationalPrefix = dialled->prefix;
    codeStart = dialled->prefix.size();
    code = dialled->callingCode;
  }

  if (parts.international) {
    parts.callingCode = std::u16string(*code);
    size_t nationalStart = codeStart + code->size();
    // "+44 (0)20 ...": the trunk prefix that a caller within the country
    // dials, bracketed to say that a caller from abroad leaves it out.
    const std::u16string_view trunk = trunkPrefixByCallingCode(*code);
    if (!trunk.empty() && layout.groupStart == nationalStart &&
        layout.groupEnd == nationalStart + trunk.size() &&
        std::u16string_view(digits).substr(nationalStart).starts_with(trunk)) {
      nationalStart += trunk.size();
      parts.droppedPrefix = trunk;
    }
    digits.erase(0, nationalStart);
    parts.nationalNumber = std::move(digits);
    return parts;
  }

  if (!home.callingCode) return parts;
  parts.callingCode = *home.callingCode;
  digits.insert(0, *home.callingCode);
  // Only a home calling code written with "+" brings a "+" back in front.
  if (digits.front() == u'+') std::erase(digits, u'+');
  if (digits.size() < parts.callingCode.size()) return NumberParts{};
  // The digits after the calling code become the national number in place.
  digits.erase(0, parts.callingCode.size());
  parts.nationalNumber = std::move(digits);
  if (!home.nationalPrefixes.empty()) {
    for (const country_data::NationalPrefix& national : home.nationalPrefixes) {
      if (!parts.nationalNumber.starts_with(national.prefix)) continue;
      parts.nationalNumber.erase(0, national.prefix.size());
      parts.droppedPrefix = national.prefix;
      break;
    }
    return parts;
  }
  const std::u16string& trunk = ns::units(home.trunkPrefix);
  if (parts.nationalNumber.starts_with(trunk)) {
    parts.nationalNumber.erase(0, trunk.size());
    parts.droppedPrefix = trunk;
  }
  return parts;
}

bool isFileSafeCallingCode(std::u16string_view callingCode) {
  if (!callingCode.empty() && callingCode.front() == u'+') callingCode.remove_prefix(1);
  return !callingCode.empty() && std::all_of(callingCode.begin(), callingCode.end(), isDigit);
}
