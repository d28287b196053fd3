// Prebuilt index files: every bundled file's index answers as the index built
// from its text; an index is believed only for the very text version it was
// made from; and a damaged, cut short or foreign index is never read.
#include "lookup/area_index_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/foundation/file_version.h"
#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/area_index_layout.h"
#include "lookup/area_index_writer.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

std::string answer(std::optional<std::string_view> found) {
  return found ? "=" + std::string(*found) : "none";
}

// Guards the build's indexes and the whole format on real data: for every
// bundled area-code file, its index (which must be current for the file the
// build copied) gives the text index's answer for every key's own prefix, the
// prefix with a digit more, and random numbers.
TEST(AreaIndexFile, EveryBundledIndexAnswersAsItsText) {
  std::mt19937 random(21);
  size_t files = 0;
  for (const auto& entry :
       fs::directory_iterator(fs::path(testing_support::bundleDir()) / "codes")) {
    if (entry.path().extension() != ".txt") continue;
    ++files;
    const std::string path = entry.path().string();
    const std::string code = entry.path().stem().string();
    SCOPED_TRACE(path);
    PrebuiltAreaIndex prebuilt;
    ASSERT_TRUE(loadPrebuiltAreaIndex(areaIndexPathOf(path), host::statFileVersion(path),
                                      code.size(), kIndexedFileSizeLimit, prebuilt));
    std::string text;
    ASSERT_TRUE(host::readWholeFile(path, text));
    AreaIndex built;
    ASSERT_TRUE(buildAreaIndex(text, code.size(), built));

    std::vector<std::u16string> numbers;
    for (size_t at = 0; at < text.size();) {
      const size_t end = text.find('\n', at);
      const std::string key = text.substr(at, text.find('|', at) - at);
      numbers.push_back(toUtf16(key.substr(code.size())));
      numbers.push_back(numbers.back() + char16_t(u'0' + random() % 10));
      at = end == std::string::npos ? text.size() : end + 1;
    }
    for (int i = 0; i < 200; ++i) {
      std::u16string number;
      for (int digit = 0; digit < 3 + static_cast<int>(random() % 10); ++digit) {
        number += char16_t(u'0' + random() % 10);
      }
      numbers.push_back(number);
    }
    for (const std::u16string& number : numbers) {
      ASSERT_EQ(answer(findInAreaIndex(prebuilt.index, number)),
                answer(findInAreaIndex(built, number)))
          << toUtf8(number);
    }
  }
  EXPECT_GE(files, 200u);
}

// An index laid out and read back in memory, with `stamp`.
struct Encoded {
  AreaIndexBytes bytes;
  FlatAreaIndex index;
  bool opened = false;
};
Encoded encode(std::string_view text, size_t skipped, const AreaIndexStamp& stamp = {}) {
  Encoded encoded;
  AreaIndex index;
  EXPECT_TRUE(buildAreaIndex(text, skipped, index));
  encoded.bytes = encodeAreaIndex(index, stamp);
  AreaIndexStamp read;
  encoded.opened =
      openAreaIndexBytes(encoded.bytes.data(), encoded.bytes.size() * 8, encoded.index, read);
  return encoded;
}

TEST(AreaIndexFile, WideAreaNumbersSurviveTheRoundTrip) {
  // More area texts than 16-bit numbers can tell apart, in and out of order.
  for (const bool ordered : {true, false}) {
    std::string text;
    for (int key = 0; key < 70000; ++key) {
      const int value = ordered ? key : 69999 - key;
      text += "44" + std::to_string(1000000 + value) + "|Town " + std::to_string(value) + "\n";
    }
    const Encoded encoded = encode(text, 2);
    ASSERT_TRUE(encoded.opened);
    for (int value : {0, 65535, 65536, 69999}) {
      EXPECT_EQ(answer(findInAreaIndex(encoded.index, toUtf16(std::to_string(1000000 + value)))),
                "=Town " + std::to_string(value))
          << ordered;
    }
  }
}

