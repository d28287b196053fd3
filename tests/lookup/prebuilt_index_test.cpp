// Prebuilt indexes through the lookup: an index made for a file is read
// instead of the file, and any change to the file, any damage to the index,
// or an index that cannot prove it belongs to the file makes the lookup read
// the file as before. A new process is stood in for by clearing the cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "host/foundation/device.h"
#include "host/foundation/file_version.h"
#include "host/foundation/values.h"
#include "lookup/area_cache.h"
#include "lookup/area_file.h"
#include "lookup/area_index_file.h"
#include "lookup/area_index_layout.h"
#include "lookup/area_index_writer.h"
#include "lookup/preference_keys.h"
#include "support/lookup_fixture.h"

namespace {

namespace fs = std::filesystem;

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class PrebuiltIndex : public testing_support::BundledLondonTest {
 protected:
  std::string text() const { return device.path(std::string(kAreaCodeFolder) + "44.txt"); }
  std::string index() const { return areaIndexPathOf(text()); }

  // Writes the text and waits until its times are old enough for an index
  // to be stamped with them.
  void writeSettled(const std::string& contents) {
    writeCodes("44", contents);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
  }

  // Writes to the index file an index of `contents` (not necessarily the
  // text's) stamped with the text's current version, made at `madeAt`.
  void forgeIndex(const std::string& contents, int64_t madeAt) {
    AreaIndex built;
    ASSERT_TRUE(buildAreaIndex(contents, 2, built));
    const host::FileVersion version = host::statFileVersion(text());
    const AreaIndexStamp stamp = stampOf(version, madeAt, 2);
    const AreaIndexBytes bytes = encodeAreaIndex(built, stamp);
    std::ofstream out(index(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size() * 8));
  }

  struct Reads {
    uint64_t texts;
    uint64_t indexes;
  };
  // Looks `number` up as a new process would, and says what was read.
  std::optional<std::string> freshLookUp(const char* number, Reads& reads) {
    clearAreaCache();
    const uint64_t texts = areaFilesRead();
    const uint64_t indexes = prebuiltAreaIndexesRead();
    std::optional<std::string> found = lookUp(number);
    reads = {areaFilesRead() - texts, prebuiltAreaIndexesRead() - indexes};
    return found;
  }
};

TEST_F(PrebuiltIndex, AnIndexMadeForTheFileIsReadInsteadOfIt) {
  writeSettled("4420|London\n44161|Manchester\n");
  ASSERT_EQ(writeAreaIndexBeside(text()), "");
  Reads reads{};
  EXPECT_EQ(freshLookUp("020 7946", reads), "London");
  EXPECT_EQ(reads.texts, 0u);
  EXPECT_EQ(reads.indexes, 1u);
  // Kept as the file's index: nothing is read again.
  const uint64_t indexes = prebuiltAreaIndexesRead();
  EXPECT_EQ(lookUp("0161 496"), "Manchester");
  EXPECT_EQ(prebuiltAreaIndexesRead(), indexes);
}

// Guards that no change to a file can leave its index answering: after each,
// the file is read again and gives its new answer.
TEST_F(PrebuiltIndex, AnyChangeToTheFileMakesItsIndexIgnored) {
  struct Case {
    const char* what;
    void (*change)(const std::string& path);
    const char* expected;  // for 020 7946
  };
  const Case cases[] = {
      {"edited to another size",
       [](const std::string& path) { std::ofstream(path, std::ios::app) << "44161|Leeds\n"; },
       "London"},
      {"rewritten in place, same size",
       [](const std::string& path) {
         const int fd = ::open(path.c_str(), O_WRONLY);
         ASSERT_EQ(::pwrite(fd, "4420|Lisbon\n", 12, 0), 12);
         ::close(fd);
       },
       "Lisbon"},
      {"replaced by a copy of the same size with the same times",
       [](const std::string& path) {
         struct stat old {};
         ASSERT_EQ(::stat(path.c_str(), &old), 0);
         std::ofstream(path + ".new") << "4420|Lisbon\n";
         const timespec times[2] = {old.st_atim, old.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, (path + ".new").c_str(), times, 0), 0);
         fs::rename(path + ".new", path);
       },
       "Lisbon"},
      {"removed and written again, same size",
       [](const std::string& path) {
         fs::remove(path);
         std::ofstream(path) << "4420|Lisbon\n";
       },
       "Lisbon"},
      {"touched, the bytes unchanged",
       [](const std::string& path) {
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
       },
       "London"},
  };
  for (const Case& c : cases) {
    writeSettled("4420|London\n");
    ASSERT_EQ(writeAreaIndexBeside(text()), "") << c.what;
    Reads reads{};
    ASSERT_EQ(freshLookUp("020 7946", reads), "London") << c.what;
    ASSERT_EQ(reads.indexes, 1u) << c.what;
    c.change(text());
    EXPECT_EQ(freshLookUp("020 7946", reads), c.expected) << c.what;
    EXPECT_EQ(reads.indexes, 0u) << c.what;
    EXPECT_EQ(reads.texts, 1u) << c.what;
  }
}

