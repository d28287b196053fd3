// The whole lookup, files and preference store included: arbitrary regions,
// preference values, numbers and area-code files through initVals.
//
// initVals must return normally and leave phoneNumber as it was. When the
// home country settles, the area it finds must be the one the scan finds in
// the files written for the run: the device file when it reads as UTF-8,
// otherwise the application's copy; none for a number holding U+0000.
//
// The device lies in a tmpfs folder (/dev/shm, else $TMPDIR, else /tmp), the
// store does not fsync, and a run writes only the files it needs: the
// preference file, and the area-code files under the calling code its number
// is most likely looked up under, removing those of the run before.
//
// Input, one item a line: the region ("" for none), the values of
// "countryCode", "trunkPrefixx" and "recents" (see valueOf), the number, and
// the files to write ("d" the device file, "r" the application's copy); then
// the device file's text, a NUL byte, and the application copy's text.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "host/foundation/device.h"
#include "host/foundation/messages.h"
#include "host/foundation/plist_codec.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/area_scan.h"
#include "lookup/country_tables.h"
#include "lookup/lookup.h"
#include "lookup/normalise.h"
#include "lookup/preference_keys.h"
#include "state/ns_exception.h"
#include "state/state.h"

namespace fs = std::filesystem;

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

std::string scratchFolder() {
  std::error_code error;
  if (fs::is_directory("/dev/shm", error)) return "/dev/shm";
  const char* tmp = getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

const std::string& deviceRoot() {
  static const std::string root = [] {
    std::string pattern = scratchFolder() + "/zelvora-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    fs::create_directories(pattern + std::string(kAreaCodeFolder));
    fs::create_directories(pattern + "/resources/codes");
    fs::create_directories(pattern + "/var/mobile/Library/Preferences");
    host::setDeviceRoot(pattern);
    host::setMainBundleResourcePath(pattern + "/resources");
    host::setPreferencesFsync(false);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(host::deviceRoot(), ignored);
    });
    return pattern;
  }();
  return root;
}

// A preference value: "" absent, "~" the null marker, "i:N" an integer, "r:X"
// a real, "b:1" a boolean, "a:T" an array holding the text T, and any other
// line the text it holds.
id valueOf(std::string_view line) {
  if (line.empty()) return nil;
  if (line == "~") return NSNull::null();
  const std::string body(line.substr(std::min<size_t>(2, line.size())));
  if (line.starts_with("i:")) return NSNumber::integer(strtoll(body.c_str(), nullptr, 10));
  if (line.starts_with("r:")) return NSNumber::real(strtod(body.c_str(), nullptr));
  if (line.starts_with("b:")) return NSNumber::boolean(body == "1");
  if (line.starts_with("a:")) return NSArray::make({NSString::make(fuzz_input::unitsOf(body))});
  return NSString::make(fuzz_input::unitsOf(line));
}

const NSString* textOf(const id& value) {
  return objectAs<NSString>(value);
}

// The home country of `callingCode` (none for an empty one) and the trunk
// prefix value `trunkPrefix`, on this device: its region is the device's when
// that has the code, else the code's main country.
HomeCountry homeFor(const std::u16string& callingCode, const id& trunkPrefix) {
  HomeCountry home;
  home.trunkPrefix = trunkPrefix;
  if (callingCode.empty()) return home;
  home.callingCode = callingCode;
  id region = NSLocaleCurrentCountryCode();
  if (region && callingCodeForCountry(ns::units(region)) == callingCode) {
    home.region = ns::units(region);
  } else if (auto main = mainCountryOfCallingCode(callingCode)) {
    home.region = *main;
  }
  home.internationalPrefixes = internationalPrefixesOf(home.region);
  if (textOf(trunkPrefix) && textOf(trunkPrefix)->units() == trunkPrefixByCallingCode(callingCode))
    home.nationalPrefixes = nationalPrefixesOf(callingCode);
  return home;
}

// The calling code that `number` is looked up under with the home country
// that the preference `countryCode` or else the region gives.
std::u16string likelyCallingCode(const id& countryCode, const std::u16string& number) {
  std::u16string code;
  if (textOf(countryCode) && !textOf(countryCode)->units().empty()) {
    code = textOf(countryCode)->units();
  } else if (id region = NSLocaleCurrentCountryCode()) {
    code = callingCodeForCountry(ns::units(region)).value_or(u"");
  }
  return splitNumber(number, homeFor(code, NSString::make(u""))).callingCode;
}

