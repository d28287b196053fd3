#include "lookup/area_file.h"

#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/area_scan.h"
#include "lookup/normalise.h"

std::string areaCodeFilePath(std::u16string_view callingCode) {
  return std::string(kAreaCodeFolder) + toUtf8(callingCode) + ".txt";
}

std::optional<std::u16string> findArea(std::u16string_view callingCode,
                                       std::u16string_view nationalNumber) {
  if (!isFileSafeCallingCode(callingCode)) return std::nullopt;
  std::optional<host::FileBytes> text =
      host::readFileBytes(host::devicePath(areaCodeFilePath(callingCode)));
  AreaScan scan;
  if (text) scan = scanAreaCodes(text->view(), callingCode.size(), nationalNumber);
  if (!text || scan.result == AreaScan::Result::notUtf8) {
    // The file cannot be read as UTF-8: the application's own copy is read
    // instead, and if that fails too there is no text.
    text.reset();
    std::optional<std::string> resource =
        NSBundlePathForResource(toUtf8(callingCode), "txt", "codes");
    if (resource) text = host::readFileBytes(*resource);
    if (!text) return std::nullopt;
    scan = scanAreaCodes(text->view(), callingCode.size(), nationalNumber);
  }
  if (scan.result != AreaScan::Result::match) return std::nullopt;
  return toUtf16(scan.areaText);
}
