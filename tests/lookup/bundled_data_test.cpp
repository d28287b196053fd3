// Checks the bundled area-code files in data/codes as they lie in the source
// tree: known entries (taken from libphonenumber's geocoding data, English
// texts) and the record format of every file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

fs::path codesDir() {
  return fs::path(testing_support::sourceDataDir()) / "codes";
}

std::string readWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << file;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// On failure `where` is the byte offset of the bad sequence.
bool isValidUtf8(std::string_view text, std::size_t& where) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    where = i;
    const unsigned char lead = bytes[i];
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1F;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0F;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07;
      least = 0x10000;
    } else {
      return false;
    }
    if (size - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (bytes[i + k] & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// The calling codes that have a file, from the names "<digits>.txt".
std::vector<std::string> callingCodesWithFiles() {
  std::vector<std::string> codes;
  for (const auto& entry : fs::directory_iterator(codesDir())) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
      codes.push_back(name.substr(0, name.size() - 4));
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

std::optional<std::map<std::string, std::string>> loadRecords(const std::string& callingCode) {
  const fs::path file = codesDir() / (callingCode + ".txt");
  if (!fs::is_regular_file(file)) return std::nullopt;
  std::map<std::string, std::string> records;
  std::istringstream in(readWhole(file));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t bar = line.find('|');
    if (bar == std::string::npos) continue;  // format errors are the other tests' business
    records[line.substr(0, bar)] = line.substr(bar + 1);
  }
  return records;
}

struct KnownEntry {
  const char* callingCode;
  const char* key;
  const char* area;
};

// Picked from phonenumbers.geodata.GEOCODE_DATA (python3-phonenumbers 8.12.57)
// and checked with phonenumbers.geocoder.description_for_number(..., "en").
constexpr KnownEntry kKnownEntries[] = {
    {"44", "4420", "London"},
    {"44", "44121", "Birmingham"},
    {"1", "1201", "New Jersey"},
    {"1", "1212", "New York, NY"},
    {"1", "1418269", "Gasp\u00e9, QC"},
    {"49", "4930", "Berlin"},
    {"49", "4989", "Munich"},  // the data also holds the German "München"
    {"33", "331426", "Paris"},
    {"86", "8610", "Beijing"},  // not the Chinese text of the same prefix
    {"86", "8621", "Shanghai"},
    {"39", "3906", "Rome"},
    {"39", "3902", "Milan"},
    {"7", "7495", "Moscow"},
    {"7", "7812", "St Petersburg"},
    {"55", "5511333", "S\u00e3o Paulo - SP"},
    {"81", "813", "Tokyo"},
    {"82", "822", "Seoul"},
};

TEST(BundledDataTest, KnownEntriesHaveTheirEnglishAreaTexts) {
  for (const KnownEntry& entry : kKnownEntries) {
    SCOPED_TRACE(std::string(entry.callingCode) + ".txt, key " + entry.key);
    const auto records = loadRecords(entry.callingCode);
    ASSERT_TRUE(records.has_value()) << "file missing";
    const auto found = records->find(entry.key);
    ASSERT_NE(found, records->end()) << "key missing";
    EXPECT_EQ(found->second, entry.area);
  }
}

TEST(BundledDataTest, PrefixesWithoutAnEnglishTextAreLeftOut) {
  // In the package these prefixes have only a Northern Sami ("se") and a
  // Portuguese ("pt") text respectively.
  const auto finland = loadRecords("358");
  ASSERT_TRUE(finland.has_value());
  EXPECT_EQ(finland->count("35818"), 0u);
  const auto uusimaa = finland->find("35819");  // the neighbouring prefix is there
  ASSERT_NE(uusimaa, finland->end());
  EXPECT_EQ(uusimaa->second, "Uusimaa");

  const auto guineaBissau = loadRecords("245");
  ASSERT_TRUE(guineaBissau.has_value());
  EXPECT_EQ(guineaBissau->count("245320"), 0u);
}

TEST(BundledDataTest, NumberOfFilesIsPlausible) {
  const auto codes = callingCodesWithFiles();
  // libphonenumber 8.12.57 has geographic data for 155 calling codes.
  EXPECT_GE(codes.size(), 120u);
  EXPECT_LE(codes.size(), 250u);
  for (const char* code : {"1", "7", "33", "39", "44", "49", "86"})
    EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code << ".txt missing";
}

TEST(BundledDataTest, FolderHoldsOnlyCallingCodeFiles) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(codesDir())) {
    const std::string name = entry.path().filename().string();
    if (name.front() == '.') continue;
    ++files;
    EXPECT_TRUE(entry.is_regular_file()) << name;
    ASSERT_GT(name.size(), 4u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".txt") << name;
    EXPECT_TRUE(isDigits(name.substr(0, name.size() - 4))) << name;
  }
  EXPECT_GT(files, 0u);
}

TEST(BundledDataTest, CallingCodesOfTheFilesArePrefixFree) {
  // Otherwise a key such as "1234" could belong to two files.
  const auto codes = callingCodesWithFiles();
  for (const auto& a : codes) {
    for (const auto& b : codes) {
      if (a != b) {
        EXPECT_NE(b.rfind(a, 0), 0u) << a << " begins " << b;
      }
    }
  }
}

TEST(BundledDataTest, EveryFileIsWellFormed) {
  const auto codes = callingCodesWithFiles();
  ASSERT_FALSE(codes.empty());
  std::size_t totalRecords = 0;
  for (const auto& code : codes) {
    SCOPED_TRACE(code + ".txt");
    const std::string text = readWhole(codesDir() / (code + ".txt"));
    ASSERT_FALSE(text.empty());
    std::size_t badAt = 0;
    ASSERT_TRUE(isValidUtf8(text, badAt)) << "invalid UTF-8 at byte " << badAt;
    ASSERT_EQ(text.find('\r'), std::string::npos) << "CR in the file";
    ASSERT_EQ(text.back(), '\n') << "last record is not ended by LF";
    // The other terminators the lookup cuts lines at.
    for (const char* terminator : {"\u0085", "\u2028", "\u2029"})
      ASSERT_EQ(text.find(terminator), std::string::npos) << "line terminator inside a record";

    std::string previousKey;
    std::size_t lineNo = 0;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      const std::string_view line(text.data() + start, end - start);
      start = end + 1;
      ++lineNo;
      SCOPED_TRACE("line " + std::to_string(lineNo));
      ASSERT_FALSE(line.empty()) << "empty line";
      const std::size_t bar = line.find('|');
      ASSERT_NE(bar, std::string_view::npos) << "no '|' in: " << line;
      EXPECT_EQ(line.find('|', bar + 1), std::string_view::npos) << "second '|' in: " << line;
      const std::string key(line.substr(0, bar));
      const std::string_view area = line.substr(bar + 1);
      ASSERT_TRUE(isDigits(key)) << "key is not ASCII digits: " << line;
      ASSERT_EQ(key.rfind(code, 0), 0u) << "key does not begin with the calling code: " << line;
      EXPECT_GT(key.size(), code.size()) << "key without area digits: " << line;
      EXPECT_FALSE(area.empty()) << "empty area text: " << line;
      if (lineNo > 1) {
        EXPECT_LE(previousKey, key) << "keys out of order";
        EXPECT_NE(previousKey, key) << "key given twice";
      }
      previousKey = key;
      ++totalRecords;
    }
  }
  // 284,669 English records in libphonenumber 8.12.57.
  EXPECT_GT(totalRecords, 200000u);
}

}  // namespace