// Guards the one rule that keeps an index from answering for a text it was
// not made from: every recorded field must match the text's stat, and the
// recorded times must have been settled when the index was made.
TEST(AreaIndexFile, StampMatchesOnlyTheVersionItRecorded) {
  host::FileVersion text;
  text.present = true;
  text.device = 64769;
  text.inode = 1234567;
  text.mode = 0100644;
  text.size = 3488805;
  text.modifiedNs = 1700000000123456789;
  text.changedNs = 1700000000223456789;
  const AreaIndexStamp made = stampOf(text, text.changedNs + 60'000'000, 2);  // 60 ms: settled
  ASSERT_TRUE(stampMatchesText(made, text, 2));

  struct Case {
    const char* what;
    void (*change)(host::FileVersion&, AreaIndexStamp&, size_t&);
  };
  const Case cases[] = {
      {"another device", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.device++; }},
      {"another inode (a copy, a rename)",
       [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.inode++; }},
      {"another mode", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.mode ^= 0200; }},
      {"another size", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.size--; }},
      {"modified since", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.modifiedNs++; }},
      {"changed since", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t.changedNs++; }},
      {"the text is gone", [](host::FileVersion& t, AreaIndexStamp&, size_t&) { t = {}; }},
      {"another calling code's length",
       [](host::FileVersion&, AreaIndexStamp&, size_t& skipped) { skipped = 3; }},
      {"made in the tick of the last change: a rewrite then could leave the times",
       [](host::FileVersion&, AreaIndexStamp& s, size_t&) { s.madeAtNs = s.changedNs + 1000; }},
      {"made before the last change",
       [](host::FileVersion&, AreaIndexStamp& s, size_t&) { s.madeAtNs = s.changedNs - 1; }},
      {"whole-second times, made one second later",
       [](host::FileVersion& t, AreaIndexStamp& s, size_t&) {
         t.modifiedNs = s.modifiedNs = 1700000000000000000;
         t.changedNs = s.changedNs = 1700000001000000000;
         s.madeAtNs = 1700000002000000000;
       }},
  };
  for (const Case& c : cases) {
    host::FileVersion now = text;
    AreaIndexStamp stamp = made;
    size_t skipped = 2;
    c.change(now, stamp, skipped);
    EXPECT_FALSE(stampMatchesText(stamp, now, skipped)) << c.what;
  }
}

// Replaces the file at `path` by one holding `bytes`.
void writeIndexFile(const std::string& path, const AreaIndexBytes& bytes) {
  std::error_code ignored;
  fs::remove(path, ignored);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size() * 8));
}

// Guards the reuse of a large index's buffer once its index is dropped: it
// goes to one index at a time, and only to one it is large enough for. Each
// index read whole must answer with its own texts while the others live.
TEST(AreaIndexFile, ALargeBufferIsReusedByOneIndexAtATimeThatFitsIt) {
  testing_support::TempDevice folder;
  // An index of `towns` towns named `name` N, the first at 442000000: 64
  // blocks or more, the size from which buffers are mapped and reused.
  auto indexOf = [&](const char* name, int towns) {
    std::string text;
    for (int i = 0; i < towns; ++i) {
      text += "44" + std::to_string(2000000 + i) + "|" + name + std::to_string(i) + "\n";
    }
    const Encoded encoded = encode(text, 2);
    EXPECT_GE(encoded.bytes.size() * 8, 64 * kAreaIndexBlockBytes) << name;
    const std::string path = folder.path(std::string(name) + ".idx");
    writeIndexFile(path, encoded.bytes);
    auto opened = std::make_unique<PrebuiltAreaIndex>();
    AreaIndexStamp stamp;
    EXPECT_TRUE(openAreaIndexFile(path, kIndexedFileSizeLimit, *opened, stamp)) << name;
    EXPECT_TRUE(opened->pages && opened->pages->ensureAll()) << name;
    return opened;
  };
  auto answers = [](PrebuiltAreaIndex& index, int town) {
    bool failed = false;
    return answer(
        findInPrebuiltAreaIndex(index, toUtf16(std::to_string(2000000 + town)), nullptr, failed));
  };
  const unsigned char* kept = indexOf("Large", 30000)->pages->bytes();
  {
    const auto first = indexOf("Ash", 20000);
    const auto second = indexOf("Elm", 20000);
    EXPECT_EQ(first->pages->bytes(), kept);
    EXPECT_NE(second->pages->bytes(), kept);
    for (const int town : {0, 12345, 19999}) {
      EXPECT_EQ(answers(*first, town), "=Ash" + std::to_string(town));
      EXPECT_EQ(answers(*second, town), "=Elm" + std::to_string(town));
    }
  }
  // Larger than any index the tests read, the bundled ones included.
  const auto larger = indexOf("Oak", 100000);
  EXPECT_NE(larger->pages->bytes(), kept);
  EXPECT_EQ(answers(*larger, 99999), "=Oak99999");
}