// Writes a whole file; false when it cannot be made (a name that is too long
// for the file system, say), which the lookup then meets as a missing file.
bool writeFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
        "the scratch folder takes a file");
  ::close(fd);
  return true;
}

// The area the scan finds for `national` in `text`: none, or a text; `usable`
// turns false when the text is not UTF-8.
std::optional<std::u16string> scanned(std::string_view text, const std::u16string& callingCode,
                                      const std::u16string& national, bool& usable) {
  const AreaScan scan = scanAreaCodes(text, callingCode.size(), national);
  usable = scan.result != AreaScan::Result::notUtf8;
  if (scan.result != AreaScan::Result::match) return std::nullopt;
  return toUtf16(scan.areaText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static std::vector<std::string> written;
  const std::string& root = deviceRoot();

  std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const std::string_view region = fuzz_input::nextLine(input);
  const id countryCode = valueOf(fuzz_input::nextLine(input));
  const id trunkPrefix = valueOf(fuzz_input::nextLine(input));
  const id recents = valueOf(fuzz_input::nextLine(input));
  const std::u16string number = fuzz_input::unitsOf(fuzz_input::nextLine(input));
  const std::string_view which = fuzz_input::nextLine(input);
  const size_t nul = input.find('\0');
  const std::string_view deviceText = input.substr(0, nul);
  const std::string_view resourceText =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  // The preferences as the settings editor leaves them: a file, and a process
  // that has not read it yet.
  host::setDeviceRegion(region.empty() ? std::nullopt : std::optional<std::string>(region));
  NSDictionary::Entries prefs;
  for (const auto& [key, value] :
       {std::pair{kCountryCodeKey, countryCode}, std::pair{kTrunkPrefixKey, trunkPrefix},
        std::pair{kRecentsKey, recents}}) {
    if (value) prefs[std::string(key)] = value;
  }
  check(writeFile(host::preferencesPath(kPrefsDomain), host::plist::encodeXml(prefs)),
        "the preference file is written");
  host::resetPreferenceViews();

  for (const std::string& path : written) ::unlink(path.c_str());
  written.clear();
  const std::u16string fileCode = likelyCallingCode(countryCode, number);
  bool hasDevice = which.find('d') != std::string_view::npos;
  bool hasResource = which.find('r') != std::string_view::npos;
  if (isFileSafeCallingCode(fileCode)) {
    const std::string name = toUtf8(fileCode) + ".txt";
    const std::string devicePath = root + std::string(kAreaCodeFolder) + name;
    const std::string resourcePath = root + "/resources/codes/" + name;
    hasDevice = hasDevice && writeFile(devicePath, deviceText);
    hasResource = hasResource && writeFile(resourcePath, resourceText);
    if (hasDevice) written.push_back(devicePath);
    if (hasResource) written.push_back(resourcePath);
  } else {
    hasDevice = hasResource = false;
  }

  const id stored = NSString::make(number);
  phoneNumber = stored;
  area = nil;
  initVals();  // must return normally, whatever it was given
  check(phoneNumber == stored, "phoneNumber was replaced");

  // The home country the lookup settled on, as the preferences now hold it.
  const id settledCode = CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain);
  std::optional<std::u16string> expected;
  if (!settledCode || textOf(settledCode)) {
    const HomeCountry home =
        homeFor(textOf(settledCode) ? textOf(settledCode)->units() : std::u16string(),
                CFPreferencesCopyAppValue(kTrunkPrefixKey, kPrefsDomain));
    NumberParts parts;
    try {
      parts = splitNumber(number, home);
    } catch (const NSException&) {
    }
    const bool refused = number.find(u'\0') != std::u16string::npos;
    if (parts.lookedUp() && !number.empty() && !refused && parts.callingCode == fileCode &&
        isFileSafeCallingCode(fileCode)) {
      bool usable = false;
      if (hasDevice) expected = scanned(deviceText, fileCode, parts.nationalNumber, usable);
      if (!usable && hasResource) {
        expected = scanned(resourceText, fileCode, parts.nationalNumber, usable);
      }
    }
    check(expected ? area && valuesEqual(area, NSString::make(*expected)) : !area,
          "the lookup's area is not the one in the files");
  }
  phoneNumber = nil;
  area = nil;
  return 0;
}
