// The embedded archive on POSIX: a zip appended to the running executable (OwnProgramFile),
// followed by the trailer of embedded.h. The zip's bytes are mapped read-only on first use and
// stay mapped for the life of the process, as a Windows resource does; the executable stays
// open beside them, so stored entries are sent from it without paging the mapping in.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "amzip/embedded.h"
#include "amzip/resource.h"
#include "text/own_program_posix.h"

namespace amzip {

namespace {

struct EmbeddedMapping {
  char type[8] = {};
  std::uint32_t id = 0;
  const void* data = nullptr;
  std::uint64_t size = 0;
  int file = -1;           // the executable, open while `data` is mapped
  std::uint64_t start = 0;  // the zip's offset in it
};

// Reads the trailer of the running executable and maps the zip in front of it. An empty
// mapping when there is no trailer, it is malformed, or the mapping fails.
EmbeddedMapping MapEmbeddedArchive() {
  EmbeddedMapping mapping;
  const std::string self = OwnProgramFile();
  const int fd = self.empty() ? -1 : open(self.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return mapping;
  struct stat info;
  unsigned char bytes[sizeof(EmbeddedTrailer)];
  EmbeddedTrailer trailer;
  if (fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof bytes) &&
      pread(fd, bytes, sizeof bytes, info.st_size - static_cast<off_t>(sizeof bytes)) ==
          static_cast<ssize_t>(sizeof bytes) &&
      ReadEmbeddedTrailer(bytes, static_cast<std::uint64_t>(info.st_size), &trailer) && trailer.length != 0) {
    const std::uint64_t start = static_cast<std::uint64_t>(info.st_size) - sizeof bytes - trailer.length;
    const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t mapStart = start - start % page;
    const std::uint64_t mapLength = trailer.length + (start - mapStart);
    void* base = mmap(nullptr, static_cast<std::size_t>(mapLength), PROT_READ, MAP_PRIVATE, fd,
                      static_cast<off_t>(mapStart));
    if (base != MAP_FAILED) {
      std::memcpy(mapping.type, trailer.type, sizeof mapping.type);
      mapping.id = trailer.id;
      mapping.data = static_cast<const unsigned char*>(base) + (start - mapStart);
      mapping.size = trailer.length;
      mapping.file = fd;
      mapping.start = start;
      return mapping;
    }
  }
  close(fd);
  return mapping;
}

// The trailer's zero-padded type name against a wide type name of ASCII characters.
bool SameType(const char (&stored)[8], const wchar_t* type) {
  std::size_t i = 0;
  for (; type[i] != L'\0'; ++i) {
    if (i == sizeof stored || static_cast<unsigned char>(stored[i]) != static_cast<std::uint32_t>(type[i])) return false;
  }
  for (; i < sizeof stored; ++i) {
    if (stored[i] != '\0') return false;
  }
  return true;
}

const EmbeddedMapping& Mapping() {
  static const EmbeddedMapping mapping = MapEmbeddedArchive();
  return mapping;
}

}  // namespace

bool EmbeddedArchiveFile(std::intptr_t* file, std::uint64_t* offset) {
  const EmbeddedMapping& mapping = Mapping();
  if (mapping.file < 0) return false;
  *file = mapping.file;
  *offset = mapping.start;
  return true;
}

bool FindEmbeddedArchive(const wchar_t* type, const wchar_t* name, const void** data, std::uint64_t* size) {
  const EmbeddedMapping& mapping = Mapping();
  // The trailer names its type as a string and its resource by number.
  if (mapping.data == nullptr || type == nullptr || IsResourceId(type) || !IsResourceId(name)) return false;
  if (!SameType(mapping.type, type) || mapping.id != reinterpret_cast<std::uintptr_t>(name)) return false;
  *data = mapping.data;
  *size = mapping.size;
  return true;
}

}  // namespace amzip
