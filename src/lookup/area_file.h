// The area-code file of a calling code, and finding an area in it.
//
// The file of calling code C is "/Library/Application Support/ZelvoraPro/" C
// ".txt" on the device. When that file cannot be read as UTF-8 (missing,
// unreadable, not valid UTF-8), the host application's resource "codes/C.txt"
// is read instead; when that fails too there is no text. An empty file in the
// data folder is a text and is used. Only a calling code that passes
// isFileSafeCallingCode names a file at all.
//
// Each file is indexed once per version and checked for changes before every
// lookup (lookup/area_cache.h), so an edited, replaced or removed file takes
// effect at the next lookup.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lookup/area_cache.h"

inline constexpr std::string_view kAreaCodeFolder = "/Library/Application Support/ZelvoraPro/";

// The device path of the area-code file of `callingCode`.
std::string areaCodeFilePath(std::u16string_view callingCode);

// The area text for `nationalNumber` under `callingCode`, or none when no file
// can be read or no key matches.
// With `detail`, also says where the answer came from (lookup/area_cache.h).
std::optional<std::u16string> findArea(std::u16string_view callingCode,
                                       std::u16string_view nationalNumber,
                                       AreaLookupDetail* detail = nullptr);