// Guards reading block by block: a search reads only the blocks it touches,
// a damaged block fails the searches that reach it and no other, and blocks
// are never taken from a file that replaced the one whose head was read.
TEST(AreaIndexFile, ASearchReadsOnlyTheBlocksItTouches) {
  auto townsText = [](const char* name) {
    std::string text = "4430|Leeds\n";  // a group of one key besides the towns'
    for (int i = 0; i < 3000; ++i) {
      text += "44" + std::to_string(2000000 + i * 3) + "|" + name + std::to_string(i) + "\n";
    }
    return text;
  };
  const Encoded sound = encode(townsText("Town "), 2);
  ASSERT_TRUE(sound.opened);
  const size_t blocks = (sound.bytes.size() * 8 + kAreaIndexBlockBytes - 1) / kAreaIndexBlockBytes;
  ASSERT_GE(blocks, 8u);
  AreaIndexHeader header;
  std::memcpy(&header, sound.bytes.data(), sizeof header);
  // A search reads a group's starts before its keys: they lie in the head,
  // which is read anyway.
  // A group's area numbers follow its keys, so that a group of a few keys
  // has both in one block.
  for (size_t digits = 0; digits < std::size(header.groups); ++digits) {
    const AreaIndexGroupExtents& group = header.groups[digits];
    EXPECT_LE(group.starts.offset + group.starts.count * sizeof(uint32_t), kAreaIndexBlockBytes);
    const size_t keyBytes = digits <= kShortDigits ? 2 : digits <= kNarrowDigits ? 4 : 8;
    EXPECT_EQ(group.areas.offset, (group.keys.offset + group.keys.count * keyBytes + 7) / 8 * 8)
        << digits << " digits";
  }
  AreaIndexBytes damaged = sound.bytes;
  // The last byte of the last town's name, in the file's last block.
  reinterpret_cast<char*>(damaged.data())[header.areaTexts.offset + header.areaTexts.count - 1] ^=
      1;

  testing_support::TempDevice folder;
  const std::string path = folder.path("44.idx");
  struct Case {
    const char* what;
    const AreaIndexBytes* bytes;
    const char* number;
    std::string answer;  // "failed" when the search must fail
  };
  const Case cases[] = {
      {"sound, first town", &sound.bytes, "2000000", "=Town 0"},
      {"sound, last town", &sound.bytes, "2008997", "=Town 2999"},
      {"sound, between towns", &sound.bytes, "2000001", "none"},
      {"damaged, first town", &damaged, "2000000", "=Town 0"},
      {"damaged, last town", &damaged, "2008997", "failed"},
  };
  for (const Case& c : cases) {
    writeIndexFile(path, *c.bytes);
    PrebuiltAreaIndex lazy;
    AreaIndexStamp stamp;
    ASSERT_TRUE(openAreaIndexFile(path, kIndexedFileSizeLimit, lazy, stamp)) << c.what;
    bool failed = false;
    const std::string found =
        answer(findInPrebuiltAreaIndex(lazy, toUtf16(c.number), nullptr, failed));
    EXPECT_EQ(failed ? "failed" : found, c.answer) << c.what;
    EXPECT_LE(lazy.pages->blocksRead(), blocks / 2) << c.what;
    // Each block read in makes one new page of memory, not two.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(lazy.pages->bytes()) % kAreaIndexBlockBytes, 0u)
        << c.what;
  }

  // Opened, searched once, then replaced by another sound index: the blocks
  // the next search needs are not taken from the new file.
  writeIndexFile(path, sound.bytes);
  PrebuiltAreaIndex lazy;
  AreaIndexStamp stamp;
  ASSERT_TRUE(openAreaIndexFile(path, kIndexedFileSizeLimit, lazy, stamp));
  bool failed = false;
  EXPECT_EQ(answer(findInPrebuiltAreaIndex(lazy, u"2000000", nullptr, failed)), "=Town 0");
  writeIndexFile(path, encode(townsText("Village "), 2).bytes);
  findInPrebuiltAreaIndex(lazy, u"2008997", nullptr, failed);
  EXPECT_TRUE(failed);
}

// Sets the checksum of `bytes` to what it must be, so that a change gets past
// it to the checks behind it.
void fixChecksum(AreaIndexBytes& bytes) {
  sealAreaIndex(bytes.data(), bytes.size() * 8);
}

