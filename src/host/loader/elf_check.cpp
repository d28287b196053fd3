#include "host/loader/elf_check.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::string check(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return "not a regular file";
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string("cannot open: ") + std::strerror(errno);
  std::string problem = check(fd);
  ::close(fd);
  return problem;
}

}  // namespace host
