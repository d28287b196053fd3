#include "lookup/area_file.h"

#include "host/foundation/values.h"
#include "lookup/area_cache.h"
#include "lookup/normalise.h"

std::string areaCodeFilePath(std::u16string_view callingCode) {
  return std::string(kAreaCodeFolder) + toUtf8(callingCode) + ".txt";
}

std::optional<std::u16string> findArea(std::u16string_view callingCode,
                                       std::u16string_view nationalNumber,
                                       AreaLookupDetail* detail) {
  if (!isFileSafeCallingCode(callingCode)) return std::nullopt;
  return lookUpArea(callingCode, nationalNumber, detail);
}