// Guards the racily-clean case: an index made in the clock tick of the file's
// last change proves nothing, since a same-size rewrite in that tick could
// leave every time as it was. Forged with the file's exact version, it must
// still be passed over; the same index made later is used.
TEST_F(PrebuiltIndex, AnIndexMadeTooSoonAfterTheFileChangedIsIgnored) {
  writeCodes("44", "4420|London\n");
  forgeIndex("4420|Index London\n", host::statFileVersion(text()).changedNs + 1000);
  Reads reads{};
  EXPECT_EQ(freshLookUp("020 7946", reads), "London");
  EXPECT_EQ(reads.indexes, 0u);
  forgeIndex("4420|Index London\n", host::statFileVersion(text()).changedNs + 60'000'000);
  EXPECT_EQ(freshLookUp("020 7946", reads), "Index London");
}

// Guards that the writer never stamps a file too recent to be told from a
// later change: it waits, by the clock it is given, until the file has
// settled, and its index is then used.
TEST_F(PrebuiltIndex, TheWriterWaitsUntilTheFileHasSettled) {
  writeCodes("44", "4420|London\n");
  const int64_t changed = host::statFileVersion(text()).changedNs;
  int64_t now = changed;
  int64_t slept = 0;
  const AreaIndexClock clock{[&] { return now; },
                             [&](int64_t ns) {
                               now += ns;
                               slept += ns;
                             }};
  ASSERT_EQ(writeAreaIndexBeside(text(), clock), "");
  EXPECT_GE(slept, 50'000'000);
  Reads reads{};
  EXPECT_EQ(freshLookUp("020 7946", reads), "London");
  EXPECT_EQ(reads.indexes, 1u);

  // A clock that never gets past the file's times: the writer gives up.
  const AreaIndexClock stopped{[&] { return changed; }, [](int64_t) {}};
  EXPECT_NE(writeAreaIndexBeside(text(), stopped), "");
}

