// The reader of prebuilt index files, fed random and mutated index files: it
// must refuse or accept each without reading outside it, and an accepted one
// must answer only with texts that lie inside it. An index made from a text
// and left as it is must be accepted and answer as the index built in memory
// does. A difference or a fault aborts.
//
// Input, as lines:
//   the mode: "t" (the rest is a text, whose index is made and then changed
//     as line 3 says), "r" (the rest is an index file as it is) or "f" (the
//     same with its checksum set right, so that what lies behind it is tried);
//     for "t", a blank and the number of skipped units;
//   numbers to look up, separated by blanks;
//   changes to the made index: "OFFSET:BYTE" sets a byte (OFFSET taken modulo
//     the size), "cN" cuts the file to N bytes, "f" sets the checksum right;
//   the text or the index file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "lookup/area_index.h"
#include "lookup/area_index_file.h"
#include "lookup/area_index_layout.h"
#include "lookup/area_index_writer.h"

namespace {

void fixChecksum(AreaIndexBytes& words, size_t size) {
  if (size < sizeof(AreaIndexHeader) || size % 8 != 0) return;
  // Only a table that fits the file is filled in.
  AreaIndexHeader header;
  std::memcpy(&header, words.data(), sizeof header);
  if (uint64_t{header.blockChecksums.count} * kAreaIndexBlockBytes > size) return;
  const size_t head = areaIndexHeadBytes(size, header.blockChecksums.count);
  if (sizeof(AreaIndexHeader) + size_t{header.blockChecksums.count} * 8 > head ||
      areaIndexBlocksAfterHead(size, head) != header.blockChecksums.count) {
    return;
  }
  sealAreaIndex(words.data(), size);
}

// Applies the changes of line 3; whether there were any.
bool change(std::string_view changes, AreaIndexBytes& words, size_t& size) {
  bool changed = false;
  bool fix = false;
  std::istringstream in{std::string(changes)};
  for (std::string item; in >> item;) {
    if (item == "f") {
      fix = true;
    } else if (item[0] == 'c') {
      size = std::min<size_t>(size, std::strtoull(item.c_str() + 1, nullptr, 10));
      changed = true;
    } else if (const size_t colon = item.find(':'); colon != std::string::npos && size > 0) {
      const size_t offset = std::strtoull(item.c_str(), nullptr, 10) % size;
      reinterpret_cast<unsigned char*>(words.data())[offset] =
          static_cast<unsigned char>(std::strtoul(item.c_str() + colon + 1, nullptr, 10));
      changed = true;
    }
  }
  if (fix) fixChecksum(words, size);
  return changed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(bytes), size);
  const std::string_view mode = fuzz_input::nextLine(rest);
  std::vector<std::u16string> numbers;
  {
    std::istringstream in{std::string(fuzz_input::nextLine(rest))};
    for (std::string number; in >> number && numbers.size() < 8;) {
      numbers.push_back(fuzz_input::unitsOf(number));
    }
  }
  const std::string_view changes = fuzz_input::nextLine(rest);

  AreaIndexBytes words;
  size_t fileSize = 0;
  AreaIndex built;
  bool pristine = false;
  if (mode.starts_with("t")) {
    const size_t skipped = mode.size() > 2 ? static_cast<size_t>(mode[2] - '0') % 5 : 2;
    if (!buildAreaIndex(rest, skipped, built)) return 0;
    words = encodeAreaIndex(built, {});
    fileSize = words.size() * 8;
    pristine = !change(changes, words, fileSize);
  } else {
    words.assign((rest.size() + 7) / 8, 0);
    if (!rest.empty()) std::memcpy(words.data(), rest.data(), rest.size());
    fileSize = rest.size();
    if (mode == "f") fixChecksum(words, fileSize);
  }

  FlatAreaIndex index;
  AreaIndexStamp stamp;
  const bool opened = openAreaIndexBytes(words.data(), fileSize, index, stamp);
  if (pristine && !opened) std::abort();
  const char* begin = reinterpret_cast<const char*>(words.data());
  for (const std::u16string& number : numbers) {
    if (!opened) break;
    const std::optional<std::string_view> found = findInAreaIndex(index, number);
    if (found && (found->data() < begin || found->data() + found->size() > begin + fileSize)) {
      std::abort();
    }
    if (pristine && found != findInAreaIndex(built, number)) std::abort();
  }

  // The same bytes as a file read block by block, as lookups read it: a
  // search may fail where the whole file would not open, but one that does
  // not fail answers from inside the file, and as the whole file does. The
  // file stays open meanwhile, as each search opens it again by its name.
  struct Memory {
    int fd = ::memfd_create("index", MFD_CLOEXEC);
    ~Memory() {
      if (fd >= 0) ::close(fd);
    }
  } memory;
  const int file = memory.fd;
  if (file < 0) return 0;
  const bool written =
      fileSize == 0 || ::write(file, words.data(), fileSize) == static_cast<ssize_t>(fileSize);
  PrebuiltAreaIndex lazy;
  AreaIndexStamp lazyStamp;
  const bool lazyOpened = written && openAreaIndexFile("/proc/self/fd/" + std::to_string(file),
                                                       size_t{1} << 24, lazy, lazyStamp);
  if (opened && !lazyOpened) std::abort();
  if (!lazyOpened) return 0;
  const char* lazyBegin = reinterpret_cast<const char*>(lazy.pages->bytes());
  for (const std::u16string& number : numbers) {
    bool failed = false;
    const std::optional<std::string_view> found =
        findInPrebuiltAreaIndex(lazy, number, nullptr, failed);
    if (found && (failed || found->data() < lazyBegin ||
                  found->data() + found->size() > lazyBegin + fileSize)) {
      std::abort();
    }
    if (opened && (failed || found != findInAreaIndex(index, number))) std::abort();
  }
  return 0;
}
