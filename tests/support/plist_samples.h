// Property-list files for the tests of the limits: XML nested to a chosen
// depth and binary files of chosen object graphs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

inline const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";

inline std::string repeat(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A root dictionary holding arrays nested so that the deepest container is
// at level `levels`; `between` goes after every closing tag.
inline std::string nestedXml(size_t levels, const std::string& between = "") {
  return kHead + "<dict><key>k</key>" + repeat("<array>", levels - 1) +
         repeat("</array>" + between, levels - 1) + "</dict></plist>";
}

// A binary property list of `objects`, each an array of references to the
// objects listed (4-byte references and offsets), object 0 at the top.
inline std::string binaryPlist(const std::vector<std::vector<uint32_t>>& objects) {
  auto bigEndian = [](std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
  };
  std::string out = "bplist00";
  std::vector<uint64_t> offsets;
  for (const auto& refs : objects) {
    offsets.push_back(out.size());
    if (refs.size() < 15) {
      out += char(0xA0 | refs.size());
    } else {
      out += char(0xAF);
      out += char(0x12);
      bigEndian(out, refs.size(), 4);
    }
    for (uint32_t ref : refs) bigEndian(out, ref, 4);
  }
  uint64_t table = out.size();
  for (uint64_t offset : offsets) bigEndian(out, offset, 4);
  out += std::string(6, '\0');
  out += char(4);  // offset size
  out += char(4);  // reference size
  bigEndian(out, objects.size(), 8);
  bigEndian(out, 0, 8);
  bigEndian(out, table, 8);
  return out;
}

// A chain of arrays, each holding the next, `levels` deep, under a dictionary.
inline std::vector<std::vector<uint32_t>> chain(uint32_t levels) {
  std::vector<std::vector<uint32_t>> objects;
  for (uint32_t i = 0; i + 1 < levels; ++i) objects.push_back({i + 1});
  objects.push_back({});
  return objects;
}

}  // namespace testing_support
