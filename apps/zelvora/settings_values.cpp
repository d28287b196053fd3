#include "settings_values.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/country_tables.h"
#include "lookup/preference_keys.h"

namespace zelvora {
namespace {

bool allDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string describeKind(const id& value) {
  if (!value) return "absent";
  if (objectAs<NSString>(value)) return "text";
  if (auto* number = objectAs<NSNumber>(value)) {
    switch (number->kind()) {
      case NSNumber::Kind::integer:
        return "integer";
      case NSNumber::Kind::real:
        return "real";
      case NSNumber::Kind::boolean:
        return "boolean";
    }
  }
  if (objectAs<NSNull>(value)) return "null";
  if (objectAs<NSArray>(value)) return "array";
  if (objectAs<NSDictionary>(value)) return "dictionary";
  if (objectAs<NSData>(value)) return "data";
  if (objectAs<NSDate>(value)) return "date";
  return value->kindName();
}

std::string describeValue(const id& value) {
  if (!value) return {};
  if (auto* text = objectAs<NSString>(value)) return toUtf8(text->units());
  if (auto* number = objectAs<NSNumber>(value)) {
    switch (number->kind()) {
      case NSNumber::Kind::integer:
        return std::to_string(number->integerValue());
      case NSNumber::Kind::boolean:
        return number->boolValue() ? "true" : "false";
      case NSNumber::Kind::real: {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", number->realValue());
        return buffer;
      }
    }
  }
  if (objectAs<NSNull>(value)) return "null";
  if (auto* array = objectAs<NSArray>(value)) {
    std::string out = "[";
    for (size_t i = 0; i < array->items().size(); ++i) {
      out += (i ? ", " : "") + describeValue(array->items()[i]);
    }
    return out + "]";
  }
  if (auto* dictionary = objectAs<NSDictionary>(value)) {
    std::string out = "{";
    bool first = true;
    for (const auto& [key, item] : dictionary->entries()) {
      out += (first ? "" : ", ") + key + ": " + describeValue(item);
      first = false;
    }
    return out + "}";
  }
  if (auto* data = objectAs<NSData>(value)) return std::to_string(data->bytes().size()) + " bytes";
  if (auto* date = objectAs<NSDate>(value)) {
    // Seconds since 2001-01-01 00:00:00 UTC, shown as a UTC time.
    std::time_t unixTime =
        static_cast<std::time_t>(date->secondsSinceReferenceDate() + 978307200.0);
    std::tm parts{};
    gmtime_r(&unixTime, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return buffer;
  }
  return value->kindName();
}

bool knownSetting(std::string_view key) {
  return key == kCountryCodeKey || key == kTrunkPrefixKey || key == kRecentsKey;
}

CheckedValue checkSetting(std::string_view key, std::string_view text) {
  if (key == kCountryCodeKey) {
    if (text.empty() || !allDigits(text)) {
      return {
          nil,
          "countryCode takes a calling code of decimal digits without \"+\", such as 44; got \"" +
              std::string(text) + "\""};
    }
    return {NSString::fromUtf8(text), {}};
  }
  if (key == kTrunkPrefixKey) {
    if (!allDigits(text)) {
      return {nil, "trunkPrefixx takes decimal digits or nothing, such as 0; got \"" +
                       std::string(text) + "\""};
    }
    return {NSString::fromUtf8(text), {}};
  }
  if (key == kRecentsKey) {
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    long long count = copy.empty() ? 0 : std::strtoll(copy.c_str(), &end, 10);
    if (copy.empty() || *end != '\0' || errno == ERANGE || count < 0 || count > INT32_MAX ||
        copy.front() == ' ' || copy.front() == '+') {
      return {nil,
              "recents takes a whole number of rows, 0 or more, such as 5; got \"" + copy + "\""};
    }
    return {NSNumber::integer(count), {}};
  }
  return {nil, "unknown setting \"" + std::string(key) +
                   "\" (the settings are countryCode, trunkPrefixx and recents)"};
}

std::string unknownCallingCodeNote() {
  const id value = CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain);
  const auto* code = objectAs<NSString>(value);
  if (!code || code->units().empty() || isKnownCallingCode(code->units())) return {};
  return "note: countryCode \"" + toUtf8(code->units()) +
         "\" is no calling code that ZelvoraPro knows, so numbers without \"+\" find no area; "
         "to derive it again from the device region: zelvora settings unset countryCode (and unset "
         "trunkPrefixx to derive the trunk prefix again too)";
}

}  // namespace zelvora