AreaIndexHeader& headerOf(AreaIndexBytes& bytes) {
  return *reinterpret_cast<AreaIndexHeader*>(bytes.data());
}

// Guards that the reader refuses what it cannot trust, before using any of
// it: each case changes a sound index file one way, and the file must not
// open; read block by block, it must not open or its searches must fail. Those marked "checksum
// fixed" get past the checksum, so that the check behind it is the one tried.
TEST(AreaIndexFile, DamagedCutShortAndForeignIndexesDoNotOpen) {
  const Encoded sound = encode("44|Anywhere\n4420|London\n44161|Manchester\n44ä|Text key\n", 2);
  ASSERT_TRUE(sound.opened);
  const size_t size = sound.bytes.size() * 8;
  struct Case {
    const char* what;
    void (*change)(AreaIndexBytes&);
  };
  const Case cases[] = {
      {"magic", [](AreaIndexBytes& b) { headerOf(b).magic[0] = 'X'; }},
      {"other byte order", [](AreaIndexBytes& b) { headerOf(b).byteOrder = 0x04030201; }},
      {"other format version, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).version = kAreaIndexFormatVersion + 1;
         fixChecksum(b);
       }},
      {"longer than it says", [](AreaIndexBytes& b) { b.push_back(0); }},
      {"a flipped bit in the last word", [](AreaIndexBytes& b) { b.back() ^= 1; }},
      {"a flipped bit in the stamp", [](AreaIndexBytes& b) { headerOf(b).textInode ^= 4; }},
      {"unknown flags, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).flags = 2;
         fixChecksum(b);
       }},
      {"an array past the end, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).areaTexts.offset = static_cast<uint32_t>(b.size() * 8 - 4);
         fixChecksum(b);
       }},
      {"an array inside the header, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).groups[2].keys.offset = 8;
         fixChecksum(b);
       }},
      {"a misaligned array, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).groups[2].starts.offset += 2;
         fixChecksum(b);
       }},
      {"keys and areas of different counts, checksum fixed",
       [](AreaIndexBytes& b) {
         headerOf(b).groups[2].areas.count += 1;
         fixChecksum(b);
       }},
      {"a start beyond the keys, checksum fixed",
       [](AreaIndexBytes& b) {
         AreaIndexHeader& h = headerOf(b);
         uint32_t starts[2];
         std::memcpy(starts, reinterpret_cast<char*>(b.data()) + h.groups[2].starts.offset, 8);
         starts[0] = 99;
         std::memcpy(reinterpret_cast<char*>(b.data()) + h.groups[2].starts.offset, starts, 8);
         fixChecksum(b);
       }},
      {"an area text that is not UTF-8, checksum fixed",
       [](AreaIndexBytes& b) {
         AreaIndexHeader& h = headerOf(b);
         reinterpret_cast<unsigned char*>(b.data())[h.areaTexts.offset] = 0xFF;
         fixChecksum(b);
       }},
  };
  testing_support::TempDevice folder;
  const std::string path = folder.path("44.idx");
  for (const Case& c : cases) {
    AreaIndexBytes bytes = sound.bytes;
    c.change(bytes);
    FlatAreaIndex index;
    AreaIndexStamp stamp;
    EXPECT_FALSE(openAreaIndexBytes(bytes.data(), bytes.size() * 8, index, stamp)) << c.what;
    // Read as lookups read it, the file does not open, or a search fails.
    writeIndexFile(path, bytes);
    PrebuiltAreaIndex lazy;
    bool failed = !openAreaIndexFile(path, kIndexedFileSizeLimit, lazy, stamp);
    for (const char* number : {"20", "161", "9", "ä"}) {
      bool searchFailed = false;
      if (!failed) findInPrebuiltAreaIndex(lazy, toUtf16(number), nullptr, searchFailed);
      failed = failed || searchFailed;
    }
    EXPECT_TRUE(failed) << c.what;
  }
  for (size_t cut : {size_t{0}, size_t{8}, sizeof(AreaIndexHeader) - 8, sizeof(AreaIndexHeader),
                     size - 8, size - 1}) {
    FlatAreaIndex index;
    AreaIndexStamp stamp;
    EXPECT_FALSE(openAreaIndexBytes(sound.bytes.data(), cut, index, stamp)) << "cut to " << cut;
  }
}

}  // namespace
