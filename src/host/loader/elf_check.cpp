#include "host/loader/elf_check.h"

#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "host/loader/regular_file.h"

namespace host {
namespace {

// ElfW(...) names this machine's own ELF types (64-bit here).
using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

bool readAt(int fd, void* into, size_t size, off_t offset) {
  ssize_t got = ::pread(fd, into, size, offset);
  return got == static_cast<ssize_t>(size);
}

// Whether [offset, offset + size) lies within a file of `fileSize` bytes.
bool within(uint64_t offset, uint64_t size, uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

std::string check(int fd, uint64_t fileSize) {
  Header header;
  if (!readAt(fd, &header, sizeof header, 0)) return "not an ELF shared object (too short)";
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return "not an ELF shared object";
  if (header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)) {
    return "ELF object of another word size";
  }
  if (header.e_type != ET_DYN) return "not a shared object";
  if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0) {
    return "ELF object without usable program headers";
  }
  if (!within(header.e_phoff, uint64_t{header.e_phnum} * sizeof(ProgramHeader), fileSize)) {
    return "file is cut off (program headers missing)";
  }
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    ProgramHeader segment;
    if (!readAt(fd, &segment, sizeof segment,
                static_cast<off_t>(header.e_phoff + i * sizeof(ProgramHeader)))) {
      return "file is cut off (program headers missing)";
    }
    if ((segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) &&
        !within(segment.p_offset, segment.p_filesz, fileSize)) {
      return "file is cut off (a segment lies beyond its end)";
    }
  }
  return {};
}

}  // namespace

std::string elfProblem(const std::string& path) {
  RegularFile file = RegularFile::open(path);
  if (!file.isOpen()) return "the library " + file.problem();
  return check(file.fd(), file.size());
}

}  // namespace host
