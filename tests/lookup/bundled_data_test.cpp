// The bundled area-code files in data/codes as they lie in the source tree:
// known entries (libphonenumber's geocoding data, English texts) and the
// record format of every file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include "lookup/area_scan.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

fs::path codesDir() {
  return fs::path(testing_support::sourceDataDir()) / "codes";
}

std::string readWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << file;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool isDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Guards against wrong, non-English or missing area texts and country lines in
// the generated data ("4989" also has the German "München", "8610" a Chinese
// text). Each entry is a calling code, a blank, and the rest of the record;
// one without "|" must be absent (245320 has only a Portuguese text). 35818
// has only a Northern Sami area text, so the country line of the Åland Islands
// stands there.
TEST(BundledData, KnownEntriesHaveTheirEnglishAreaTexts) {
  for (const std::string entry :
       {"44 20|London", "1 201|New Jersey", "1 418269|Gasp\u00e9, QC", "49 30|Berlin",
        "49 89|Munich", "33 1426", "33 |France", "1 227|Maryland", "86 10|Beijing", "39 06|Rome",
        "7 495|Moscow", "55 11333|S\u00e3o Paulo - SP", "358 19|Uusimaa",
        "358 18|\u00c5land Islands", "245 320",
        // Country lines: the calling code alone, or the prefix that tells one
        // country of a shared code; none where the prefix cannot.
        "49 |Germany", "376 |Andorra", "1 876|Jamaica", "7 7|Kazakhstan", "44 7700"}) {
    SCOPED_TRACE(entry);
    const std::string code = entry.substr(0, entry.find(' '));
    const std::string record = code + entry.substr(code.size() + 1);
    const std::string key = record.substr(0, record.find('|')) + "|";
    std::istringstream in(readWhole(codesDir() / (code + ".txt")));
    std::string found = "<absent>";
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with(key)) found = line;
    }
    EXPECT_EQ(found, record.find('|') == std::string::npos ? "<absent>" : record);
  }
}

// Guards against a file the lookup cannot read or would read wrongly: names
// are prefix-free calling codes (so a key belongs to one file only), texts are
// UTF-8 with LF endings and no other line terminator, every line is one
// record "<key>|<area>" whose key is ASCII digits beginning with the file's
// calling code, and the keys ascend strictly.
TEST(BundledData, EveryFileIsInTheRecordFormat) {
  std::set<std::string> codes;
  for (const auto& entry : fs::directory_iterator(codesDir())) {
    const std::string name = entry.path().filename().string();
    if (name.front() == '.') continue;
    EXPECT_TRUE(entry.is_regular_file() && name.ends_with(".txt") &&
                isDigits(name.substr(0, name.size() - 4)))
        << "not a calling-code file: " << name;
    codes.insert(name.substr(0, name.size() - 4));
  }
  // libphonenumber 8.12.57 has geographic data for 155 calling codes.
  EXPECT_TRUE(codes.size() >= 120 && codes.size() <= 250) << codes.size() << " files";
  std::string previousCode = "-";
  std::size_t totalRecords = 0;
  for (const std::string& code : codes) {
    SCOPED_TRACE(code + ".txt");
    EXPECT_FALSE(code.starts_with(previousCode)) << previousCode << " begins " << code;
    previousCode = code;
    const std::string text = readWhole(codesDir() / (code + ".txt"));
    ASSERT_FALSE(text.empty());
    // The lookup's own reader, checked by area_scan_test, validates the whole
    // text and gives notUtf8 for any invalid sequence.
    ASSERT_NE(scanAreaCodes(text, code.size(), u"").result, AreaScan::Result::notUtf8);
    ASSERT_EQ(text.find('\r'), std::string::npos) << "CR in the file";
    ASSERT_EQ(text.back(), '\n') << "last record is not ended by LF";
    for (const char* terminator : {"\u0085", "\u2028", "\u2029"}) {
      ASSERT_EQ(text.find(terminator), std::string::npos) << "line terminator inside a record";
    }
    std::string previousKey;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line); ++totalRecords) {
      SCOPED_TRACE(line);
      const std::size_t bar = line.find('|');
      ASSERT_NE(bar, std::string::npos) << "no '|'";
      EXPECT_EQ(line.find('|', bar + 1), std::string::npos) << "second '|'";
      const std::string key = line.substr(0, bar);
      ASSERT_TRUE(isDigits(key)) << "key is not ASCII digits";
      EXPECT_TRUE(key.starts_with(code)) << "key outside the file";
      EXPECT_GT(line.size(), bar + 1) << "empty area text";
      EXPECT_LT(previousKey, key) << "keys out of order or repeated";
      previousKey = key;
    }
  }
  // 285,689 English records from libphonenumber 8.12.57.
  EXPECT_GT(totalRecords, 200000u);
}

}  // namespace
