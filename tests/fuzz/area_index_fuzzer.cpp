// The index of an area-code file against the one-pass scan, in memory: for
// any bytes and any numbers both must give the same answer (the same area
// text, no match, or not UTF-8), whether the index reads the text whole or a
// few bytes at a time. A difference aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "lookup/area_index.h"
#include "lookup/area_scan.h"

namespace {

std::u16string fuzzedNumber(FuzzedDataProvider& data) {
  std::u16string units;
  const size_t count = data.ConsumeIntegralInRange<size_t>(0, 24);
  for (size_t i = 0; i < count && data.remaining_bytes() > 0; ++i) {
    // Mostly digits, so that long prefixes match; sometimes any code unit.
    if (data.ConsumeIntegralInRange(0, 3) != 0) {
      units += u"0123456789|\u00E4 "[data.ConsumeIntegralInRange(0, 13)];
    } else {
      units += data.ConsumeIntegral<char16_t>();
    }
  }
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const size_t skipped = data.ConsumeIntegralInRange<size_t>(0, 4);
  std::vector<std::u16string> numbers(data.ConsumeIntegralInRange<size_t>(1, 4));
  for (auto& number : numbers) number = fuzzedNumber(data);
  const size_t readSize =
      data.ConsumeBool() ? kAreaReadSize : data.ConsumeIntegralInRange<size_t>(1, 200);
  const std::string text = data.ConsumeRemainingBytesAsString();

  AreaIndex index;
  const bool built = buildAreaIndex(text, skipped, index, readSize);
  for (const auto& number : numbers) {
    const AreaScan scan = scanAreaCodes(text, skipped, number);
    if (!built) {
      if (scan.result != AreaScan::Result::notUtf8) std::abort();
      continue;
    }
    const std::optional<std::string_view> found = findInAreaIndex(index, number);
    if (scan.result == AreaScan::Result::notUtf8) std::abort();
    if ((scan.result == AreaScan::Result::match) != found.has_value()) std::abort();
    if (found && *found != scan.areaText) std::abort();
  }
  return 0;
}
