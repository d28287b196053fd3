// Feeds arbitrary numbers, preference values and area-code file bytes through
// the whole lookup. Nothing may escape initVals, crash, or grow without bound.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/foundation/device.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/state.h"

namespace fs = std::filesystem;

namespace {

const std::string& deviceRoot() {
  static const std::string root = [] {
    std::string pattern = (fs::temp_directory_path() / "zelvora-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    fs::create_directories(pattern + std::string(kAreaCodeFolder));
    host::setDeviceRoot(pattern);
    host::setMainBundleResourcePath(pattern + "/resources");
    fs::create_directories(pattern + "/resources/codes");
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(host::deviceRoot(), ignored);
    });
    return pattern;
  }();
  return root;
}

id fuzzedValue(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return nil;
    case 1:
      return NSNull::null();
    case 2:
      return NSNumber::integer(data.ConsumeIntegral<int64_t>());
    case 3:
      return NSNumber::real(data.ConsumeFloatingPoint<double>());
    case 4:
      return NSArray::make({NSString::fromUtf8(data.ConsumeRandomLengthString(8))});
    case 5:
      return NSString::fromUtf8(std::to_string(data.ConsumeIntegralInRange(0, 999)));
    default:
      return NSString::fromUtf8(data.ConsumeRandomLengthString(12));
  }
}

std::u16string fuzzedUnits(FuzzedDataProvider& data, size_t most) {
  std::u16string units;
  size_t count = data.ConsumeIntegralInRange<size_t>(0, most);
  for (size_t i = 0; i < count && data.remaining_bytes() > 0; ++i) {
    // Mostly the characters numbers are made of, sometimes any code unit.
    if (data.ConsumeBool()) {
      units += u"0123456789+ ()-44\u00A0./"[data.ConsumeIntegralInRange(0, 18)];
    } else {
      units += data.ConsumeIntegral<char16_t>();
    }
  }
  return units;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string& root = deviceRoot();
  FuzzedDataProvider data(bytes, size);

  host::resetPreferenceViews();
  host::setDeviceRegion(data.ConsumeBool()
                            ? std::optional<std::string>("GB")
                            : std::optional<std::string>(data.ConsumeBytesAsString(2)));
  CFPreferencesSetAppValue(kCountryCodeKey, fuzzedValue(data), kPrefsDomain);
  CFPreferencesSetAppValue(kTrunkPrefixKey, fuzzedValue(data), kPrefsDomain);
  CFPreferencesSetAppValue(kRecentsKey, fuzzedValue(data), kPrefsDomain);
  CFPreferencesAppSynchronize(kPrefsDomain);

  const std::u16string number = fuzzedUnits(data, 64);
  const std::string resource = data.ConsumeRandomLengthString(4096);
  const std::string file = data.ConsumeRemainingBytesAsString();
  for (const char* code : {"44", "1", "7"}) {
    writeFile(root + std::string(kAreaCodeFolder) + code + ".txt", file);
    writeFile(root + "/resources/codes/" + code + ".txt", resource);
  }

  phoneNumber = NSString::make(number);
  area = nil;
  initVals();  // must return normally, whatever it was given
  phoneNumber = nil;
  area = nil;
  return 0;
}