// Guards that a bad index costs only the reading of the file: the forged
// index answers "Index London" when sound, so an answer of "London" shows it
// was not used.
TEST_F(PrebuiltIndex, ADamagedOrForeignIndexIsIgnored) {
  writeSettled("4420|London\n");
  forgeIndex("4420|Index London\n", host::fileClockNow());
  Reads reads{};
  ASSERT_EQ(freshLookUp("020 7946", reads), "Index London");
  std::string sound;
  {
    std::ifstream in(index(), std::ios::binary);
    sound.assign(std::istreambuf_iterator<char>(in), {});
  }
  struct Case {
    const char* what;
    void (*damage)(const std::string& path, std::string bytes);
  };
  const Case cases[] = {
      {"cut in half",
       [](const std::string& p, std::string b) { writeBytes(p, b.substr(0, b.size() / 2)); }},
      {"cut by one byte", [](const std::string& p, std::string b) { writeBytes(p, b.substr(1)); }},
      {"empty", [](const std::string& p, std::string) { writeBytes(p, ""); }},
      {"one byte of an area text changed",
       [](const std::string& p, std::string b) {
         b[b.find("Index")] = 'i';
         writeBytes(p, b);
       }},
      {"the other byte order",
       [](const std::string& p, std::string b) {
         std::swap(b[8], b[11]);
         std::swap(b[9], b[10]);
         writeBytes(p, b);
       }},
      {"another format version",
       [](const std::string& p, std::string b) {
         b[12] = static_cast<char>(b[12] + 1);
         writeBytes(p, b);
       }},
      {"a folder in its place",
       [](const std::string& p, std::string) {
         fs::remove(p);
         fs::create_directory(p);
       }},
      {"a FIFO in its place",
       [](const std::string& p, std::string) {
         fs::remove_all(p);
         ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
       }},
      {"over the size limit",
       [](const std::string& p, std::string b) {
         fs::remove_all(p);
         writeBytes(p, b);
         ASSERT_EQ(::truncate(p.c_str(), static_cast<off_t>(kIndexedFileSizeLimit + 8)), 0);
       }},
  };
  for (const Case& c : cases) {
    c.damage(index(), sound);
    EXPECT_EQ(freshLookUp("020 7946", reads), "London") << c.what;
    EXPECT_EQ(reads.indexes, 0u) << c.what;
  }
}

// Guards what a damaged block of a large index does: found by the first
// search that reads it, in a new process or a warm one, it sends that lookup
// and the later ones to the text, until the text changes.
TEST_F(PrebuiltIndex, ADamagedBlockSendsTheLookupsToTheText) {
  std::string towns;
  for (int i = 0; i < 3000; ++i) {
    towns += "44" + std::to_string(2000000 + i * 3) + "|Town " + std::to_string(i) + "\n";
  }
  writeSettled(towns);
  ASSERT_EQ(writeAreaIndexBeside(text()), "");
  std::string bytes;
  {
    std::ifstream in(index(), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  AreaIndexHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  // The last town's name, in the last block: the first town's search never
  // reads it.
  bytes[header.areaTexts.offset + header.areaTexts.count - 1] ^= 1;
  writeBytes(index(), bytes);

  Reads reads{};
  EXPECT_EQ(freshLookUp("02000000", reads), "Town 0");
  EXPECT_EQ(reads.texts, 0u);
  const uint64_t texts = areaFilesRead();
  EXPECT_EQ(lookUp("02008997"), "Town 2999");
  EXPECT_EQ(lookUp("02000003"), "Town 1");
  EXPECT_EQ(areaFilesRead(), texts + 1);
  EXPECT_EQ(freshLookUp("02008997", reads), "Town 2999");
  EXPECT_EQ(reads.texts, 1u);

  // A changed text with a sound index is read through it again.
  writeSettled(towns + "442999999|Town last\n");
  ASSERT_EQ(writeAreaIndexBeside(text()), "");
  const uint64_t before = areaFilesRead();
  EXPECT_EQ(lookUp("02008997"), "Town 2999");
  EXPECT_EQ(areaFilesRead(), before);
}

// Guards the order of the files: a device file that is not UTF-8 falls back
// to the bundled copy, whose own index answers.
TEST_F(PrebuiltIndex, TheBundledCopysIndexAnswersWhenTheDeviceFileCannot) {
  writeCodes("44",
             "4420|Lon\xFF"
             "don\n");
  const std::string bundled = device.root() + "/app-resources/codes/44.txt";
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ASSERT_EQ(writeAreaIndexBeside(bundled), "");
  EXPECT_NE(writeAreaIndexBeside(text()), "");  // not UTF-8: no index
  Reads reads{};
  EXPECT_EQ(freshLookUp("020 7946", reads), "Bundled London");
  EXPECT_EQ(reads.texts, 1u);
  EXPECT_EQ(reads.indexes, 1u);
}

}  // namespace
